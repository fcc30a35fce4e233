#include "platform/tick_count.h"

#include <chrono>

namespace cvm6 {

std::uint32_t TimeGetTime() {
  using namespace std::chrono;
  static const steady_clock::time_point origin = steady_clock::now();
  return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now() - origin).count());
}

}  // namespace cvm6
