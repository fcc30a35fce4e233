#include "flash_log.h"

#include <thread>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

namespace cvm6 {

std::unique_ptr<CFlashLog> CFlashLog::Open(const std::string& path, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (!file) {
    error = std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<CFlashLog>(new CFlashLog(file));
}

CFlashLog::CFlashLog(std::FILE* file) : m_file(file), m_writer(std::make_unique<COutputWriter>()) {}

CFlashLog::~CFlashLog() {
  m_writer.reset();
  std::fclose(m_file);
}

// Under the log's lock (or past it, for the last lines): localtime's buffer is shared.
std::string CFlashLog::Lines(const std::string& port, const std::string& text) const {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  char stamp[40] = "";
  if (const std::tm* local = std::localtime(&seconds)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", local);
  const std::string prefix =
      std::string(stamp) + "." + std::to_string(1000 + ms).substr(1) + " " + (port.empty() ? "" : "[" + port + "] ");
  std::string lines;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    if (end > begin) lines += prefix + text.substr(begin, end - begin) + "\n";
    begin = end + 1;
  }
  return lines;
}

void CFlashLog::Write(const std::string& port, const std::string& text) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_sealed) return;  // after the last lines: a unit still ending says nothing more
  m_writer->Write(m_file, Lines(port, text));
}

void CFlashLog::WriteLast(const std::string& text) {
  // The lock is held only while a line is stamped and queued, never across a write: a
  // plain mutex tried in turns (the thread sanitizer misreads a timed lock taken on the
  // way out of the process).
  std::unique_lock<std::mutex> guard(m_lock, std::defer_lock);
  const auto giveUpAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  while (!guard.try_lock() && std::chrono::steady_clock::now() < giveUpAt)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (!guard.owns_lock()) return;
  m_sealed = true;
  m_writer->Write(m_file, Lines(std::string(), text));
  guard.unlock();
  m_writer->Drain(std::chrono::milliseconds(500));
}

}  // namespace cvm6
