#include <gtest/gtest.h>

#include <thread>

#include "platform/failure.h"
#include "platform/tick_count.h"

namespace cvm6 {
namespace {

TEST(TickCount, AdvancesWithTime) {
  const std::uint32_t before = TimeGetTime();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GE(TimeGetTime() - before, 20u);
}

TEST(TickCount, DeadlineComparisonSurvivesTheWrap) {
  const std::uint32_t now = 0xFFFFFF00u;
  const std::uint32_t deadline = now + 5000;  // wraps past zero
  EXPECT_TRUE(TickBefore(now, deadline));
  EXPECT_TRUE(TickBefore(0x00000100u, deadline));
  EXPECT_FALSE(TickBefore(deadline, deadline));
  EXPECT_FALSE(TickBefore(deadline + 1, deadline));
}

TEST(Failure, CarriesItsCodeAndSaysWhatItMeans) {
  try {
    ThrowCode(1303);
    FAIL();
  } catch (const CFailure& failure) {
    EXPECT_EQ(failure.code(), 1303);
    EXPECT_STREQ(failure.what(), "1303: the device announced itself incorrectly");
  }
}

}  // namespace
}  // namespace cvm6
