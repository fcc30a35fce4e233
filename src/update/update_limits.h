#pragma once
#include <cstdint>

namespace cvm6 {

// The update procedure's time limits. The programs always use the defaults; tests pass
// shorter ones when they wait for a limit to run out.
struct UpdateLimits {
  std::uint32_t deviceMs = 5000;     // device to appear; device data reply
  std::uint32_t startEndMs = 60000;  // start (erase) reply; end reply
  std::uint32_t writeMs = 100000;    // each write acknowledgement
};

}  // namespace cvm6
