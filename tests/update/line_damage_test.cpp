// The estimate cvm6-flash gives of a damaged frame stored unnoticed, from its counts.
#include <gtest/gtest.h>

#include "update/line_damage.h"

namespace cvm6::test {
namespace {

TEST(LineDamage, TheChanceOfAnUnnoticedFrameGrowsWithTheShareOfRefusedFrames) {
  const struct {
    std::uint32_t refused, sent;
    double chance, within;
  } rows[] = {
      {0, 2985, 0.0, 0.0},     // a clean line
      {1, 3000, 1.3e-6, 1e-7},  // one frame in 3000: two damaged bits in one frame are rare
      {200, 2985, 0.051, 0.001},  // one in fifteen, as a full image at 3e-4 flips per byte
      {750, 3000, 0.52, 0.01},
      {3000, 3000, 1.0, 0.0},  // nothing got through whole
  };
  for (const auto& row : rows)
    EXPECT_NEAR(UnnoticedDamageChance({row.refused, 0, row.sent}), row.chance, row.within) << row.refused;
}

}  // namespace
}  // namespace cvm6::test
