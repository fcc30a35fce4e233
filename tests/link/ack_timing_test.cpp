// Round trip less the line time of frame and 0xA5 (259 bytes: 45.139 ms, 14: 2.604 ms).
#include <gtest/gtest.h>

#include "link/ack_timing.h"

namespace cvm6 {
namespace {

TEST(AckTiming, MedianTotalAndSlownessOfTheTimeBeyondTheLine) {
  const struct {
    const char* name;
    std::vector<std::int64_t> roundTripsUs;
    double medianMs, totalMs;
    bool slow;
    std::size_t frameBytes = 14;
    std::uint32_t baud = 57600;
  } rows[] = {{"no samples", {}, 0.0, 0.0, false},
              {"a 16 ms timer on a long block", {61139, 45139}, 8.0, 16.0, true, 259},
              {"an ack read before the writer noted its time", {-300, 1000, 3104}, 0.0, 0.5, false},
              {"odd count: the middle one", {18604, 3604, 17604}, 15.0, 32.0, true},
              {"even count: the mean of the middle two; 4 ms is not slow", {3604, 9604, 42604, 2604}, 4.0, 48.0, false},
              {"at 9600 baud", {105208 + 4010}, 4.01, 4.01, true, 100, 9600}};
  for (const auto& row : rows) {
    CAckTiming timing;
    for (const std::int64_t us : row.roundTripsUs) timing.Add(us, row.frameBytes, row.baud);
    EXPECT_EQ(timing.Count(), row.roundTripsUs.size()) << row.name;
    EXPECT_NEAR(timing.MedianExtraMs(), row.medianMs, 0.002) << row.name;
    EXPECT_NEAR(timing.TotalExtraMs(), row.totalMs, 0.004) << row.name;
    EXPECT_EQ(timing.Slow(), row.slow) << row.name;
  }
}

}  // namespace
}  // namespace cvm6
