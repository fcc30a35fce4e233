#pragma once
// Output that never holds a unit back: the screen, the log and the event stream are each
// written by a thread of their own, and the units only queue text. A terminal paused with
// Ctrl-S, a pipe nobody reads or a slow share for the log then delays the output, never
// an update. While the output waits, progress is merged (the newest replaces one still
// waiting), and everything else is kept, in order, and written in the end.
//
// Threading rule: any thread may queue; only the writer's thread touches the streams it
// is given, from the first chunk queued for a stream until Drain says it is written.
// Output that fails (a closed pipe) is given up for that stream alone.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace cvm6 {

class COutputWriter {
 public:
  COutputWriter();
  // Writes everything still queued, then ends its thread.
  ~COutputWriter();
  COutputWriter(const COutputWriter&) = delete;
  COutputWriter& operator=(const COutputWriter&) = delete;

  // Kept: written whole, in the order queued.
  void Write(std::FILE* stream, std::string text);
  // Merged: when the last chunk still waiting for `stream` in `scope` (a unit, or the
  // whole screen) is progress too, its `text` is replaced by this one and its `head`
  // stays (what it erases of the screen was drawn before it). Otherwise queued like Write.
  void Progress(std::FILE* stream, int scope, std::string head, std::string text);
  // Waits until everything queued so far is written, for at most `timeout` (negative:
  // without limit). True when it was.
  bool Drain(std::chrono::milliseconds timeout = std::chrono::milliseconds(-1));

  // Progress chunks merged into one still waiting, since the start.
  std::uint64_t Merged() const;

 private:
  struct Chunk {
    std::FILE* stream;
    int scope;
    bool progress;
    std::string head, text;
  };
  void Run();

  mutable std::mutex m_lock;
  std::condition_variable m_queued, m_written;
  std::deque<Chunk> m_chunks;
  std::uint64_t m_taken = 0, m_done = 0, m_merged = 0;  // chunks queued, written (or given up)
  bool m_stop = false;
  std::thread m_thread;
};

}  // namespace cvm6
