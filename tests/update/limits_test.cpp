// The system's own time limits, pinned in one place: every other test runs with shortened
// limits, so a changed default could otherwise pass unseen.
#include <gtest/gtest.h>

#include "link/link.h"
#include "update/update_limits.h"

namespace cvm6::test {
namespace {

TEST(Limits, TheProgramsRunWithTheUnitsOwnTimeLimits) {
  const UpdateLimits update;
  const LinkLimits link;
  const struct {
    const char* name;
    std::uint32_t value, expected;
  } rows[] = {
      {"device to appear, device data reply", update.deviceMs, 5000},
      {"start (erase) and end replies", update.startEndMs, 60000},
      {"each write acknowledgement", update.writeMs, 100000},
      {"device data asked again after", update.deviceDataRetryMs, 1000},
      {"grace time of a dropped link", update.rideThroughMs, 10000},
      {"a start or end request made again after a ride-through, when no reply came for", update.replyAgainMs, 3000},
      {"unit's link taken down when it has not announced itself after", update.announceMs, 1000},
      {"wake burst interval", link.wakeIntervalMs, 100},
      {"keep-alive after quiet", link.keepAliveMs, 1000},
      {"receiver read limit", link.readTimeoutMs, 8000},
      {"receiver gives up a frame after a gap of", link.frameGapMs, 500},
  };
  for (const auto& row : rows) EXPECT_EQ(row.value, row.expected) << row.name;
}

}  // namespace
}  // namespace cvm6::test
