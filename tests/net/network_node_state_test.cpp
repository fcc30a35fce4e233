// The node's view of the network: what IDENTIFY, DID_CONFIG and the link-down notice do
// to the addresses and the presence set, the 1303 failures, and sends refused before
// anything is known. Frames go straight on a real link's receive queue.
#include <gtest/gtest.h>

#include <array>
#include <stdexcept>

#include "net/message_ids.h"
#include "platform/failure.h"
#include "recording_node.h"

namespace cvm6::test {
namespace {

using Bitmap = std::array<std::uint8_t, 16>;

std::vector<std::uint8_t> ConfigPayload(const Bitmap& bitmap) {
  std::vector<std::uint8_t> payload = IdPayload(MSG_NETWORK_DID_CONFIG, 2);
  payload.insert(payload.end(), bitmap.begin(), bitmap.end());
  return payload;
}

void Identify(RecordingNode& node, std::uint8_t from, std::uint8_t to, bool ackWanted = true) {
  node.Link().AppendReceived(MakeReceived(to, from, ackWanted, IdPayload(MSG_NETWORK_IDENTIFY)));
}

std::vector<int> PresentAddresses(const CNetworkNode& node) {
  std::vector<int> present;
  for (int address = 0; address <= 255; ++address)
    if (node.IsPresent(static_cast<std::uint8_t>(address))) present.push_back(address);
  return present;
}

int PollFailureCode(CNetworkNode& node) {
  try {
    node.Poll(0);
  } catch (const CFailure& failure) {
    return failure.code();
  }
  return 0;
}

TEST(NodeState, StartsKnowingNoAddress) {
  RecordingNode node;
  EXPECT_EQ(node.GetPeerAddress(), kNoAddress);
  EXPECT_EQ(node.GetOwnAddress(), kNoAddress);
  EXPECT_TRUE(PresentAddresses(node).empty());
}

TEST(Identify, TakesBothAddressesAndMakesTheAnnouncerTheOnlyOnePresent) {
  RecordingNode node;
  Identify(node, 5, 1);
  node.Poll(0);
  EXPECT_EQ(node.GetOwnAddress(), 1);
  EXPECT_EQ(node.GetPeerAddress(), 5);
  EXPECT_EQ(PresentAddresses(node), std::vector<int>{5});
  EXPECT_EQ(node.networkChanges, 1);
}

TEST(Identify, WithoutAcknowledgementFails1303AndLeavesEverythingQueuedBehind) {
  RecordingNode node;
  Identify(node, 5, 1);
  node.Poll(0);
  Identify(node, 9, 2, false);
  node.Link().AppendReceived(MakeReceived(1, 5, false, IdPayload(MSG_NETWORK_PING)));
  node.Link().AppendReceived(MakeReceived(1, 5, false, IdPayload(MSG_SYSTEM_DID_SOFT_RESET)));

  EXPECT_EQ(PollFailureCode(node), 1303);
  EXPECT_EQ(node.GetOwnAddress(), 1);
  EXPECT_EQ(node.GetPeerAddress(), 5);
  EXPECT_EQ(PresentAddresses(node), std::vector<int>{5});
  EXPECT_EQ(node.networkChanges, 1);

  // The failing frame is gone (released on the way out); the two behind it are not.
  node.Poll(0);
  EXPECT_EQ(node.Slots(), (std::vector<std::string>{"OnIdentify", "OnIdentify", "OnPing", "OnDidSoftReset"}));
}

TEST(DidConfig, FromAddressZeroTakesOwnAddressPeerZeroAndTheBitmap) {
  RecordingNode node;
  Bitmap bitmap{};
  bitmap[0] = 0x01;   // address 0
  bitmap[5] = 0x24;   // addresses 42 and 45
  bitmap[15] = 0x80;  // address 127
  node.Link().AppendReceived(MakeReceived(2, 0, false, ConfigPayload(bitmap)));
  node.Poll(0);
  EXPECT_EQ(node.GetOwnAddress(), 2);
  EXPECT_EQ(node.GetPeerAddress(), 0);
  EXPECT_EQ(PresentAddresses(node), (std::vector<int>{0, 42, 45, 127}));
  EXPECT_EQ(node.networkChanges, 1);
}

TEST(DidConfig, FromAnotherAddressFails1303AndChangesNothing) {
  RecordingNode node;
  Bitmap all;
  all.fill(0xFF);
  node.Link().AppendReceived(MakeReceived(2, 3, true, ConfigPayload(all)));
  node.Link().AppendReceived(MakeReceived(1, 3, false, IdPayload(MSG_NETWORK_PING)));
  EXPECT_EQ(PollFailureCode(node), 1303);
  EXPECT_EQ(node.GetOwnAddress(), kNoAddress);
  EXPECT_EQ(node.GetPeerAddress(), kNoAddress);
  EXPECT_TRUE(PresentAddresses(node).empty());
  EXPECT_EQ(node.networkChanges, 0);
  node.Poll(0);
  EXPECT_EQ(node.Slots().back(), "OnPing");
}

TEST(IsPresent, Address127IsBit7OfTheLastByteAndNothingAbove127IsEverPresent) {
  RecordingNode node;
  Bitmap last{};
  last[15] = 0x80;
  node.Link().AppendReceived(MakeReceived(2, 0, false, ConfigPayload(last)));
  node.Poll(0);
  EXPECT_TRUE(node.IsPresent(127));
  EXPECT_FALSE(node.IsPresent(126));
  EXPECT_FALSE(node.IsPresent(7));

  Bitmap all;
  all.fill(0xFF);
  node.Link().AppendReceived(MakeReceived(2, 0, false, ConfigPayload(all)));
  node.Poll(0);
  EXPECT_TRUE(node.IsPresent(127));
  EXPECT_FALSE(node.IsPresent(128));
  EXPECT_FALSE(node.IsPresent(255));
  EXPECT_EQ(PresentAddresses(node).size(), 128u);
}

TEST(NetworkView, TheLaterAnnouncementReplacesTheEarlier) {
  RecordingNode node;
  Bitmap all;
  all.fill(0xFF);
  node.Link().AppendReceived(MakeReceived(2, 0, false, ConfigPayload(all)));
  Identify(node, 7, 3);
  node.Poll(1);
  EXPECT_EQ(PresentAddresses(node).size(), 128u);
  node.Poll(1);
  EXPECT_EQ(node.GetOwnAddress(), 3);
  EXPECT_EQ(PresentAddresses(node), std::vector<int>{7});

  Bitmap some{};
  some[1] = 0x03;  // addresses 8 and 9
  node.Link().AppendReceived(MakeReceived(4, 0, false, ConfigPayload(some)));
  node.Poll(0);
  EXPECT_EQ(node.GetOwnAddress(), 4);
  EXPECT_EQ(node.GetPeerAddress(), 0);
  EXPECT_EQ(PresentAddresses(node), (std::vector<int>{8, 9}));
  EXPECT_EQ(node.networkChanges, 3);
}

TEST(NetworkView, LinkDownNoticeForgetsTheNetwork) {
  RecordingNode node;
  Identify(node, 5, 1);
  node.Link().AppendReceived(MakeNotice(MSG_NETWORK_EVENT_NOW_INACTIVE));
  node.Poll(1);
  EXPECT_EQ(node.GetPeerAddress(), 5);
  node.Poll(1);
  EXPECT_EQ(node.GetPeerAddress(), kNoAddress);
  EXPECT_EQ(node.GetOwnAddress(), kNoAddress);
  EXPECT_TRUE(PresentAddresses(node).empty());
  EXPECT_EQ(node.networkChanges, 2);
}

// The link is not started, so it is not active: every send is refused, nothing reaches
// the transmit queue and nothing is traced. The payloads are released (the leak checker
// of the asan preset sees any that is not).
TEST(RefusedSend, WhileTheLinkIsDownEverySendReturnsFalseAndQueuesNothing) {
  RecordingNode node;
  Identify(node, 5, 1);
  node.Poll(0);
  node.trace.clear();
  const std::uint8_t data[4] = {1, 2, 3, 4};
  EXPECT_FALSE(node.SendRequestDeviceData(5, 255, true));
  EXPECT_FALSE(node.SendStartFlashDownload(0, 5, 255, true));
  EXPECT_FALSE(node.SendEndFlashDownload(5, 255, true));
  EXPECT_FALSE(node.SendWriteFlash(0x2000, 0, data, 4, 5, 255, true));
  EXPECT_FALSE(node.SendSimple(5, 1, true, MSG_NETWORK_PING));
  EXPECT_FALSE(node.Send(5, 1, false, 2, CNetworkNode::AllocPayload(2, MSG_NETWORK_PING)));
  EXPECT_EQ(node.Link().TakeTransmit(), nullptr);
  EXPECT_TRUE(node.trace.empty());
}

TEST(RefusedSend, NullPayloadIsRefused) {
  RecordingNode node;
  EXPECT_FALSE(node.Send(5, 1, true, 2, nullptr));
}

TEST(SendWriteFlash, MoreThan248DataBytesIsACallersMistake) {
  RecordingNode node;
  std::uint8_t data[249] = {};
  EXPECT_THROW(node.SendWriteFlash(0, 0, data, 249, 5, 255, true), std::invalid_argument);
}

TEST(AllocPayload, WritesTheIdentifierLittleEndian) {
  const CNetworkNode::Payload payload = CNetworkNode::AllocPayload(5, 0x1234);
  EXPECT_EQ(payload[0], 0x34);
  EXPECT_EQ(payload[1], 0x12);
}

}  // namespace
}  // namespace cvm6::test
