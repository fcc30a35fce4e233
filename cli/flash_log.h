#pragma once
// The --log transcript for a support case: appended, one time-stamped line per event
// (milliseconds, local time, the moment it happened), each written out as soon as the
// disk takes it, so that a run that crashes or is killed leaves everything up to that
// moment. Units on several threads write to it at once; a lock of its own keeps their
// lines whole and in order, and a writer of its own (output_writer.h) does the writing,
// so that a slow share holds back no unit.
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "output_writer.h"

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
  // must not hang on a disk that does not take them: they are queued after the others,
  // and it waits at most half a second for them all to be written. They stay the last:
  // whatever a unit thread writes after them is dropped.
  void WriteLast(const std::string& text);

 private:
  explicit CFlashLog(std::FILE* file);
  std::string Lines(const std::string& port, const std::string& text) const;

  std::mutex m_lock;
  std::FILE* m_file;
  bool m_sealed = false;  // the last lines are queued
  std::unique_ptr<COutputWriter> m_writer;  // ends (everything written) before the file closes
};

}  // namespace cvm6
