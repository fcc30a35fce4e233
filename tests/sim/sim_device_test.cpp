// The model against an updater played in raw bytes: what it announces, what it answers
// byte for byte, what its flash holds afterwards, and that it outlives its updaters.
#include <chrono>
#include <string>
#include <thread>

#include "sim/flash_report.h"
#include "sim_fixture.h"
#include "support/time_scale.h"

namespace cvm6::test {
namespace {

TEST_F(SimulatorTest, DownloadLeavesTheFlashIdenticalWithRepliesByteExact) {
  Start(FastConfig());
  ASSERT_TRUE(updater->WakeUp());
  // The announcement: device 1 to updater 0, acknowledgement wanted, its first sequence.
  EXPECT_EQ(updater->announcement.raw, WireFrame(0, 1, 1, Le16(0x02)));

  auto data = updater->Request(DeviceDataRequest());
  ASSERT_TRUE(data);
  EXPECT_EQ(data->raw, WireFrame(0, 1, 2, Le16(0x1B, {0, '1', '0', '2', '3', 0x45, 0, 0})));

  const auto blocks = SmallImage();
  const auto replies = Download(blocks);
  ASSERT_EQ(replies.size(), blocks.size() + 2);
  std::uint8_t sequence = 3;
  EXPECT_EQ(replies[0].raw, WireFrame(0, 1, sequence++, Le16(0x16, {0})));
  for (std::uint16_t i = 0; i < blocks.size(); ++i)
    EXPECT_EQ(replies[1 + i].raw, WireFrame(0, 1, sequence++, Le16(0x24, {static_cast<std::uint8_t>(i), 0})));
  EXPECT_EQ(replies.back().raw, WireFrame(0, 1, sequence++, Le16(0x18, {0, 0, 4, 0, 0})));

  CFlashImage expected;
  Fill(expected, blocks);
  EXPECT_FALSE(sim->FirstDifference(expected));
  ASSERT_TRUE(sim->WaitForUpdates(1, Scaled(3000)));
  const auto summary = sim->Summary();
  EXPECT_EQ(summary.counts.blocks, 4u);
  EXPECT_EQ(summary.counts.bytes, 22u + 3 + 246 + 248);
  EXPECT_EQ(summary.counts.erases, 1u);
  EXPECT_EQ(summary.counts.writes, 4u);
  EXPECT_EQ(summary.storedBytes, expected.GetCount());
  EXPECT_EQ(summary.sha256, FlashDigest(expected));
}

TEST_F(SimulatorTest, IdentityAndAddressesAreSettable) {
  auto config = FastConfig();
  config.identity.address = 5;
  config.identity.updaterAddress = 9;
  config.identity.deviceType = 0x41;
  config.identity.version = {'2', '0', '0', '1'};
  Start(config);
  updater->deviceAddress = 5;
  updater->ownAddress = 9;
  ASSERT_TRUE(updater->WakeUp());
  EXPECT_EQ(updater->announcement.raw, WireFrame(9, 5, 1, Le16(0x02)));
  auto data = updater->Request(DeviceDataRequest());
  ASSERT_TRUE(data);
  EXPECT_EQ(data->raw, WireFrame(9, 5, 2, Le16(0x1B, {0, '2', '0', '0', '1', 0x41, 0, 0})));
}

TEST_F(SimulatorTest, AnnouncesWithNetworkConfigurationFromAddressZeroWhenAsked) {
  auto config = FastConfig();
  config.identity.announceWithConfig = true;
  config.identity.address = 10;  // bit 2 of presence byte 1
  config.identity.updaterAddress = 3;
  Start(config);
  ASSERT_TRUE(updater->WakeUp());
  Bytes payload = Le16(0x01);
  payload.resize(18, 0);
  payload[2 + 1] = 0x04;
  EXPECT_EQ(updater->announcement.raw, WireFrame(3, 0, 1, payload));
}

TEST_F(SimulatorTest, IgnoresRequestsForOtherAddressesAndMalformedOnes) {
  Start(FastConfig());
  ASSERT_TRUE(updater->WakeUp());
  // Another address, too short to hold a write head, a one-byte payload: the link
  // acknowledges each (one at a time: acknowledgements asked for in a row count once),
  // the model stays quiet.
  std::vector<std::pair<std::uint8_t, Bytes>> requests = {
      {7, DeviceDataRequest()}, {1, {0x19, 0x00, 0x00}}, {1, {0x19}}};
  for (const auto& [address, payload] : requests) {
    updater->deviceAddress = address;
    updater->Send(updater->NextFrame(payload));
    auto ack = updater->Next(1000);
    ASSERT_TRUE(ack && ack->control);
    EXPECT_EQ(ack->byte, 0xA5);
  }
  updater->deviceAddress = 1;
  EXPECT_FALSE(updater->Next(300));
  EXPECT_EQ(sim->Summary().counts.ignored, 3u);
  EXPECT_EQ(sim->Summary().counts.writes, 0u);
  // And it still answers what it should.
  EXPECT_TRUE(updater->Request(DeviceDataRequest()));
}

TEST_F(SimulatorTest, StartIsAcknowledgedAtOnceAndAnsweredAfterTheEraseTime) {
  auto config = FastConfig();
  config.identity.eraseMs = 300;
  Start(config);
  ASSERT_TRUE(updater->WakeUp());
  ASSERT_EQ(Download({{0x4000, {1, 2, 3}}}).size(), 3u);

  // The request is acknowledged at once; only its reply waits for the erase.
  const auto sent = std::chrono::steady_clock::now();
  updater->Send(updater->NextFrame(StartRequest(0)));
  const auto ack = updater->Next(2000);
  ASSERT_TRUE(ack && ack->control && ack->byte == 0xA5);
  EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(200));
  const auto reply = updater->Next(3000);
  ASSERT_TRUE(reply && !reply->control);
  updater->Send({0xA5});
  EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(300));
  EXPECT_EQ(sim->Summary().storedBytes, 0u);
  EXPECT_EQ(sim->Summary().counts.erases, 2u);
}

TEST_F(SimulatorTest, SurvivesItsUpdaterClosingAndAnotherOpening) {
  auto config = FastConfig();
  // Short enough for the third run below, long enough that the model's link waits out
  // the one-second resend of a reply whose acknowledgement the reopening flushed away.
  config.link.readTimeoutMs = static_cast<std::uint32_t>(Scaled(3000));
  Start(config);
  const auto blocks = SmallImage();
  ASSERT_TRUE(updater->WakeUp());
  ASSERT_EQ(Download(blocks).size(), blocks.size() + 2);
  updater->Close();

  // A second run: the port opens again, the wake is answered and the model announces
  // itself anew, and a whole download goes through.
  Connect();
  ASSERT_TRUE(updater->WakeUp());
  EXPECT_EQ(updater->announcement.payload, Le16(0x02));
  ASSERT_TRUE(updater->Request(DeviceDataRequest()));
  std::vector<Block> second = {{0x8000, {9, 8, 7, 6}}};
  ASSERT_EQ(Download(second).size(), 3u);
  ASSERT_TRUE(sim->WaitForUpdates(2, Scaled(3000)));
  CFlashImage expected;
  Fill(expected, second);
  EXPECT_FALSE(sim->FirstDifference(expected));

  // And a third, after the line has been quiet long enough for the model's link to
  // give up on the vanished updater and go back to waking the line.
  updater->Close();
  std::this_thread::sleep_for(std::chrono::milliseconds(Scaled(4000)));
  Connect();
  ASSERT_TRUE(updater->WakeUp());
}

}  // namespace
}  // namespace cvm6::test
