#include "support/time_scale.h"

#include <cstdlib>

namespace cvm6::test {
int TimeScale() {
  const char* text = std::getenv("CVM6_TIME_SCALE");
  const int scale = text ? std::atoi(text) : 1;
  return scale > 0 ? scale : 1;
}
}  // namespace cvm6::test
