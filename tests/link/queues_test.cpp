#include <gtest/gtest.h>

#include <thread>

#include "link/frame_queues.h"

namespace cvm6 {
namespace {

FramePtr Numbered(std::uint16_t n) {
  FramePtr frame = MakeNotice(n);  // any two-byte frame will do
  return frame;
}

std::uint16_t NumberOf(const Frame& frame) { return static_cast<std::uint16_t>(frame.payload[0] | frame.payload[1] << 8); }

TEST(FrameQueues, EmptyTakeGivesNullAndLeavesTheQueueEmpty) {
  CFrameQueues queues;
  EXPECT_EQ(queues.TakeReceived(), nullptr);
  EXPECT_EQ(queues.TakeTransmit(), nullptr);
  queues.AppendReceived(Numbered(1));
  EXPECT_EQ(NumberOf(*queues.TakeReceived()), 1);
  EXPECT_EQ(queues.TakeReceived(), nullptr);
}

TEST(FrameQueues, FramesLeaveInTheOrderTheyEnteredAndTheQueuesAreSeparate) {
  CFrameQueues queues;
  for (std::uint16_t n = 1; n <= 3; ++n) queues.AppendReceived(Numbered(n));
  queues.AppendTransmit(Numbered(100));
  for (std::uint16_t n = 1; n <= 3; ++n) EXPECT_EQ(NumberOf(*queues.TakeReceived()), n);
  EXPECT_EQ(NumberOf(*queues.TakeTransmit()), 100);
  EXPECT_EQ(queues.TakeTransmit(), nullptr);
}

// Run under the asan preset, a frame left behind shows up as a leak.
TEST(FrameQueues, DestructionFreesQueuedFrames) {
  CFrameQueues queues;
  for (std::uint16_t n = 0; n < 10; ++n) {
    queues.AppendReceived(Numbered(n));
    queues.AppendTransmit(Numbered(n));
  }
}

TEST(FrameQueues, TwoProducersAndOneConsumerLoseNothingAndKeepEachProducersOrder) {
  CFrameQueues queues;
  constexpr std::uint16_t kEach = 5000;
  auto produce = [&](std::uint16_t base) {
    for (std::uint16_t i = 0; i < kEach; ++i) queues.AppendReceived(Numbered(static_cast<std::uint16_t>(base + i)));
  };
  std::thread a(produce, 0), b(produce, 10000);
  int lastA = -1, lastB = -1, taken = 0;
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (taken < 2 * kEach && std::chrono::steady_clock::now() < giveUp) {
    FramePtr frame = queues.TakeReceived();
    if (!frame) continue;
    const int n = NumberOf(*frame);
    int& last = n >= 10000 ? lastB : lastA;
    ASSERT_GT(n, last);
    last = n;
    ++taken;
  }
  a.join();
  b.join();
  EXPECT_EQ(taken, 2 * kEach);
}

}  // namespace
}  // namespace cvm6
