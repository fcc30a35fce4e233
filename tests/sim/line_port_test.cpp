// The line between model and updater on its own: byte faults in both directions, the
// acknowledgement faults, duplicates, silence, injected bytes and overrun.
#include <gtest/gtest.h>

#include <bit>
#include <thread>

#include "platform/failure.h"
#include "sim/line_port.h"
#include "sim/pty_master_port.h"
#include "slave_end.h"
#include "support/time_scale.h"
#include "support/wire.h"

namespace cvm6::test {
namespace {

Bytes Pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 13 + i / 256) & 0xFF);
  return bytes;
}

class LinePortTest : public ::testing::Test {
 protected:
  void Open(const LineFaults& faults, std::uint32_t latencyMs = 0) {
    ASSERT_TRUE(master.m_opened) << master.ErrorText();
    line = std::make_unique<CLinePort>(master, 0, faults, latencyMs);
    slave = std::make_unique<SlaveEnd>(master.SlavePath());
    ASSERT_TRUE(slave->IsOpen());
  }
  // Sends `bytes` through the line in writes of 200 and returns what the updater got.
  Bytes ThroughToHost(const Bytes& bytes) {
    Bytes got;
    std::thread reader([&] { got = slave->Read(bytes.size(), Scaled(500)); });
    for (std::size_t at = 0; at < bytes.size(); at += 200)
      line->Write(bytes.data() + at, static_cast<std::uint32_t>(std::min<std::size_t>(200, bytes.size() - at)), 0);
    reader.join();
    return got;
  }
  // Has the updater send `bytes` and reads `expect` of them through the line.
  Bytes FromHost(const Bytes& bytes, std::size_t expect) {
    std::thread writer([&] { slave->Write(bytes); });
    Bytes got(expect);
    line->Read(got.data(), static_cast<std::uint32_t>(expect), static_cast<std::uint32_t>(Scaled(3000)));
    writer.join();
    return got;
  }
  static void ExpectSingleBitFlips(const Bytes& sent, const Bytes& got, std::uint64_t flipped) {
    ASSERT_EQ(sent.size(), got.size());
    std::uint64_t differing = 0;
    for (std::size_t i = 0; i < sent.size(); ++i) {
      if (sent[i] == got[i]) continue;
      ++differing;
      EXPECT_EQ(std::popcount(static_cast<unsigned>(sent[i] ^ got[i])), 1) << "at " << i;
    }
    EXPECT_EQ(differing, flipped);
    // 2 % of 20000: 400 expected, the bounds are many deviations away.
    EXPECT_GT(differing, 300u);
    EXPECT_LT(differing, 500u);
  }

  CPtyMasterPort master;
  std::unique_ptr<CLinePort> line;
  std::unique_ptr<SlaveEnd> slave;
};

TEST_F(LinePortTest, CorruptionFlipsOneBitOfAboutTheRateOfBytesEachWay) {
  LineFaults faults;
  faults.corruptToHost = 0.02;
  faults.corruptFromHost = 0.02;
  Open(faults);
  const Bytes sent = Pattern(20000);
  const Bytes toHost = ThroughToHost(sent);
  ExpectSingleBitFlips(sent, toHost, line->Counters().corruptedToHost);
  const Bytes fromHost = FromHost(sent, sent.size());
  ExpectSingleBitFlips(sent, fromHost, line->Counters().corruptedFromHost);
  EXPECT_EQ(line->Counters().droppedToHost + line->Counters().droppedFromHost, 0u);
}

TEST_F(LinePortTest, DropsLoseBytesAndKeepTheRestInOrder) {
  LineFaults faults;
  faults.dropToHost = 0.02;
  faults.dropFromHost = 0.02;
  Open(faults);
  const Bytes sent = Pattern(20000);
  auto isOrderedSubset = [&](const Bytes& got) {
    std::size_t at = 0;
    for (std::uint8_t byte : got) {
      while (at < sent.size() && sent[at] != byte) ++at;
      if (at++ == sent.size()) return false;
    }
    return true;
  };
  const Bytes toHost = ThroughToHost(sent);
  EXPECT_EQ(toHost.size(), sent.size() - line->Counters().droppedToHost);
  EXPECT_GT(line->Counters().droppedToHost, 300u);
  EXPECT_TRUE(isOrderedSubset(toHost));

  // Reading asks for what arrives after the losses; the rest must come in order.
  std::thread writer([&] { slave->Write(sent); });
  Bytes fromHost;
  std::uint8_t byte;
  try {
    for (;;) {
      line->Read(&byte, 1, static_cast<std::uint32_t>(Scaled(300)));
      fromHost.push_back(byte);
    }
  } catch (const CFailure& failure) {
    EXPECT_EQ(failure.code(), 1105);
  }
  writer.join();
  EXPECT_EQ(fromHost.size(), sent.size() - line->Counters().droppedFromHost);
  EXPECT_GT(line->Counters().droppedFromHost, 300u);
  EXPECT_TRUE(isOrderedSubset(fromHost));
  EXPECT_EQ(line->Counters().corruptedToHost + line->Counters().corruptedFromHost, 0u);
}

TEST_F(LinePortTest, SameSeedDamagesTheSameBytes) {
  LineFaults faults;
  faults.seed = 42;
  faults.corruptToHost = 0.05;
  faults.dropToHost = 0.05;
  Open(faults);
  const Bytes sent = Pattern(5000);
  const Bytes first = ThroughToHost(sent);
  CPtyMasterPort otherMaster;
  CLinePort other(otherMaster, 0, faults);
  SlaveEnd otherSlave(otherMaster.SlavePath());
  Bytes second;
  std::thread reader([&] { second = otherSlave.Read(sent.size(), Scaled(500)); });
  for (std::size_t at = 0; at < sent.size(); at += 200) other.Write(sent.data() + at, 200, 0);
  reader.join();
  EXPECT_EQ(first, second);
}

TEST_F(LinePortTest, AcknowledgementFaultsHitOnlyTheirOwnAcknowledgement) {
  LineFaults faults;
  faults.nakAck = 2;
  faults.loseAck = 3;
  Open(faults);
  const std::uint8_t ack = 0xA5;
  for (int i = 0; i < 5; ++i) line->Write(&ack, 1, 0);
  // A 0xA5 inside a longer write is data, never an acknowledgement.
  const Bytes frame = {0x00, 0x01, 0x02, 0xA5, 0xA5, 0x00};
  line->Write(frame.data(), static_cast<std::uint32_t>(frame.size()), 0);
  Bytes expected = {0xA5, 0xDA, 0xA5, 0xA5};
  expected.insert(expected.end(), frame.begin(), frame.end());
  EXPECT_EQ(slave->Read(100, Scaled(200)), expected);
  EXPECT_EQ(line->Counters().acks, 5u);
}

TEST_F(LinePortTest, EveryNthAcknowledgementGoesOutAsNak) {
  LineFaults faults;
  faults.nakEvery = 3;
  Open(faults);
  const std::uint8_t ack = 0xA5;
  for (int i = 0; i < 7; ++i) line->Write(&ack, 1, 0);
  EXPECT_EQ(slave->Read(7, Scaled(200)), (Bytes{0xA5, 0xA5, 0xDA, 0xA5, 0xA5, 0xDA, 0xA5}));
  EXPECT_EQ(line->Counters().acks, 7u);
}

TEST_F(LinePortTest, DuplicatedFramesGoOutTwiceAndBothAcknowledgementsComeThrough) {
  LineFaults faults;
  faults.duplicateEvery = 2;
  Open(faults);
  const Bytes a = {0x00, 0x01, 0x02, 0x0A, 0x00, 0x11}, b = {0x00, 0x01, 0x02, 0x0B, 0x00, 0x22};
  const Bytes sync(261, 0xF0);  // not a frame: never doubled
  line->Write(a.data(), 6, 0);
  line->Write(sync.data(), 261, 0);
  line->Write(b.data(), 6, 0);
  Bytes expected = a;
  expected.insert(expected.end(), sync.begin(), sync.end());
  expected.insert(expected.end(), b.begin(), b.end());
  expected.insert(expected.end(), b.begin(), b.end());
  EXPECT_EQ(slave->Read(1000, Scaled(200)), expected);

  slave->Write({0xA5, 0xA5, 0x8C});
  Bytes got(3);
  line->Read(got.data(), 3, static_cast<std::uint32_t>(Scaled(1000)));
  EXPECT_EQ(got, (Bytes{0xA5, 0xA5, 0x8C}));
  EXPECT_EQ(line->Counters().acksFromHost, 2u);
}

TEST_F(LinePortTest, InjectedByteLeadsTheNextWriteAndSilenceStopsOnlyTheSending) {
  Open({});
  line->InjectControl(0x81);
  const std::uint8_t keepAlive = 0x8C;
  line->Write(&keepAlive, 1, 0);
  line->Write(&keepAlive, 1, 0);
  EXPECT_EQ(slave->Read(10, Scaled(200)), (Bytes{0x81, 0x8C, 0x8C}));
  // Held back until the link has written a frame more than it had.
  line->InjectControl(0x82, line->Counters().framesWritten);
  line->Write(&keepAlive, 1, 0);
  const Bytes frame = WireFrame(0, 1, std::uint8_t{1}, {0x24, 0x00, 0x00, 0x00});
  line->Write(frame.data(), static_cast<std::uint32_t>(frame.size()), 0);
  line->Write(&keepAlive, 1, 0);
  Bytes expected{0x8C};
  expected.insert(expected.end(), frame.begin(), frame.end());
  expected.insert(expected.end(), {0x82, 0x8C});
  EXPECT_EQ(slave->Read(100, Scaled(200)), expected);

  line->Silence();
  line->Write(&keepAlive, 1, 0);
  EXPECT_TRUE(slave->Read(10, 200).empty());
  EXPECT_EQ(FromHost({1, 2, 3}, 3), (Bytes{1, 2, 3}));
  EXPECT_EQ(line->Counters().silencedBytes, 1u);
}

TEST_F(LinePortTest, AHostThatDoesNotReadNeverHoldsTheModelUp) {
  Open({});
  const Bytes lots(256 * 1024, 0xF0);
  const auto before = std::chrono::steady_clock::now();
  line->Write(lots.data(), static_cast<std::uint32_t>(lots.size()), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(Scaled(10000)));
  EXPECT_GT(master.OverrunBytes(), 0u);
}

TEST_F(LinePortTest, ClosingTheMasterIsAHangUpForTheHostAndEndsTheModelsTransfers) {
  Open({});
  std::thread reader([&] {
    std::uint8_t byte;
    try {
      line->Read(&byte, 1, 0);
      ADD_FAILURE() << "a read on an unplugged port returned";
    } catch (const CFailure& failure) {
      EXPECT_EQ(failure.code(), 1102);
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  master.Close();
  reader.join();
  EXPECT_THROW(line->Write("x", 1, 0), CFailure);
}

// The host's adapter with a latency timer: 62 waiting go at once, the rest waits its time.
TEST_F(LinePortTest, TheAdapterHoldsWhatItReceivedForItsLatencyUnless62AreWaiting) {
  const std::uint32_t latencyMs = static_cast<std::uint32_t>(Scaled(500));  // the writes come well within it
  Open({}, latencyMs);
  const Bytes sent = Pattern(71);
  const auto written = std::chrono::steady_clock::now();
  line->Write(sent.data(), 1, 0);  // a lone byte, as the unit's 0xA5 is
  line->Write(sent.data() + 1, 70, 0);
  std::vector<std::chrono::steady_clock::time_point> at;
  ASSERT_EQ(slave->Read(71, Scaled(5000), &at), sent);
  EXPECT_EQ(at[61], at[0]);                                            // one packet, at once
  EXPECT_GE(at[62] - written, std::chrono::milliseconds(latencyMs));  // the other 9 waited
}

}  // namespace
}  // namespace cvm6::test
