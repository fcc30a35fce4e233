// Each switch of the fault plan against an updater played in raw bytes: the fault
// shows, and everything else about the download stays as it was.
#include <chrono>
#include <thread>

#include "sim_fixture.h"
#include "platform/failure.h"
#include "support/time_scale.h"

namespace cvm6::test {
namespace {

class FaultTest : public SimulatorTest {
 protected:
  void StartWith(const FaultPlan& faults) {
    auto config = FastConfig();
    config.faults = faults;
    Start(config);
  }
  // Frames the updater got (control bytes left out), for "nothing else changed" checks.
  static Bytes Payload(const std::optional<WireUnit>& unit) { return unit ? unit->payload : Bytes{}; }
};

TEST_F(FaultTest, WrongSequenceAtOneBlockOnly) {
  FaultPlan faults;
  faults.wrongSequenceAtBlock = 2;
  StartWith(faults);
  ASSERT_TRUE(updater->WakeUp());
  const auto replies = Download(SmallImage());
  ASSERT_EQ(replies.size(), 6u);
  EXPECT_EQ(replies[2].payload, Le16(0x24, {1, 0}));
  EXPECT_EQ(replies[3].payload, Le16(0x24, {3, 0}));  // block 2 echoed as 3
  EXPECT_EQ(replies[4].payload, Le16(0x24, {3, 0}));
  EXPECT_EQ(replies[5].payload, Le16(0x18, {0, 0, 4, 0, 0}));
}

TEST_F(FaultTest, WrongTargetInStartAndEndRepliesOnly) {
  FaultPlan faults;
  faults.wrongTarget = true;
  StartWith(faults);
  ASSERT_TRUE(updater->WakeUp());
  const auto replies = Download({{0x100, {1}}});
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies[0].payload, Le16(0x16, {1}));
  EXPECT_EQ(replies[1].payload, Le16(0x24, {0, 0}));
  EXPECT_EQ(replies[2].payload, Le16(0x18, {0, 0, 1, 0, 1}));
}

TEST_F(FaultTest, BlockCountOffBy) {
  FaultPlan faults;
  faults.blockCountOffset = -1;
  StartWith(faults);
  ASSERT_TRUE(updater->WakeUp());
  const auto replies = Download(SmallImage());
  ASSERT_EQ(replies.size(), 6u);
  EXPECT_EQ(replies.back().payload, Le16(0x18, {0, 0, 3, 0, 0}));
  EXPECT_EQ(sim->Summary().counts.blocks, 4u);  // it did take all four
}

TEST_F(FaultTest, RepliesFromAnotherAddressButAnnouncesFromItsOwn) {
  FaultPlan faults;
  faults.replyFrom = 6;
  StartWith(faults);
  ASSERT_TRUE(updater->WakeUp());
  EXPECT_EQ(updater->announcement.src, 1);
  const auto replies = Download({{0x100, {1, 2}}});
  ASSERT_EQ(replies.size(), 3u);
  for (const auto& reply : replies) {
    EXPECT_EQ(reply.src, 6);
    EXPECT_EQ(reply.dest, 0);
    EXPECT_TRUE(reply.crcGood);
  }
  EXPECT_EQ(replies[1].payload, Le16(0x24, {0, 0}));
}

TEST_F(FaultTest, NeverAnnouncesButStillAnswers) {
  FaultPlan faults;
  faults.noAnnounce = true;
  StartWith(faults);
  updater->Send({0xFF});
  auto sync = updater->Next(2000, false);
  ASSERT_TRUE(sync && sync->control);
  EXPECT_EQ(sync->byte, 0xF0);
  EXPECT_FALSE(updater->Next(500));
  EXPECT_TRUE(updater->Request(DeviceDataRequest()));
}

TEST_F(FaultTest, SilentAfterBlockTakesItThenSendsNothingAndKeepsReading) {
  FaultPlan faults;
  faults.silentAfterBlock = 1;
  StartWith(faults);
  ASSERT_TRUE(updater->WakeUp());
  ASSERT_TRUE(updater->Request(StartRequest(0)));
  ASSERT_TRUE(updater->Request(WriteRequest(0, 0x100, {1})));
  updater->Send(updater->NextFrame(WriteRequest(1, 0x200, {2, 3})));
  // Its link may have acknowledged block 1 before the power went; after that, nothing:
  // not a reply and not even a keep-alive, although its link would send one each second.
  std::this_thread::sleep_for(std::chrono::milliseconds(Scaled(200)));
  updater->Drain(100);
  EXPECT_TRUE(updater->Drain(1500).empty());
  // The updater's writes never back up.
  const Bytes filler(64 * 1024, 0x8C);
  const auto before = std::chrono::steady_clock::now();
  updater->Send(filler);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(Scaled(1500)));
  EXPECT_EQ(sim->Summary().counts.blocks, 2u);
  EXPECT_GT(sim->Summary().line.silencedBytes, 0u);
}

TEST_F(FaultTest, CloseAfterBlockTakesItThenUnplugs) {
  FaultPlan faults;
  faults.closeAfterBlock = 0;
  StartWith(faults);
  ASSERT_TRUE(updater->WakeUp());
  ASSERT_TRUE(updater->Request(StartRequest(0)));
  updater->Send(updater->NextFrame(WriteRequest(0, 0x100, {7})));
  // The updater's port fails as on a pulled adapter: its read ends in a failure of the
  // line, not in a time-out.
  EXPECT_EQ(updater->LineFailure(2000), 1101);
  EXPECT_EQ(sim->Summary().counts.blocks, 1u);
  CFlashImage expected;
  expected.SetByte(0x100, 7);
  EXPECT_FALSE(sim->FirstDifference(expected));
}

TEST_F(FaultTest, UnrecognisedControlByteFollowsTheReplyToItsBlock) {
  FaultPlan faults;
  faults.badControlAfterBlock = 0;
  faults.badControlByte = 0x81;
  StartWith(faults);
  ASSERT_TRUE(updater->WakeUp());
  ASSERT_TRUE(updater->Request(StartRequest(0)));
  auto reply = updater->Request(WriteRequest(0, 0x100, {1}));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->payload, Le16(0x24, {0, 0}));
  // The next request goes out at once, as the updater sends it; the bad byte still comes
  // first, right behind the reply, ahead of the unit's 0xA5 for that request.
  updater->Send(updater->NextFrame(WriteRequest(1, 0x200, {2})));
  auto bad = updater->Next(2000);
  ASSERT_TRUE(bad && bad->control);
  EXPECT_EQ(bad->byte, 0x81);
  auto ack = updater->Next(2000);
  ASSERT_TRUE(ack && ack->control);
  EXPECT_EQ(ack->byte, 0xA5);
  auto next = updater->Next(2000);
  ASSERT_TRUE(next && !next->control);
  EXPECT_EQ(next->payload, Le16(0x24, {1, 0}));
  updater->Send({0xA5});
  // Only once.
  auto last = updater->Request(WriteRequest(2, 0x300, {3}));
  ASSERT_TRUE(last);
  EXPECT_EQ(last->payload, Le16(0x24, {2, 0}));
}

TEST_F(FaultTest, NthAcknowledgementIsANakAndTheResentFrameIsTakenOnce) {
  FaultPlan faults;
  faults.line.nakAck = 2;  // counts the model's own acknowledgements
  StartWith(faults);
  ASSERT_TRUE(updater->WakeUp());
  ASSERT_TRUE(updater->Request(StartRequest(0)));  // the model's first acknowledgement
  const Bytes frame = updater->NextFrame(WriteRequest(0, 0x100, {5}));
  updater->Send(frame);
  auto nak = updater->Next(2000);
  ASSERT_TRUE(nak && nak->control);
  EXPECT_EQ(nak->byte, 0xDA);
  updater->Send(frame);  // the same bytes again, as the link resends
  // One reply and one acknowledgement, in either order (the model answered the first copy).
  int acks = 0, replies = 0;
  while (auto unit = updater->Next(500)) {
    if (unit->control) acks += unit->byte == 0xA5;
    else ++replies, updater->Send({0xA5});
  }
  EXPECT_EQ(acks, 1);
  EXPECT_EQ(replies, 1);
  EXPECT_EQ(sim->Summary().counts.writes, 1u);
}

TEST_F(FaultTest, LostAcknowledgementIsLostOnce) {
  FaultPlan faults;
  faults.line.loseAck = 1;
  StartWith(faults);
  ASSERT_TRUE(updater->WakeUp());
  const Bytes frame = updater->NextFrame(DeviceDataRequest());
  updater->Send(frame);
  // The reply comes, but no acknowledgement of the request.
  auto first = updater->Next(2000);
  ASSERT_TRUE(first);
  EXPECT_FALSE(first->control);
  updater->Send({0xA5});
  // The updater's link would send the frame again after its quiet time: acknowledged
  // now, and taken as the repeat it is (no second reply).
  updater->Send(frame);
  auto ack = updater->Next(2000);
  ASSERT_TRUE(ack && ack->control);
  EXPECT_EQ(ack->byte, 0xA5);
  EXPECT_FALSE(updater->Next(400));
}

TEST_F(FaultTest, DuplicatedFramesGoOutTwiceAndTheLinkStaysInStep) {
  FaultPlan faults;
  faults.line.duplicateEvery = 2;  // the announcement is frame 1: replies 1, 3, ... are doubled
  StartWith(faults);
  ASSERT_TRUE(updater->WakeUp());
  updater->Send(updater->NextFrame(DeviceDataRequest()));
  auto ack = updater->Next(2000);
  ASSERT_TRUE(ack && ack->control);
  auto copy1 = updater->Next(2000);
  auto copy2 = updater->Next(2000);
  ASSERT_TRUE(copy1 && copy2);
  EXPECT_EQ(copy1->raw, copy2->raw);
  updater->Send({0xA5});
  updater->Send({0xA5});  // a link acknowledges each copy
  // The next exchange is a plain one: the second acknowledgement did not release a
  // frame early, and the model keeps counting sequences.
  auto start = updater->Request(StartRequest(0));
  ASSERT_TRUE(start);
  EXPECT_EQ(start->raw, WireFrame(0, 1, 3, Le16(0x16, {0})));
  EXPECT_FALSE(updater->Next(300));
}

TEST_F(FaultTest, CorruptionIsRepeatableForASeedAndDiffersForAnother) {
  auto run = [&](std::uint32_t seed) {
    auto config = FastConfig();
    config.faults.line.seed = seed;
    config.faults.line.corruptToHost = 0.05;
    config.link.keepAliveMs = 60000;  // nothing timed in the stream
    Start(config);
    updater->Send({0xFF});
    Bytes got = updater->Drain(Scaled(300));
    updater.reset();
    sim.reset();
    return got;
  };
  const Bytes a = run(11), b = run(11), c = run(12);
  ASSERT_GE(a.size(), 261u);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
}

}  // namespace
}  // namespace cvm6::test
