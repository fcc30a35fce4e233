#pragma once
// The --events stream: one JSON object per line on standard output as the run goes, for
// a line station's own software (docs/events.md; schema docs/events.schema.json). Every
// line carries "schema", "event", "time" (UTC, to the millisecond) and "port" (null for
// the run's own events). Lines go out through a writer of the stream's own, so a station
// that is slow to read holds back no unit; progress waiting meanwhile is merged.
//
// Threading rule: any thread; each unit calls in with its own index and port.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "output_writer.h"

namespace cvm6 {

struct ImageFacts;
struct UnitOutcome;

inline constexpr int kEventSchemaVersion = 1;

// "2026-12-09T03:41:07.123Z": now, or the moment given.
std::string UtcTimeText(std::chrono::system_clock::time_point at = std::chrono::system_clock::now());

class CEventStream {
 public:
  // Each unit's progress is throttled on its own; units are numbered from 0 as the run
  // finds them (--each-port finds them after the stream has begun).
  explicit CEventStream(std::FILE* out);

  // The image is null when the run ended before one was loaded.
  void RunStarted(const ImageFacts* image);
  void UnitFound(std::size_t unit, const std::string& port, std::uint8_t address);
  void UnitIdentified(std::size_t unit, const std::string& port, std::uint8_t type, float firmwareVersion,
                      std::uint8_t address);
  void EraseBegun(std::size_t unit, const std::string& port);
  // Sent at most every 1 % or 500 ms of each unit's pass, and always at its end.
  void Progress(std::size_t unit, const std::string& port, std::uint32_t blocks, std::uint32_t totalBlocks,
                std::uint32_t bytes, std::uint32_t totalBytes);
  // `blocks`: acknowledged when it went down. At link-back, `where`: "at block 12",
  // "while the unit erased"; `ms`: how long it was down.
  void LinkLost(std::size_t unit, const std::string& port, std::uint32_t blocks);
  void LinkBack(std::size_t unit, const std::string& port, const std::string& where, std::uint32_t ms);
  void UnitDone(std::size_t unit, const UnitOutcome& outcome);
  // The last line: written, with everything before it, before this returns (at most
  // `timeout` when one is given: the last words of a second Ctrl-C must not hang).
  void RunEnded(int exitStatus, std::chrono::milliseconds timeout = std::chrono::milliseconds(-1));

 private:
  struct Pace {
    std::chrono::steady_clock::time_point at{};
    std::uint32_t permille = 0;  // of the last progress sent, in tenths of a percent
    bool sent = false;
  };
  // Under m_lock: one whole line, stamped now. `fields` is the event's own members as a
  // JSON object's text.
  void Send(const char* event, const std::string* port, const std::string& fields, int scope, bool progress);

  std::FILE* m_out;
  std::mutex m_lock;  // the paces, and one order of time stamps and lines
  std::vector<Pace> m_paces;
  bool m_started = false, m_ended = false;
  COutputWriter m_writer;
};

}  // namespace cvm6
