#pragma once
#include <cstdint>

namespace cvm6 {

// Milliseconds on the monotonic clock since the first call in this process, wrapping
// at 2^32 like the tick counter the update procedure's deadlines were designed around.
// Never jumps with wall-clock changes.
std::uint32_t TimeGetTime();

// True while `now` lies before `deadline`; stays right across the 2^32 wrap as long as
// the two are less than 24 days apart (every limit of the system is below 2 minutes).
inline bool TickBefore(std::uint32_t now, std::uint32_t deadline) {
  return static_cast<std::int32_t>(now - deadline) < 0;
}

}  // namespace cvm6
