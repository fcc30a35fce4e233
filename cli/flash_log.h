#pragma once
// The --log transcript for a support case: appended, one time-stamped line per event
// (milliseconds, local time), each written out as it happens, so that a run that crashes
// or is killed leaves everything up to that moment. Units on several threads write to
// it at once; a lock of its own keeps their lines whole.
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace cvm6 {

class CFlashLog {
 public:
  // Opens `path` for appending. Null, with the system's reason in `error`, when it cannot.
  static std::unique_ptr<CFlashLog> Open(const std::string& path, std::string& error);
  ~CFlashLog();
  CFlashLog(const CFlashLog&) = delete;
  CFlashLog& operator=(const CFlashLog&) = delete;

  // One line per line of `text` (empty lines left out), each "2025-03-01 14:02:07.123 "
  // then "[port] " when `port` is given.
  void Write(const std::string& port, const std::string& text);
  void Write(const std::string& text) { Write(std::string(), text); }
  // The last lines before the program ends at once (a second Ctrl-C), from a thread that
  // must not hang on a unit stuck in the middle of a write: it waits for the log's lock
  // at most half a second, and writes nothing without it. The file is closed.
  void WriteLast(const std::string& text);

 private:
  explicit CFlashLog(std::FILE* file) : m_file(file) {}
  std::string Lines(const std::string& port, const std::string& text) const;

  std::mutex m_lock;
  std::FILE* m_file;
};

}  // namespace cvm6
