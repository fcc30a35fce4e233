#include "link_fixture.h"
#include "support/process.h"

namespace cvm6 {
namespace {

using namespace test;

class Link : public LinkFixture {};

TEST_F(Link, StartTwiceIsRefusedAndStopWhenNotStartedIsFalse) {
  CLink idle;
  EXPECT_FALSE(idle.Stop());
  StartLink();
  EXPECT_FALSE(link->Start(port.get()));
  EXPECT_TRUE(link->Stop());
  EXPECT_FALSE(link->Stop());
}

TEST_F(Link, ASilentLineGetsWakeBurstsOfSixteenFFAboutEvery100ms) {
  StartLink();
  Quiet(550);
  const Bytes bytes = Written();
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(bytes.size() % 16, 0u);
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_GE(bytes.size() / 16, 3u);
  EXPECT_LE(bytes.size() / 16, 7u);
  EXPECT_FALSE(link->IsActive());
  EXPECT_TRUE(Delivered().empty());
}

TEST_F(Link, AWakeWhileDownBringsTheLinkUpAndIsAnsweredWithOneSyncBlock) {
  StartLink();
  pty.Write(Bytes{0xFF});
  ASSERT_TRUE(WaitForNotices(kNoticeNowActive, 1, 1000));
  Quiet(100);
  EXPECT_TRUE(link->IsActive());
  EXPECT_EQ(CountWritten(0xF0), 261);
  EXPECT_EQ(Delivered().size(), 1u);
  // The sync block is one unbroken run after the last wake burst.
  const Bytes bytes = Written();
  const auto firstSync = std::find(bytes.begin(), bytes.end(), 0xF0);
  EXPECT_TRUE(std::all_of(firstSync, firstSync + 261, [](std::uint8_t b) { return b == 0xF0; }));
}

TEST_F(Link, ASyncWhileDownBringsTheLinkUpWithoutAnAnswer) {
  StartLink();
  BringUp();
  Quiet(500);
  EXPECT_TRUE(link->IsActive());
  EXPECT_TRUE(Written().empty());
  EXPECT_EQ(CountNotices(kNoticeNowActive), 1);
}

TEST_F(Link, AWakeWhileUpIsAnsweredWithASyncBlockAndNoNotice) {
  StartLink();
  BringUp();
  pty.Write(Bytes{0xFF});
  ASSERT_TRUE(WaitUntil([&] { return CountWritten(0xF0) == 261; }, 1000));
  Quiet(50);
  EXPECT_EQ(CountWritten(0xF0), 261);
  EXPECT_EQ(Delivered().size(), 1u);
  EXPECT_EQ(link->GetCounters().linkSyncs, 2u);
}

TEST_F(Link, AnAcknowledgedFrameIsAnsweredAndDeliveredOnceAndItsRepeatOnlyAnswered) {
  StartLink();
  BringUp();
  const Bytes frame = WireFrame(1, 5, std::uint8_t{1}, {0x02, 0x00});
  pty.Write(frame);
  ASSERT_TRUE(WaitUntil([&] { return CountWritten(0xA5) == 1; }, 1000));
  pty.Write(frame);
  ASSERT_TRUE(WaitUntil([&] { return CountWritten(0xA5) == 2; }, 1000));
  Quiet(50);
  auto& got = Delivered();
  ASSERT_EQ(got.size(), 2u);  // the up notice and the frame
  EXPECT_EQ(got[1]->source, 5);
  EXPECT_EQ(got[1]->destination, 1);
  EXPECT_EQ(got[1]->ackWanted, 1u);
  EXPECT_EQ(link->GetCounters().rxDuplicates, 1u);
  EXPECT_EQ(Written(), (Bytes{0xA5, 0xA5}));
}

TEST_F(Link, ABadFrameWithAcknowledgementIsRefusedAndWithoutIsDroppedSilently) {
  StartLink();
  BringUp();
  Bytes acked = WireFrame(1, 5, std::uint8_t{1}, {0x1B, 0x00, 9, 9});
  acked.back() ^= 0x01;
  pty.Write(acked);
  ASSERT_TRUE(WaitUntil([&] { return CountWritten(0xDA) == 1; }, 1000));
  Bytes plain = WireFrame(1, 5, std::nullopt, {0x1B, 0x00, 9, 9});
  plain[4] ^= 0x40;
  pty.Write(plain);
  Quiet(300);
  EXPECT_EQ(Written(), (Bytes{0xDA}));
  EXPECT_EQ(Delivered().size(), 1u);
  const LinkCounters counters = link->GetCounters();
  EXPECT_EQ(counters.rxAckedCrcErrors, 1u);
  EXPECT_EQ(counters.rxUnackedCrcErrors, 1u);
}

TEST_F(Link, StopAndWaitResendsOnNakAndMovesOnWithTheNextSequenceOnAck) {
  StartLink();
  BringUp();
  for (std::uint8_t n = 0; n < 3; ++n) link->QueueTransmit(QueuedFrame(5, 1, true, {0x19, 0x00, n}));
  ASSERT_TRUE(WaitUntil([&] { return WrittenFrames().size() == 1; }, 1000));
  Quiet(200);
  ASSERT_EQ(WrittenFrames().size(), 1u);  // the others wait behind the outstanding one
  const WireUnit first = WrittenFrames()[0];
  EXPECT_EQ(first.sequence, 1);
  EXPECT_TRUE(first.crcGood);

  pty.Write(Bytes{0xDA});
  ASSERT_TRUE(WaitUntil([&] { return WrittenFrames().size() == 2; }, 500));
  EXPECT_EQ(WrittenFrames()[1].raw, first.raw);

  pty.Write(Bytes{0xA5});
  ASSERT_TRUE(WaitUntil([&] { return WrittenFrames().size() == 3; }, 500));
  EXPECT_EQ(WrittenFrames()[2].sequence, 2);
  EXPECT_EQ(WrittenFrames()[2].payload[2], 1);
  pty.Write(Bytes{0xA5});
  ASSERT_TRUE(WaitUntil([&] { return WrittenFrames().size() == 4; }, 500));
  EXPECT_EQ(WrittenFrames()[3].sequence, 3);
  // Counted once the write returned, which may be after the far end has the bytes.
  EXPECT_TRUE(WaitUntil([&] { return link->GetCounters().txAcked == 3u; }, 500)) << link->GetCounters().txAcked;
}

TEST_F(Link, SequenceNumbersRunFrom1To255AndThenStartAgainAt1) {
  StartLink();
  BringUp();
  constexpr int kFrames = 258;
  for (int n = 0; n < kFrames; ++n) link->QueueTransmit(QueuedFrame(5, 1, true, {0x19, 0x00}));
  for (int n = 1; n <= kFrames; ++n) {
    ASSERT_TRUE(WaitUntil([&] { return static_cast<int>(WrittenFrames().size()) >= n; }, 2000)) << n;
    pty.Write(Bytes{0xA5});
  }
  const auto frames = WrittenFrames();
  ASSERT_EQ(frames.size(), static_cast<std::size_t>(kFrames));
  for (int n = 0; n < kFrames; ++n) EXPECT_EQ(frames[n].sequence, n % 255 + 1) << n;
}

TEST_F(Link, FramesWithoutAcknowledgementGoOutBackToBack) {
  StartLink();
  BringUp();
  for (std::uint8_t n = 0; n < 5; ++n) link->QueueTransmit(QueuedFrame(5, 1, false, {0x00, 0x00, n}));
  ASSERT_TRUE(WaitUntil([&] { return WrittenFrames().size() == 5; }, 1000));
  for (std::uint8_t n = 0; n < 5; ++n) {
    EXPECT_FALSE(WrittenFrames()[n].ackWanted);
    EXPECT_EQ(WrittenFrames()[n].payload[2], n);
  }
  // Counted once the write returned, which may be after the far end has the bytes.
  EXPECT_TRUE(WaitUntil([&] { return link->GetCounters().txUnacked == 5u; }, 500)) << link->GetCounters().txUnacked;
}

class LinkBadControl : public LinkFixture, public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(LinkBadControl, AnUnrecognisedControlByteTakesTheLinkDown) {
  StartLink();
  BringUp();
  pty.Write(Bytes{GetParam()});
  ASSERT_TRUE(WaitForNotices(kNoticeNowInactive, 1, 1000));
  EXPECT_FALSE(link->IsActive());
  EXPECT_EQ(link->GetCounters().rxBadControl, 1u);
}
INSTANTIATE_TEST_SUITE_P(Bytes, LinkBadControl, ::testing::Values(0x80, 0x8B, 0x9A, 0xFE));

TEST_F(Link, KeepAliveGoesOutAfterQuietAndNeverWhileDown) {
  StartLink({100, 200, 8000});
  BringUp();
  Quiet(650);
  const int keepAlives = CountWritten(0x8C);
  EXPECT_GE(keepAlives, 2);
  EXPECT_LE(keepAlives, 4);
  EXPECT_EQ(CountWritten(0xFF), 0);
}

TEST_F(Link, SilencePastTheReadLimitTakesTheLinkDown) {
  StartLink({100, 1000, 400});
  BringUp();
  ASSERT_TRUE(WaitForNotices(kNoticeNowInactive, 1, 2000));
  EXPECT_FALSE(link->IsActive());
  EXPECT_GE(link->GetCounters().rxTimeouts, 1u);
}

TEST_F(Link, NoticesAndFramesReachTheQueueInTheOrderTheyHappened) {
  StartLink();
  BringUp();
  pty.Write(WireFrame(1, 5, std::nullopt, {0x00, 0x00, 'X'}));
  ASSERT_TRUE(WaitUntil([&] { return Delivered().size() == 2; }, 1000));
  pty.Write(Bytes{0x80});
  ASSERT_TRUE(WaitForNotices(kNoticeNowInactive, 1, 1000));
  pty.Write(Bytes{0xF0});
  ASSERT_TRUE(WaitForNotices(kNoticeNowActive, 2, 1000));
  pty.Write(WireFrame(1, 5, std::nullopt, {0x00, 0x00, 'Y'}));
  ASSERT_TRUE(WaitUntil([&] { return Delivered().size() == 5; }, 1000));
  auto& got = Delivered();
  EXPECT_TRUE(IsNotice(*got[0], kNoticeNowActive));
  EXPECT_EQ(got[1]->payload[2], 'X');
  EXPECT_TRUE(IsNotice(*got[2], kNoticeNowInactive));
  EXPECT_TRUE(IsNotice(*got[3], kNoticeNowActive));
  EXPECT_EQ(got[4]->payload[2], 'Y');
}

// Which frames the receiver drops as repeats. A repeat is the frame accepted last, sent
// again because our acknowledgement was lost: byte for byte the same, same number,
// nothing from the far end between; it is acknowledged and dropped, also across a link
// that went down and came back. A frame that only shares the number is new: a unit that
// restarted numbers from 1 again, and its announcement must get through.
struct RepeatCase {
  const char* name;
  // Frames the far end sends, in order: a letter is a frame asking for acknowledgement
  // whose payload ends in that letter, with sequence `number`; '-' a frame without
  // acknowledgement; '|' takes the link down and brings it up again.
  const char* sends;
  std::uint8_t number;
  const char* delivered;  // letters of the acknowledged frames that reach the queue
};

void PrintTo(const RepeatCase& row, std::ostream* out) { *out << row.name; }

class LinkRepeats : public LinkFixture, public ::testing::WithParamInterface<RepeatCase> {};

TEST_P(LinkRepeats, OnlyTheFrameAcceptedLastSentAgainIsDropped) {
  const RepeatCase& row = GetParam();
  StartLink();
  BringUp();
  int acks = 0, ups = 1;
  std::string got;
  for (const char* c = row.sends; *c; ++c) {
    if (*c == '|') {
      pty.Write(Bytes{0x80});
      ASSERT_TRUE(WaitForNotices(kNoticeNowInactive, ups, 1000));
      pty.Write(Bytes{0xF0});
      ASSERT_TRUE(WaitForNotices(kNoticeNowActive, ++ups, 1000));
    } else if (*c == '-') {
      const std::size_t before = Delivered().size();
      pty.Write(WireFrame(1, 5, std::nullopt, {0x24, 0x00, 0, 0}));
      ASSERT_TRUE(WaitUntil([&] { return Delivered().size() > before; }, 1000));
    } else {
      pty.Write(WireFrame(1, 5, row.number, {0x00, 0x00, static_cast<std::uint8_t>(*c)}));
      ++acks;
      ASSERT_TRUE(WaitUntil([&] { return CountWritten(0xA5) == acks; }, 1000));  // every copy is answered
    }
  }
  Quiet(50);
  for (auto& frame : Delivered())
    if (frame->destination != 255 && frame->ackWanted == 1) got += static_cast<char>(frame->payload[2]);
  EXPECT_EQ(got, row.delivered);
  EXPECT_EQ(link->GetCounters().rxDuplicates, static_cast<std::uint32_t>(acks - got.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LinkRepeats,
    ::testing::Values(RepeatCase{"SameFrameAgain", "aa", 7, "a"},
                      RepeatCase{"SameFrameAgainAfterTheLinkBounced", "a|a", 7, "a"},
                      RepeatCase{"AnotherFrameWithTheSameNumber", "ab", 7, "ab"},
                      RepeatCase{"AnotherFrameWithTheSameNumberAfterARestart", "a|b", 1, "ab"},
                      RepeatCase{"TheSameFrameAfterOthersCameBetween", "a-a", 1, "aa"},
                      RepeatCase{"TheSameFrameAfterOthersAndARestart", "a--|a", 1, "aa"}),
    [](const auto& row) { return std::string(row.param.name); });

// The far end's 0xA5 is lost on the line: the frame goes out again whole after the
// keep-alive interval, and the far end, which drops repeats, still sees it once.
TEST_F(Link, ALostAcknowledgementMakesTheSameFrameGoOutAgainAfterTheQuietInterval) {
  StartLink();
  BringUp();
  link->QueueTransmit(QueuedFrame(5, 1, true, {0x19, 0x00, 'A'}));
  link->QueueTransmit(QueuedFrame(5, 1, true, {0x19, 0x00, 'B'}));
  ASSERT_TRUE(WaitUntil([&] { return WrittenFrames().size() == 1; }, 1000));
  const auto sentAt = std::chrono::steady_clock::now();
  // The peer's acknowledgement for this frame is swallowed: nothing is written back.
  ASSERT_TRUE(WaitUntil([&] { return WrittenFrames().size() == 2; }, 2000));
  const auto gap = std::chrono::steady_clock::now() - sentAt;
  EXPECT_GE(gap, std::chrono::milliseconds(900));
  EXPECT_EQ(WrittenFrames()[1].raw, WrittenFrames()[0].raw);
  EXPECT_EQ(CountWritten(0x8C), 0);  // the resend stands in for the keep-alive

  pty.Write(Bytes{0xA5});
  // A slow machine may let the quiet interval pass once more before the 0xA5 is read.
  ASSERT_TRUE(WaitUntil([&] { return WrittenFrames().back().payload[2] == 'B'; }, 2000));
  std::vector<std::uint8_t> peerQueue;
  std::uint8_t lastSequence = 0;
  for (auto& frame : WrittenFrames())
    if (frame.sequence != lastSequence) {
      peerQueue.push_back(frame.payload[2]);
      lastSequence = frame.sequence;
    }
  EXPECT_EQ(peerQueue, (std::vector<std::uint8_t>{'A', 'B'}));
  const LinkCounters counters = link->GetCounters();
  EXPECT_EQ(counters.txAcked, 2u);
}

// The far end was only slow: it answers the first copy of A 1.2 s late, by which time A
// went out again on the quiet time-out, and then answers the second copy too. The
// second 0xA5 must find nothing outstanding; were B already out, it would take B for
// acknowledged, and B, refused once by the far end, would never be sent again.
TEST_F(Link, ALateAcknowledgementOfAResentFrameCannotReleaseTheNextOne) {
  StartLink();
  BringUp();
  link->QueueTransmit(QueuedFrame(5, 1, true, {0x19, 0x00, 'A'}));
  link->QueueTransmit(QueuedFrame(5, 1, true, {0x19, 0x00, 'B'}));
  ASSERT_TRUE(WaitUntil([&] { return WrittenFrames().size() == 1; }, 1000));
  const auto sentAt = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([&] { return WrittenFrames().size() == 2; }, 2000));  // A, resent once
  std::this_thread::sleep_until(sentAt + std::chrono::milliseconds(1200));
  ASSERT_EQ(WrittenFrames().size(), 2u);
  pty.Write(Bytes{0xA5});
  Quiet(5);
  pty.Write(Bytes{0xA5});
  auto copiesOfB = [&] {
    int n = 0;
    for (auto& frame : WrittenFrames()) n += frame.payload[2] == 'B';
    return n;
  };
  ASSERT_TRUE(WaitUntil([&] { return copiesOfB() == 1; }, 1000));
  pty.Write(Bytes{0xDA});
  EXPECT_TRUE(WaitUntil([&] { return copiesOfB() == 2; }, 500));
}

// A frame whose bytes stop short of what its length byte claims is refused once they
// have paused for the gap limit (with 0xDA when it asked for acknowledgement), and the
// receiver reads the next frame; the link goes down only on silence past the read
// limit. Pauses shorter than the gap are no gap.
struct GapCase {
  const char* name;
  bool ackWanted;
  bool lengthDamaged;   // the length byte claims 0x40 bytes more than come
  int pauseMs;          // the bytes go out one at a time, this far apart
  bool goodFrameAfter;  // a good frame follows; else the line stays silent
};

void PrintTo(const GapCase& row, std::ostream* out) { *out << row.name; }

class LinkFrameGap : public LinkFixture, public ::testing::WithParamInterface<GapCase> {};

TEST_P(LinkFrameGap, AFrameCutShortIsRefusedAndTheLinkStaysUp) {
  const GapCase& row = GetParam();
  LinkLimits limits;
  limits.frameGapMs = static_cast<std::uint32_t>(Scaled(200));
  limits.readTimeoutMs = static_cast<std::uint32_t>(Scaled(1000));
  StartLink(limits);
  BringUp();
  Bytes frame = WireFrame(1, 5, row.ackWanted ? std::optional<std::uint8_t>(3) : std::nullopt, {0x24, 0x00, 7, 7});
  if (row.lengthDamaged) frame[row.ackWanted ? 3 : 2] += 0x40;
  for (std::uint8_t byte : frame) {
    Quiet(row.pauseMs);
    pty.Write(&byte, 1);
  }
  const std::uint32_t acked = row.lengthDamaged && row.ackWanted, unacked = row.lengthDamaged && !row.ackWanted;
  const std::size_t frames = row.lengthDamaged ? 1 : 2;  // the up notice, the frame if good
  ASSERT_TRUE(WaitUntil([&] {
    const LinkCounters c = link->GetCounters();
    return c.rxAckedCrcErrors == acked && c.rxUnackedCrcErrors == unacked && Delivered().size() == frames;
  }, 1000));
  EXPECT_TRUE(WaitUntil([&] { return CountWritten(0xDA) == static_cast<int>(acked); }, 1000));
  EXPECT_EQ(link->GetCounters().rxTimeouts, 0u);
  if (row.goodFrameAfter) {
    pty.Write(WireFrame(1, 5, std::nullopt, {0x00, 0x00, 'G'}));
    ASSERT_TRUE(WaitUntil([&] { return Delivered().size() == frames + 1; }, 1000));
    EXPECT_EQ(Delivered().back()->payload[2], 'G');
    EXPECT_TRUE(link->IsActive());
  } else {
    ASSERT_TRUE(WaitForNotices(kNoticeNowInactive, 1, 3000));
    EXPECT_GE(link->GetCounters().rxTimeouts, 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LinkFrameGap,
                         ::testing::Values(GapCase{"LengthClaimsMoreAskingForAck", true, true, 0, true},
                                           GapCase{"LengthClaimsMoreWithoutAck", false, true, 0, true},
                                           GapCase{"PausesShorterThanTheGap", true, false, 30, true},
                                           GapCase{"SilenceAfterTheFrameStops", true, true, 0, false}),
                         [](const auto& row) { return std::string(row.param.name); });

// The receiver waits for its whole read limit at a time; Stop still ends it at once.
TEST_F(Link, StopWakesAReceiverThatWaitsOutALongReadLimit) {
  StartLink({100, 1000, 60000});
  BringUp();
  Quiet(50);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(link->Stop());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(Scaled(500)));
}

// A read time-out that happens while the link is down waits for the next link-up and
// then takes the link straight down again.
TEST_F(Link, ATimeOutSignalledWhileDownIsActedOnAfterTheNextLinkUp) {
  StartLink({100, 1000, 300});
  BringUp();
  ASSERT_TRUE(WaitForNotices(kNoticeNowInactive, 1, 2000));
  ASSERT_TRUE(WaitUntil([&] { return link->GetCounters().rxTimeouts >= 2; }, 2000));
  pty.Write(Bytes{0xF0});
  ASSERT_TRUE(WaitForNotices(kNoticeNowInactive, 2, 1000));
  auto& got = Delivered();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_TRUE(IsNotice(*got[0], kNoticeNowActive));
  EXPECT_TRUE(IsNotice(*got[1], kNoticeNowInactive));
  EXPECT_TRUE(IsNotice(*got[2], kNoticeNowActive));
  EXPECT_TRUE(IsNotice(*got[3], kNoticeNowInactive));
}

// An unplugged adapter: the link says so at once, no thread spins, Stop still returns.
TEST_F(Link, TheFarEndVanishingTakesTheLinkDownPromptlyWithoutABusyLoop) {
  StartLink();
  BringUp();
  StopCollector();
  const auto closedAt = std::chrono::steady_clock::now();
  pty.CloseMaster();
  ASSERT_TRUE(WaitForNotices(kNoticeNowInactive, 1, 1000));
  EXPECT_LT(std::chrono::steady_clock::now() - closedAt, std::chrono::milliseconds(Scaled(200)));
  EXPECT_FALSE(link->IsActive());
  EXPECT_TRUE(WaitUntil([&] { return link->HasFailed(); }, 500));
  const double cpuBefore = ProcessCpuSeconds();
  Quiet(300);
  EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.1);
  EXPECT_EQ(CountNotices(kNoticeNowInactive), 1);
  EXPECT_TRUE(link->Stop());
}

TEST_F(Link, StopOnABusyLinkReturnsPromptly) {
  StartLink();
  BringUp();
  for (int n = 0; n < 50; ++n) link->QueueTransmit(QueuedFrame(5, 1, false, Bytes(200, 0x33)));
  pty.Write(WireFrame(1, 5, std::uint8_t{1}, {0x00, 0x00}));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(link->Stop());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(Scaled(1100)));
  EXPECT_FALSE(link->IsActive());
}

TEST_F(Link, FramesLeftInTheTransmitQueueGoOutAfterTheNextStart) {
  StartLink();
  EXPECT_TRUE(link->Stop());
  link->QueueTransmit(QueuedFrame(5, 1, false, {0x00, 0x00, 'Q'}));
  ASSERT_TRUE(link->Start(port.get()));
  pty.Write(Bytes{0xF0});
  ASSERT_TRUE(WaitUntil([&] { return WrittenFrames().size() == 1; }, 1000));
  EXPECT_EQ(WrittenFrames()[0].payload[2], 'Q');
}

}  // namespace
}  // namespace cvm6

namespace cvm6 {
namespace {

// A frame resent on the quiet time-out is not timed (its 0xA5 may answer either copy).
TEST_F(Link, AcknowledgementsAreTimedButNotThoseOfFramesResentOnQuiet) {
  StartLink();
  BringUp();
  for (std::uint8_t name : {'A', 'B', 'C'}) link->QueueTransmit(QueuedFrame(5, 1, true, {0x19, 0x00, name}));
  ASSERT_TRUE(WaitUntil([&] { return WrittenFrames().size() == 2; }, 3000));  // A, then A again
  pty.Write(Bytes{0xA5});
  ASSERT_TRUE(WaitUntil([&] { return WrittenFrames().back().payload[2] == 'B'; }, 2000));
  pty.Write(Bytes{0xA5});
  ASSERT_TRUE(WaitUntil([&] { return WrittenFrames().back().payload[2] == 'C'; }, 2000));
  EXPECT_EQ(link->TakeAckTiming().Count(), 1u);
}

}  // namespace
}  // namespace cvm6
