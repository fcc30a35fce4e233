// The extra time of acknowledgements: round trip less the line time of the frame and its
// 0xA5, never below 0; the median of an odd and of an even count; the total.
#include <gtest/gtest.h>

#include <vector>

#include "link/ack_timing.h"

namespace cvm6 {
namespace {

struct Sample {
  std::int64_t roundTripUs;
  std::size_t frameBytes;
  std::uint32_t baud;
};

struct TimingCase {
  const char* name;
  std::vector<Sample> samples;
  double medianMs;
  double totalMs;
};

// At 57600 baud a byte takes 173.6 us: a 259-byte frame and its 0xA5 take 45.139 ms, a
// 14-byte frame and its 0xA5 2.604 ms.
const TimingCase kCases[] = {
    {"NoSamples", {}, 0.0, 0.0},
    {"AnsweredAsSoonAsTheLineAllows", {{45139, 259, 57600}}, 0.0, 0.0},
    {"ALatencyTimerOf16msOnALongBlock", {{61139, 259, 57600}}, 16.0, 16.0},
    {"AnAnswerReadBeforeTheWriterNotedItsTimeIsNoExtra",
     {{-300, 14, 57600}, {1000, 14, 57600}, {2604 + 500, 14, 57600}}, 0.0, 0.5},
    {"OddCountTakesTheMiddleOne",
     {{2604 + 16000, 14, 57600}, {2604 + 1000, 14, 57600}, {2604 + 15000, 14, 57600}}, 15.0, 32.0},
    {"EvenCountTakesTheMeanOfTheTwoMiddleOnes",
     {{2604 + 1000, 14, 57600}, {2604 + 3000, 14, 57600}, {2604 + 40000, 14, 57600}, {2604 + 2000, 14, 57600}}, 2.5,
     46.0},
    {"ALineWithoutARateTakesNoTime", {{7000, 259, 0}}, 7.0, 7.0},
    {"At9600Baud100BytesAndTheAckTake105ms", {{105208 + 4000, 100, 9600}}, 4.0, 4.0},
};

class AckTimingTest : public ::testing::TestWithParam<TimingCase> {};

TEST_P(AckTimingTest, MedianAndTotalOfTheTimeBeyondTheLine) {
  const TimingCase& row = GetParam();
  CAckTiming timing;
  for (const Sample& sample : row.samples) timing.Add(sample.roundTripUs, sample.frameBytes, sample.baud);
  EXPECT_EQ(timing.Count(), row.samples.size());
  EXPECT_NEAR(timing.MedianExtraMs(), row.medianMs, 0.002);
  EXPECT_NEAR(timing.TotalExtraMs(), row.totalMs, 0.004);
}

INSTANTIATE_TEST_SUITE_P(Samples, AckTimingTest, ::testing::ValuesIn(kCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(AckTiming, SlowOnlyAboveFourMilliseconds) {
  // The threshold is what the technician is told about: it may not drift unseen.
  EXPECT_EQ(CAckTiming::kSlowAdapterMs, 4.0);
  CAckTiming atThreshold, above;
  atThreshold.Add(2604 + 4000, 14, 57600);
  above.Add(2604 + 4010, 14, 57600);
  EXPECT_FALSE(atThreshold.Slow());
  EXPECT_TRUE(above.Slow());
  EXPECT_FALSE(CAckTiming{}.Slow());
}

}  // namespace
}  // namespace cvm6
