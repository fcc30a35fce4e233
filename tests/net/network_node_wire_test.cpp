// The node over a running link, against a far end played in raw bytes on a
// pseudo-terminal: the bytes each send puts on the wire, the sends refused while the
// link is up, and what a link-down does to the node's view of the network.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "net/message_ids.h"
#include "port/serial_port.h"
#include "recording_node.h"
#include "support/pty_pair.h"
#include "support/time_scale.h"

namespace cvm6::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A link that never times out or keeps alive during a test, so the only bytes it writes
// are the ones the test provokes.
LinkLimits QuietLimits() {
  LinkLimits limits;
  limits.keepAliveMs = static_cast<std::uint32_t>(Scaled(5000));
  limits.readTimeoutMs = 600000;
  return limits;
}

class NodeOnWire : public ::testing::Test {
 protected:
  void SetUp() override {
    port = std::make_unique<CSerialPort>(pty.SlavePath().c_str(), 57600, false);
    ASSERT_TRUE(port->m_opened);
    ASSERT_TRUE(node.Link().Start(port.get()));
    // Wake only once the link's own wake burst shows it waiting in its down state: the
    // down state forgets a wake that arrived before it was entered.
    ASSERT_EQ(pty.Read(1, Scaled(2000)), Bytes{0xFF});
    pty.Write(Bytes{0xFF});  // wake: the link comes up and answers with a sync block
    ASSERT_TRUE(PollUntil([&] { return !node.calls.empty(); }));
    ASSERT_EQ(node.Slots(), std::vector<std::string>{"OnNowActive"});
    ASSERT_TRUE(SkipSyncBlock());
    // The unit announces itself as 5 and calls us 1: IDENTIFY, acknowledgement wanted,
    // sequence 1, with its CRC worked out by hand.
    pty.Write(Bytes{0x01, 0x85, 0x01, 0x02, 0x02, 0x00, 0x29});
    ASSERT_EQ(pty.Read(1, Scaled(2000)), Bytes{0xA5});
    ASSERT_TRUE(PollUntil([&] { return node.GetPeerAddress() == 5; }));
    node.trace.clear();
    node.calls.clear();
  }
  void TearDown() override { node.Link().Stop(); }

  bool PollUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Scaled(3000));
    while (std::chrono::steady_clock::now() < deadline) {
      node.Poll(0);
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  // Wake bursts may precede it; the 261 sync bytes end the handshake.
  bool SkipSyncBlock() {
    int syncs = 0;
    while (syncs < 261) {
      const Bytes byte = pty.Read(1, Scaled(2000));
      if (byte.empty()) return false;
      syncs = byte[0] == 0xF0 ? syncs + 1 : 0;
    }
    return true;
  }

  // The next data frame the link writes, read unit by unit from the raw stream: control
  // bytes are skipped, a frame is taken whole by its own length byte.
  Bytes ReadFrame() {
    Bytes frame;
    for (;;) {
      const Bytes first = pty.Read(1, Scaled(2000));
      if (first.empty()) return {};
      if (first[0] & 0x80) continue;
      frame = first;
      break;
    }
    auto take = [&](std::size_t count) {
      const Bytes part = pty.Read(count, Scaled(2000));
      frame.insert(frame.end(), part.begin(), part.end());
      return part.size() == count;
    };
    if (!take(1)) return frame;
    if ((frame[1] & 0x80) && !take(1)) return frame;
    if (!take(1)) return frame;
    const std::size_t length = frame.back() == 0 ? 256 : frame.back();
    take(length + 1);
    return frame;
  }

  // Nothing but control bytes for a while: no frame went out.
  bool NoFrameFollows() {
    for (std::uint8_t byte : pty.ReadUntilQuiet(Scaled(200), Scaled(1000)))
      if (!(byte & 0x80)) return false;
    return true;
  }

  PtyPair pty;
  std::unique_ptr<CSerialPort> port;
  RecordingNode node{QuietLimits()};
};

TEST_F(NodeOnWire, WriteFlashPutsTheExactFrameOnTheLine) {
  const std::uint8_t data[3] = {0xFF, 0xF0, 0xA5};  // control values are plain data inside
  ASSERT_TRUE(node.SendWriteFlash(0x00012345, 0x0102, data, 3, 5, 255, true));
  // To 5, from our address 1 with acknowledgement wanted, sequence 1, length 11; payload
  // id 0x19, sequence 0x0102, address 0x00012345, the data; CRC-8 worked out by hand.
  EXPECT_EQ(ReadFrame(), (Bytes{0x05, 0x81, 0x01, 0x0B, 0x19, 0x00, 0x02, 0x01, 0x45, 0x23, 0x01, 0x00, 0xFF,
                                0xF0, 0xA5, 0x8D}));
  EXPECT_EQ(node.trace, std::vector<std::string>{"SND: MSG_SYSTEM_DO_WRITE_FLASH\n"});
  pty.Write(Bytes{0xA5});
}

TEST_F(NodeOnWire, FullWriteFlashBlockGoesOutWithLengthByteZero) {
  std::uint8_t data[248];
  for (int i = 0; i < 248; ++i) data[i] = static_cast<std::uint8_t>(255 - i);
  ASSERT_TRUE(node.SendWriteFlash(0xDEADBEEF, 0xFFFF, data, 248, 5, 255, true));
  const Bytes head{0x19, 0x00, 0xFF, 0xFF, 0xEF, 0xBE, 0xAD, 0xDE};
  Bytes payload(256);
  std::copy(head.begin(), head.end(), payload.begin());
  std::copy(data, data + 248, payload.begin() + 8);
  const Bytes frame = ReadFrame();
  ASSERT_EQ(frame.size(), 261u);
  EXPECT_EQ(frame[3], 0x00);
  EXPECT_EQ(frame, WireFrame(5, 1, true, 1, payload));
}

TEST_F(NodeOnWire, EmptyWriteFlashBlockIsTheEightByteHead) {
  ASSERT_TRUE(node.SendWriteFlash(0x2000, 7, nullptr, 0, 5, 255, true));
  EXPECT_EQ(ReadFrame(), WireFrame(5, 1, true, 1, Bytes{0x19, 0x00, 0x07, 0x00, 0x00, 0x20, 0x00, 0x00}));
}

TEST_F(NodeOnWire, RequestsGoOutOneAtATimeWithTheirLayouts) {
  ASSERT_TRUE(node.SendStartFlashDownload(2, 5, 255, true));
  ASSERT_TRUE(node.SendRequestDeviceData(5, 255, true));
  ASSERT_TRUE(node.SendEndFlashDownload(5, 255, false));
  EXPECT_EQ(ReadFrame(), WireFrame(5, 1, true, 1, Bytes{0x15, 0x00, 0x02}));
  pty.Write(Bytes{0xA5});
  EXPECT_EQ(ReadFrame(), WireFrame(5, 1, true, 2, Bytes{0x1A, 0x00}));
  pty.Write(Bytes{0xA5});
  EXPECT_EQ(ReadFrame(), WireFrame(5, 1, false, 0, Bytes{0x17, 0x00}));
  EXPECT_EQ(node.trace, (std::vector<std::string>{"SND: MSG_SYSTEM_DO_START_FLASH_DOWNLOAD\n",
                                                  "SND: MSG_SYSTEM_REQUEST_DEVICE_DATA\n",
                                                  "SND: MSG_SYSTEM_DO_END_FLASH_DOWNLOAD\n"}));
}

TEST_F(NodeOnWire, AnIdentifierWithoutARowIsSentUntraced) {
  ASSERT_TRUE(node.SendSimple(5, 255, false, 0x0A));
  EXPECT_EQ(ReadFrame(), WireFrame(5, 1, false, 0, Bytes{0x0A, 0x00}));
  EXPECT_TRUE(node.trace.empty());
}

TEST_F(NodeOnWire, SendsToAbsentOrInvalidAddressesAreRefusedWhileUp) {
  ASSERT_TRUE(node.Link().IsActive());
  EXPECT_FALSE(node.SendRequestDeviceData(6, 255, true));     // not present
  EXPECT_FALSE(node.SendRequestDeviceData(255, 255, true));   // never present
  EXPECT_FALSE(node.SendSimple(133, 255, true, MSG_NETWORK_PING));
  EXPECT_FALSE(node.SendRequestDeviceData(5, 128, true));     // no such source
  EXPECT_FALSE(node.SendRequestDeviceData(5, 200, true));
  EXPECT_TRUE(NoFrameFollows());
  EXPECT_TRUE(node.trace.empty());
  // The same request to the unit itself does go.
  ASSERT_TRUE(node.SendRequestDeviceData(5, 255, false));
  EXPECT_EQ(ReadFrame(), WireFrame(5, 1, false, 0, Bytes{0x1A, 0x00}));
}

TEST_F(NodeOnWire, AnUnknownOwnAddressRefusesDefaultSourceButNotAnExplicitOne) {
  // A configuration that names no address for us (only possible off the wire).
  Bytes config = IdPayload(MSG_NETWORK_DID_CONFIG, 2);
  config.insert(config.end(), 16, 0xFF);
  node.Link().AppendReceived(MakeReceived(255, 0, false, config));
  node.Poll(0);
  ASSERT_EQ(node.GetOwnAddress(), kNoAddress);
  ASSERT_TRUE(node.IsPresent(3));
  EXPECT_FALSE(node.SendSimple(3, 255, false, MSG_NETWORK_PING));
  EXPECT_TRUE(NoFrameFollows());
  ASSERT_TRUE(node.SendSimple(3, 9, false, MSG_NETWORK_PING));
  EXPECT_EQ(ReadFrame(), WireFrame(3, 9, false, 0, Bytes{0x00, 0x00}));
}

TEST_F(NodeOnWire, LinkDownMakesTheNodeForgetTheNetwork) {
  pty.Write(Bytes{0x80});  // not a control byte the link knows: it takes the link down
  ASSERT_TRUE(PollUntil([&] { return !node.calls.empty(); }));
  EXPECT_EQ(node.Slots(), std::vector<std::string>{"OnNowInactive"});
  EXPECT_EQ(node.GetPeerAddress(), kNoAddress);
  EXPECT_EQ(node.GetOwnAddress(), kNoAddress);
  for (int address = 0; address < 256; ++address) EXPECT_FALSE(node.IsPresent(static_cast<std::uint8_t>(address)));
  EXPECT_FALSE(node.SendRequestDeviceData(5, 255, true));
  EXPECT_EQ(node.networkChanges, 2);  // identification, then the loss
}

TEST_F(NodeOnWire, MessagesFromTheUnitReachTheirHandlersInOrder) {
  // DID_WRITE_FLASH for block 0x0203, then DID_START_FLASH_DOWNLOAD for target 0, both
  // without acknowledgement.
  pty.Write(WireFrame(1, 5, false, 0, Bytes{0x24, 0x00, 0x03, 0x02}));
  pty.Write(WireFrame(1, 5, false, 0, Bytes{0x16, 0x00, 0x00}));
  ASSERT_TRUE(PollUntil([&] { return node.calls.size() == 2; }));
  EXPECT_EQ(node.Slots(), (std::vector<std::string>{"OnDidWriteFlash", "OnDidStartFlashDownload"}));
  EXPECT_EQ(node.calls[0].info.source, 5);
  EXPECT_EQ(node.calls[0].info.destination, 1);
}

}  // namespace
}  // namespace cvm6::test
