// Two links back to back over pseudo-terminals, with a noisy middle between them.
// The middle knows the wire format and does only damage the protocol is built to
// survive: a flipped bit in a frame (always caught by the CRC-8), a lost 0xA5, and a
// 0xA5 turned into an unrecognised control byte (the link drops and comes back).
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "frames.h"
#include "link/link.h"
#include "port/serial_port.h"
#include "support/pty_pair.h"
#include "support/time_scale.h"

namespace cvm6 {
namespace {

using test::PtyPair;

struct NoiseStats {
  int flips = 0, droppedAcks = 0, badControls = 0;
};

// Follows one direction of the byte stream unit by unit and damages it.
class NoisyDirection {
 public:
  // `lostAckRate`: chance that a 0xA5 is lost; the soak sets it for a dozen losses a run
  // whatever its length, so that the resend path is always exercised.
  NoisyDirection(std::uint32_t seed, double lostAckRate, NoiseStats& stats)
      : m_random(seed), m_lostAckRate(lostAckRate), m_stats(stats) {}

  // Returns false when the byte is to be dropped.
  bool Pass(std::uint8_t& byte) {
    if (m_left == 0) return AtUnitStart(byte);
    --m_left;
    switch (m_field) {
      case Field::Source:
        if (byte & 0x80) {
          m_field = Field::Sequence;
          m_left = 2;
        } else {
          m_field = Field::Length;
          m_left = 1;
        }
        return true;
      case Field::Sequence:
        m_field = Field::Length;
        return true;
      case Field::Length:
        m_left = (byte == 0 ? 256 : byte) + 1;
        m_field = Field::Body;
        m_flipAt = Chance(0.01) ? static_cast<int>(m_random() % m_left) : -1;
        return true;
      case Field::Body:
        if (m_flipAt == static_cast<int>(m_left)) {
          byte ^= static_cast<std::uint8_t>(1u << (m_random() % 8));
          ++m_stats.flips;
        }
        return true;
    }
    return true;
  }

 private:
  enum class Field { Source, Sequence, Length, Body };

  bool AtUnitStart(std::uint8_t& byte) {
    if (!(byte & 0x80)) {
      m_field = Field::Source;
      m_left = 1;
      return true;
    }
    if (byte == 0xA5 && Chance(m_lostAckRate)) {
      ++m_stats.droppedAcks;
      return false;
    }
    if (byte == 0xA5 && Chance(0.0003)) {
      ++m_stats.badControls;
      byte = 0x80;
    }
    return true;
  }
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(m_random) < p; }

  std::mt19937 m_random;
  double m_lostAckRate;
  NoiseStats& m_stats;
  Field m_field = Field::Source;
  std::size_t m_left = 0;
  int m_flipAt = -1;
};

void Relay(PtyPair& from, PtyPair& to, NoisyDirection& noise, std::atomic<bool>& stop) {
  std::uint8_t buffer[4096];
  while (!stop) {
    const int n = from.ReadSome(buffer, sizeof buffer, 20);
    if (n <= 0) continue;
    std::size_t kept = 0;
    for (int i = 0; i < n; ++i)
      if (noise.Pass(buffer[i])) buffer[kept++] = buffer[i];
    to.Write(buffer, kept);
  }
}

// Payload of frame `index` from side `side`: its index, then bytes anyone can recompute.
std::vector<std::uint8_t> PayloadFor(int side, std::uint32_t index) {
  std::mt19937 random(index * 2 + static_cast<std::uint32_t>(side));
  const std::size_t size = 6 + random() % 251;  // 6..256
  std::vector<std::uint8_t> payload(size);
  payload[0] = 0x00;
  payload[1] = 0x00;
  for (int i = 0; i < 4; ++i) payload[2 + i] = static_cast<std::uint8_t>(index >> (8 * i));
  for (std::size_t i = 6; i < size; ++i) payload[i] = static_cast<std::uint8_t>(random());
  return payload;
}

FramePtr FrameFor(int side, std::uint32_t index) {
  return test::QueuedFrame(static_cast<std::uint8_t>(side == 0 ? 2 : 1), static_cast<std::uint8_t>(side == 0 ? 1 : 2),
                           true, PayloadFor(side, index));
}

TEST(LinkSoak, TwoLinksThroughANoisyMiddleDeliverEveryFrameOnceAndInOrder) {
  const std::uint32_t frames = static_cast<std::uint32_t>(std::max(2000, 20000 / test::TimeScale()));
  PtyPair sideA, sideB;
  CSerialPort portA(sideA.SlavePath().c_str(), 57600, false), portB(sideB.SlavePath().c_str(), 57600, false);
  ASSERT_TRUE(portA.m_opened && portB.m_opened);
  // The quiet interval after which an unacknowledged frame goes out again must stay well
  // above the slowest acknowledgement: an acknowledgement that is only late (not lost)
  // and answers both copies would release the next frame unseen.
  const std::uint32_t quiet = static_cast<std::uint32_t>(250 * test::TimeScale());
  const LinkLimits limits{50, quiet, 8 * quiet};
  CLink linkA(limits), linkB(limits);

  NoiseStats statsAB, statsBA;  // one per relay thread
  const double lostAckRate = 6.0 / frames;  // about six losses each way
  NoisyDirection aToB(1234, lostAckRate, statsAB), bToA(4321, lostAckRate, statsBA);
  std::atomic<bool> stop{false};
  std::thread relayAB(Relay, std::ref(sideA), std::ref(sideB), std::ref(aToB), std::ref(stop));
  std::thread relayBA(Relay, std::ref(sideB), std::ref(sideA), std::ref(bToA), std::ref(stop));

  for (std::uint32_t i = 0; i < frames; ++i) {
    linkA.QueueTransmit(FrameFor(0, i));
    linkB.QueueTransmit(FrameFor(1, i));
  }
  ASSERT_TRUE(linkA.Start(&portA));
  ASSERT_TRUE(linkB.Start(&portB));

  // Side s receives what side 1 - s sent.
  std::uint32_t next[2] = {0, 0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
  CLink* links[2] = {&linkA, &linkB};
  while ((next[0] < frames || next[1] < frames) && std::chrono::steady_clock::now() < deadline) {
    bool any = false;
    for (int side = 0; side < 2; ++side) {
      while (FramePtr frame = links[side]->TakeReceived()) {
        any = true;
        if (frame->destination == 255) continue;  // link notices
        const auto expected = PayloadFor(1 - side, next[side]);
        ASSERT_EQ(frame->PayloadSize(), expected.size()) << "side " << side << " frame " << next[side];
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), frame->payload.get()))
            << "side " << side << " frame " << next[side];
        ++next[side];
      }
    }
    if (!any) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  linkA.Stop();
  linkB.Stop();
  stop = true;
  relayAB.join();
  relayBA.join();

  const NoiseStats stats{statsAB.flips + statsBA.flips, statsAB.droppedAcks + statsBA.droppedAcks,
                         statsAB.badControls + statsBA.badControls};
  EXPECT_EQ(next[0], frames);
  EXPECT_EQ(next[1], frames);
  EXPECT_GT(stats.flips, 0);
  EXPECT_GT(stats.droppedAcks, 0);
  const LinkCounters a = linkA.GetCounters(), b = linkB.GetCounters();
  EXPECT_GT(a.rxAckedCrcErrors + b.rxAckedCrcErrors, 0u);
  EXPECT_GT(a.rxDuplicates + b.rxDuplicates, 0u);
  std::printf("soak: %u frames each way, %d flips, %d lost ACKs, %d bad controls, %u+%u NAKed, %u+%u repeats\n",
              frames, stats.flips, stats.droppedAcks, stats.badControls, a.rxAckedCrcErrors, b.rxAckedCrcErrors,
              a.rxDuplicates, b.rxDuplicates);
}

}  // namespace
}  // namespace cvm6
