// Where Poll sends each received message: frames are placed straight on a real link's
// receive queue (the link threads are not running).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/message_ids.h"
#include "recording_node.h"

namespace cvm6::test {
namespace {

using Slots = std::vector<std::string>;

struct DispatchCase {
  std::uint16_t id;
  std::size_t length;
  const char* slot;
  const char* traceName;  // null: the id has no catalogue row and no trace line
};

class PollDispatch : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(PollDispatch, SendsTheMessageToItsSlotWithItsFrameInfo) {
  const DispatchCase& c = GetParam();
  RecordingNode node;
  node.Link().AppendReceived(MakeReceived(1, 0, true, IdPayload(c.id, c.length)));
  node.Poll(0);
  ASSERT_EQ(node.Slots(), Slots{c.slot});
  const HandlerCall& call = node.calls[0];
  EXPECT_EQ(call.info.destination, 1);
  EXPECT_EQ(call.info.source, 0);
  EXPECT_TRUE(call.info.ackWanted);
  if (call.slot == "OnUnhandled") {
    EXPECT_EQ(call.id, c.id);
    EXPECT_EQ(call.lengthByte, static_cast<std::uint8_t>(c.length));
    EXPECT_EQ(call.payload, IdPayload(c.id, c.length));
  }
  if (c.traceName)
    EXPECT_EQ(node.trace, Slots{std::string("RCV: ") + c.traceName + "\n"});
  else
    EXPECT_TRUE(node.trace.empty());
}

INSTANTIATE_TEST_SUITE_P(
    EverySlotAndSomeUnhandled, PollDispatch,
    ::testing::Values(
        DispatchCase{0x00, 2, "OnPing", "MSG_NETWORK_PING"},
        DispatchCase{0x01, 18, "OnDidConfig", "MSG_NETWORK_DID_CONFIG"},
        DispatchCase{0x02, 2, "OnIdentify", "MSG_NETWORK_IDENTIFY"},
        DispatchCase{0x03, 4, "OnDoAddToList", "MSG_NETWORK_DO_ADD_TO_LIST"},
        DispatchCase{0x04, 4, "OnDidAddToList", "MSG_NETWORK_DID_ADD_TO_LIST"},
        DispatchCase{0x05, 4, "OnDoRemoveFromList", "MSG_NETWORK_DO_REMOVE_FROM_LIST"},
        DispatchCase{0x06, 4, "OnDidRemoveFromList", "MSG_NETWORK_DID_REMOVE_FROM_LIST"},
        DispatchCase{0x07, 3, "OnDoClearList", "MSG_NETWORK_DO_CLEAR_LIST"},
        DispatchCase{0x08, 2, "OnUnhandled", "MSG_NETWORK_POLL_LIST_REQUEST"},
        DispatchCase{0x09, 103, "OnPollListReply", "MSG_NETWORK_POLL_LIST_REPLY"},
        DispatchCase{0x0E, 2, "OnUnhandled", "MSG_NETWORK_EVENT_NOW_INACTIVE"},
        DispatchCase{0x0F, 2, "OnUnhandled", "MSG_NETWORK_EVENT_NOW_ACTIVE"},
        DispatchCase{0x10, 2, "OnDoSoftReset", "MSG_SYSTEM_DO_SOFT_RESET"},
        DispatchCase{0x11, 2, "OnDoFactoryReset", "MSG_SYSTEM_DO_FACTORY_RESET"},
        DispatchCase{0x12, 2, "OnDidPowerOnReset", "MSG_SYSTEM_DID_POWER_ON_RESET"},
        DispatchCase{0x13, 2, "OnDidSoftReset", "MSG_SYSTEM_DID_SOFT_RESET"},
        DispatchCase{0x14, 2, "OnDidFactoryReset", "MSG_SYSTEM_DID_FACTORY_RESET"},
        DispatchCase{0x15, 3, "OnDoStartFlashDownload", "MSG_SYSTEM_DO_START_FLASH_DOWNLOAD"},
        DispatchCase{0x16, 3, "OnDidStartFlashDownload", "MSG_SYSTEM_DID_START_FLASH_DOWNLOAD"},
        DispatchCase{0x17, 2, "OnDoEndFlashDownload", "MSG_SYSTEM_DO_END_FLASH_DOWNLOAD"},
        DispatchCase{0x18, 7, "OnDidEndFlashDownload", "MSG_SYSTEM_DID_END_FLASH_DOWNLOAD"},
        DispatchCase{0x19, 8, "OnDoWriteFlash", "MSG_SYSTEM_DO_WRITE_FLASH"},
        DispatchCase{0x24, 4, "OnDidWriteFlash", "MSG_SYSTEM_DID_WRITE_FLASH"},
        DispatchCase{0x1A, 2, "OnRequestDeviceData", "MSG_SYSTEM_REQUEST_DEVICE_DATA"},
        DispatchCase{0x1B, 10, "OnReplyDeviceData", "MSG_SYSTEM_REPLY_DEVICE_DATA"},
        DispatchCase{0x1C, 4, "OnUnhandled", "MSG_SYSTEM_WRITE_DEVICE_NAME"},
        DispatchCase{0x23, 5, "OnUnhandled", "MSG_SYSTEM_WRITE_STATE"},
        DispatchCase{0x2D, 5, "OnUnhandled", "MSG_ERROR_INVALID_MESSAGE"},
        DispatchCase{0xB8, 3, "OnUnhandled", "MSG_CONFIG_WRITE_MUTE_STATUS"},
        DispatchCase{0xC1, 75, "OnUnhandled", "MSG_UTILITY_REPLY"},
        DispatchCase{0x0A, 2, "OnUnhandled", nullptr},
        DispatchCase{0x0A, 256, "OnUnhandled", nullptr},
        DispatchCase{0x25, 9, "OnUnhandled", nullptr},
        DispatchCase{0xD2, 6, "OnUnhandled", nullptr},
        // A high byte that is not 0 makes a different identifier, not IDENTIFY.
        DispatchCase{0x0102, 2, "OnUnhandled", nullptr}),
    [](const auto& caseInfo) {
      return std::string(caseInfo.param.slot) + "Id" + std::to_string(caseInfo.param.id) + "Len" +
             std::to_string(caseInfo.param.length);
    });

TEST(PollDispatch, HandsTheFramesOwnAddressesAndFlagToTheHandler) {
  RecordingNode node;
  node.Link().AppendReceived(MakeReceived(3, 7, false, IdPayload(MSG_NETWORK_PING)));
  node.Poll(0);
  ASSERT_EQ(node.Slots(), Slots{"OnPing"});
  EXPECT_EQ(node.calls[0].info.destination, 3);
  EXPECT_EQ(node.calls[0].info.source, 7);
  EXPECT_FALSE(node.calls[0].info.ackWanted);
}

TEST(PollDispatch, MessagesNamedByAPromptTraceThePromptText) {
  RecordingNode node;
  node.Link().AppendReceived(MakeReceived(1, 0, true, IdPayload(0xD1, 6)));
  node.Poll(0);
  ASSERT_EQ(node.Slots(), Slots{"OnUnhandled"});
  ASSERT_EQ(node.trace.size(), 1u);
  EXPECT_EQ(node.trace[0].rfind("RCV: Update Complete!", 0), 0u);
  EXPECT_EQ(node.trace[0].back(), '\n');
}

TEST(PollCount, ZeroOnAnEmptyQueueReturnsWithoutCallingAnyHandler) {
  RecordingNode node;
  node.Poll(0);
  EXPECT_TRUE(node.calls.empty());
}

TEST(PollCount, OneHandlesExactlyOneOfThreeInArrivalOrder) {
  RecordingNode node;
  node.Link().AppendReceived(MakeReceived(1, 0, false, IdPayload(MSG_NETWORK_PING)));
  node.Link().AppendReceived(MakeReceived(1, 0, false, IdPayload(MSG_SYSTEM_DID_SOFT_RESET)));
  node.Link().AppendReceived(MakeReceived(1, 0, false, IdPayload(MSG_SYSTEM_DO_SOFT_RESET)));
  node.Poll(1);
  EXPECT_EQ(node.Slots(), Slots{"OnPing"});
  node.Poll(2);
  EXPECT_EQ(node.Slots(), (Slots{"OnPing", "OnDidSoftReset", "OnDoSoftReset"}));
}

TEST(PollCount, MoreThanQueuedHandlesAllAndReturns) {
  RecordingNode node;
  node.Link().AppendReceived(MakeReceived(1, 0, false, IdPayload(MSG_NETWORK_PING)));
  node.Link().AppendReceived(MakeReceived(1, 0, false, IdPayload(MSG_NETWORK_PING)));
  node.Poll(5);
  EXPECT_EQ(node.calls.size(), 2u);
  EXPECT_EQ(node.Link().TakeReceived(), nullptr);
}

TEST(PollCount, ZeroDrainsTheQueue) {
  RecordingNode node;
  for (int i = 0; i < 4; ++i) node.Link().AppendReceived(MakeReceived(1, 0, false, IdPayload(MSG_NETWORK_PING)));
  node.Poll(0);
  EXPECT_EQ(node.calls.size(), 4u);
  EXPECT_EQ(node.Link().TakeReceived(), nullptr);
}

TEST(LinkNotices, ActiveNoticeFromTheLinkCallsOnNowActive) {
  RecordingNode node;
  node.Link().AppendReceived(MakeNotice(MSG_NETWORK_EVENT_NOW_ACTIVE));
  node.Poll(0);
  EXPECT_EQ(node.Slots(), Slots{"OnNowActive"});
  EXPECT_EQ(node.trace, Slots{"RCV: MSG_NETWORK_EVENT_NOW_ACTIVE\n"});
}

TEST(LinkNotices, SameIdsFromARealAddressAreUnhandled) {
  RecordingNode node;
  node.Link().AppendReceived(MakeReceived(255, 5, false, IdPayload(MSG_NETWORK_EVENT_NOW_ACTIVE)));
  node.Link().AppendReceived(MakeReceived(5, 255, false, IdPayload(MSG_NETWORK_EVENT_NOW_INACTIVE)));
  node.Poll(0);
  EXPECT_EQ(node.Slots(), (Slots{"OnUnhandled", "OnUnhandled"}));
  EXPECT_EQ(node.networkChanges, 0);
}

TEST(LinkNotices, LengthIsCheckedBeforeTheNoticeIsRecognised) {
  RecordingNode node;
  node.Link().AppendReceived(MakeReceived(255, 255, false, IdPayload(MSG_NETWORK_EVENT_NOW_INACTIVE, 3)));
  node.Poll(0);
  ASSERT_EQ(node.Slots(), Slots{"OnInvalidLength"});
  EXPECT_EQ(node.calls[0].id, MSG_NETWORK_EVENT_NOW_INACTIVE);
  EXPECT_EQ(node.calls[0].lengthByte, 3);
  EXPECT_EQ(node.trace, Slots{"DEL: MSG_NETWORK_EVENT_NOW_INACTIVE\n"});
  EXPECT_EQ(node.networkChanges, 0);
}

TEST(LengthCheck, CatalogedIdOfWrongLengthGoesOnlyToOnInvalidLength) {
  RecordingNode node;
  node.Link().AppendReceived(MakeReceived(1, 5, true, IdPayload(MSG_NETWORK_IDENTIFY, 3)));
  node.Link().AppendReceived(MakeReceived(1, 0, true, IdPayload(MSG_NETWORK_POLL_LIST_REQUEST, 3)));
  node.Poll(0);
  ASSERT_EQ(node.Slots(), (Slots{"OnInvalidLength", "OnInvalidLength"}));
  EXPECT_EQ(node.calls[1].payload, IdPayload(MSG_NETWORK_POLL_LIST_REQUEST, 3));
  EXPECT_EQ(node.trace, (Slots{"DEL: MSG_NETWORK_IDENTIFY\n", "DEL: MSG_NETWORK_POLL_LIST_REQUEST\n"}));
  EXPECT_EQ(node.GetPeerAddress(), kNoAddress);  // the short IDENTIFY identified nothing
}

TEST(LengthCheck, FullPayloadIsReadAs256) {
  RecordingNode node;
  node.Link().AppendReceived(MakeReceived(1, 0, false, IdPayload(MSG_PROGRAM_REPLY_BULK_DATA, 256)));
  node.Link().AppendReceived(MakeReceived(1, 0, false, IdPayload(MSG_SYSTEM_WRITE_DEVICE_NAME, 256)));
  node.Poll(0);
  EXPECT_EQ(node.Slots(), (Slots{"OnInvalidLength", "OnUnhandled"}));
  EXPECT_EQ(node.calls[1].lengthByte, 0);
  EXPECT_EQ(node.calls[1].payload.size(), 256u);
}

TEST(WriteFlashDispatch, FullPayloadCarries248DataBytes) {
  RecordingNode node;
  std::vector<std::uint8_t> payload = IdPayload(MSG_SYSTEM_DO_WRITE_FLASH, 256);
  for (std::size_t i = 8; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 3);
  node.Link().AppendReceived(MakeReceived(1, 0, true, payload));
  node.Poll(0);
  ASSERT_EQ(node.Slots(), Slots{"OnDoWriteFlash"});
  EXPECT_EQ(node.calls[0].dataLength, 248);
  EXPECT_EQ(node.calls[0].payload, std::vector<std::uint8_t>(payload.begin() + 8, payload.end()));
}

TEST(WriteFlashDispatch, HeadOnlyCarriesNoDataAndShorterIsInvalid) {
  RecordingNode node;
  node.Link().AppendReceived(MakeReceived(1, 0, true, IdPayload(MSG_SYSTEM_DO_WRITE_FLASH, 8)));
  node.Link().AppendReceived(MakeReceived(1, 0, true, IdPayload(MSG_SYSTEM_DO_WRITE_FLASH, 7)));
  node.Poll(0);
  ASSERT_EQ(node.Slots(), (Slots{"OnDoWriteFlash", "OnInvalidLength"}));
  EXPECT_EQ(node.calls[0].dataLength, 0);
}

// One byte holds no whole identifier: nothing may read a second byte (ASan watches the
// exact one-byte buffer), and it must not pass for the identifier it starts.
TEST(ShortPayload, OneByteGoesToOnUnhandledWithoutTraceOrSideEffects) {
  RecordingNode node;
  node.Link().AppendReceived(MakeReceived(1, 5, true, {MSG_NETWORK_IDENTIFY}));
  node.Link().AppendReceived(MakeReceived(255, 255, false, {MSG_NETWORK_EVENT_NOW_ACTIVE}));
  node.Poll(0);
  ASSERT_EQ(node.Slots(), (Slots{"OnUnhandled", "OnUnhandled"}));
  EXPECT_EQ(node.calls[0].lengthByte, 1);
  EXPECT_EQ(node.calls[0].id, MSG_NETWORK_IDENTIFY);
  EXPECT_EQ(node.calls[0].payload, std::vector<std::uint8_t>{MSG_NETWORK_IDENTIFY});
  EXPECT_TRUE(node.trace.empty());
  EXPECT_EQ(node.GetPeerAddress(), kNoAddress);
}

TEST(TraceSink, AnEmptySinkDiscardsTheLines) {
  RecordingNode node;
  node.SetTraceSink({});
  node.Link().AppendReceived(MakeReceived(1, 0, false, IdPayload(MSG_NETWORK_PING)));
  node.Poll(0);
  EXPECT_EQ(node.calls.size(), 1u);
  EXPECT_TRUE(node.trace.empty());
}

}  // namespace
}  // namespace cvm6::test
