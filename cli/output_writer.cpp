#include "output_writer.h"

#include <utility>

namespace cvm6 {

COutputWriter::COutputWriter() : m_thread([this] { Run(); }) {}

COutputWriter::~COutputWriter() {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stop = true;
  }
  m_queued.notify_one();
  m_thread.join();
}

void COutputWriter::Write(std::FILE* stream, std::string text) {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_chunks.push_back({stream, 0, false, {}, std::move(text)});
    ++m_taken;
  }
  m_queued.notify_one();
}

void COutputWriter::Progress(std::FILE* stream, int scope, std::string head, std::string text) {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    // Only the last waiting chunk of the same stream and scope may take it: anything
    // kept after an older progress chunk must still come after that progress.
    for (auto it = m_chunks.rbegin(); it != m_chunks.rend(); ++it) {
      if (it->stream != stream || it->scope != scope) continue;
      if (!it->progress) break;
      it->text = std::move(text);
      ++m_merged;
      return;
    }
    m_chunks.push_back({stream, scope, true, std::move(head), std::move(text)});
    ++m_taken;
  }
  m_queued.notify_one();
}

bool COutputWriter::Drain(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> guard(m_lock);
  const std::uint64_t target = m_taken;
  const auto written = [&] { return m_done >= target; };
  if (timeout.count() < 0) {
    m_written.wait(guard, written);
    return true;
  }
  return m_written.wait_for(guard, timeout, written);
}

std::uint64_t COutputWriter::Merged() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_merged;
}

void COutputWriter::Run() {
  std::unique_lock<std::mutex> guard(m_lock);
  for (;;) {
    m_queued.wait(guard, [this] { return m_stop || !m_chunks.empty(); });
    if (m_chunks.empty()) return;  // stopped with everything written
    Chunk chunk = std::move(m_chunks.front());
    m_chunks.pop_front();
    guard.unlock();
    // Outside the lock: this is the write that may wait for a paused terminal.
    if (!std::ferror(chunk.stream)) {
      const std::string text = chunk.head + chunk.text;
      std::fwrite(text.data(), 1, text.size(), chunk.stream);
      std::fflush(chunk.stream);
    }
    guard.lock();
    ++m_done;
    m_written.notify_all();
  }
}

}  // namespace cvm6
