#pragma once
// What one unit's run came to: the row of the summary table, the unit's part of the
// --json result and of the log's last lines.
#include <cstdint>
#include <optional>
#include <string>

namespace cvm6 {

struct UnitOutcome {
  std::string port;
  std::optional<std::uint8_t> deviceType;  // from the device data reply
  std::string deviceName;                  // "Corvane M6", or "" when not one
  std::optional<float> firmwareVersion;
  std::string result;  // ResultName, "interrupted", or "flash differs" (--simulate)
  int exitStatus = 0;
  std::string message;  // the last thing the unit's run said: "Update Complete", a failure
  double seconds = 0;
  std::uint32_t blocksWritten = 0;
  std::uint32_t rideThroughs = 0;
  bool eraseBegun = false;  // the erase request went out: the flash is not as it was
  std::uint32_t framesDamagedToUnit = 0;    // frames the unit refused as damaged
  std::uint32_t framesDamagedFromUnit = 0;  // frames from the unit we found damaged
  // The download's acknowledgements whose round trip was timed, and the time they took
  // beyond the line's own (CAckTiming), in ms; what to do when they were slow, else "".
  std::uint32_t acksTimed = 0;
  double ackExtraMsMedian = 0, ackExtraMsTotal = 0;
  std::string latencyAdvice;
};

}  // namespace cvm6
