// The simulated unit's link answers requests on its receiver thread. What must still
// hold: each request is acknowledged at once, ahead of the reply, also while the unit
// is busy with it.
#include <atomic>

#include "link/link_fixture.h"
#include "sim/unit_link.h"

namespace cvm6::test {
namespace {

class UnitLink : public LinkFixture {
 protected:
  void StartUnit(CUnitLink::Handler handler) { StartLink({}, std::make_unique<CUnitLink>(LinkLimits{}, std::move(handler))); }
  CUnitLink& Unit() { return static_cast<CUnitLink&>(*link); }
};

TEST_F(UnitLink, TheAcknowledgementGoesOutAheadOfTheReplyAndFramesSkipTheQueue) {
  std::atomic<int> handled{0};
  StartUnit([&](FramePtr request) {
    ++handled;
    Unit().QueueTransmit(QueuedFrame(request->source, 1, false, {0x1D, 0x00, request->payload[2]}));
  });
  BringUp();
  pty.Write(WireFrame(1, 0, std::uint8_t{1}, {0x1C, 0x00, 0x42}));
  ASSERT_TRUE(WaitUntil([&] { return WrittenFrames().size() == 1; }, 2000));
  const auto units = Units();
  ASSERT_EQ(units.size(), 2u);
  EXPECT_TRUE(units[0].control);
  EXPECT_EQ(units[0].byte, 0xA5);
  EXPECT_EQ(units[1].payload, (Bytes{0x1D, 0x00, 0x42}));
  EXPECT_EQ(handled.load(), 1);
  EXPECT_EQ(Delivered().size(), 1u);  // only the up notice came by the queue
}

TEST_F(UnitLink, ARequestIsAcknowledgedWhileTheUnitIsStillBusyWithIt) {
  std::atomic<bool> release{false}, done{false};
  StartUnit([&](FramePtr) {
    DeliverPendingWakes();  // as the simulator does before its busy time
    WaitUntil([&] { return release.load(); }, 10000);
    done = true;
  });
  BringUp();
  pty.Write(WireFrame(1, 0, std::uint8_t{1}, {0x20, 0x00, 0x01}));
  // The acknowledgement must come while the handler still waits for this test.
  EXPECT_TRUE(WaitUntil([&] { return CountWritten(0xA5) == 1; }, 2000));
  EXPECT_FALSE(done.load());
  release = true;
  EXPECT_TRUE(WaitUntil([&] { return done.load(); }, 2000));
}

}  // namespace
}  // namespace cvm6::test
