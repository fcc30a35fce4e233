// The line in memory that the simulated unit sits on where there are no pseudo-terminals:
// it must behave as a serial line and a port do, since the whole update runs over it.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/failure.h"
#include "sim/memory_line.h"
#include "support/time_scale.h"

namespace cvm6 {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

int CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const CFailure& failure) {
    return failure.code();
  }
  return 0;
}

void Send(CSerialPort& port, const Bytes& bytes) { port.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), 0); }

Bytes Take(CSerialPort& port, std::uint32_t count, std::uint32_t timeoutMs = 2000) {
  Bytes bytes(count);
  port.Read(bytes.data(), count, timeoutMs);
  return bytes;
}

class MemoryLineTest : public ::testing::Test {
 protected:
  CMemoryLine line;
  CSerialPort& unit = line.UnitEnd();
  std::unique_ptr<CSerialPort> host = line.OpenHostEnd();
};

TEST_F(MemoryLineTest, EachEndReadsWhatTheOtherWroteInOrderAndExactly) {
  ASSERT_TRUE(host->m_opened);
  std::thread writer([&] {
    Send(*host, {1, 2, 3});
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Send(*host, {4, 5});
  });
  EXPECT_EQ(Take(unit, 4), (Bytes{1, 2, 3, 4}));
  writer.join();
  EXPECT_EQ(unit.BytesWaiting(), 1u);
  EXPECT_EQ(Take(unit, 1), Bytes{5});
  Send(unit, {0xA5, 0xFF});
  EXPECT_EQ(Take(*host, 2), (Bytes{0xA5, 0xFF}));
}

TEST_F(MemoryLineTest, AShortReadTimesOutWith1105AndLosesNothing) {
  Send(*host, {7, 8});
  Bytes three(3, 0xEE);
  EXPECT_EQ(CodeOf([&] { unit.Read(three.data(), 3, 50); }), 1105);
  EXPECT_EQ(three, Bytes(3, 0xEE));  // nothing taken
  Send(*host, {9});
  EXPECT_EQ(Take(unit, 3), (Bytes{7, 8, 9}));
}

// Pulling the plug: the updater's waiting read fails at once, as with an unplugged adapter.
TEST_F(MemoryLineTest, UnpluggingFailsTheHostsTransfersAtOnceWith1101) {
  int code = 0;
  Clock::time_point failedAt{};
  std::thread reader([&] {
    std::uint8_t byte = 0;
    code = CodeOf([&] { host->Read(&byte, 1, 5000); });
    failedAt = Clock::now();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto unpluggedAt = Clock::now();
  EXPECT_TRUE(unit.Close());
  reader.join();
  EXPECT_EQ(code, 1101);
  EXPECT_LT(failedAt - unpluggedAt, std::chrono::milliseconds(test::Scaled(200)));
  std::uint8_t byte = 0;
  EXPECT_EQ(CodeOf([&] { host->Write(&byte, 1, 0); }), 1101);
  EXPECT_EQ(CodeOf([&] { unit.Write(&byte, 1, 0); }), 1102);
  EXPECT_FALSE(unit.Close());
}

// The link's Stop wakes its receiver through the port: the waiting Read ends with 1105
// and nothing is lost; a wake with nobody waiting is kept for the next Read that waits.
TEST_F(MemoryLineTest, WakeReaderEndsTheReadThatWaitsAndLosesNothing) {
  int code = 0;
  std::thread reader([&] {
    Bytes two(2);
    code = CodeOf([&] { host->Read(two.data(), 2, 10000); });
  });
  Send(unit, {1});
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto wokenAt = Clock::now();
  host->WakeReader();
  reader.join();
  EXPECT_EQ(code, 1105);
  EXPECT_LT(Clock::now() - wokenAt, std::chrono::milliseconds(test::Scaled(200)));
  host->WakeReader();
  Send(unit, {2});
  EXPECT_EQ(Take(*host, 2, 0), (Bytes{1, 2}));  // there at once: the wake stays
  std::uint8_t byte = 0;
  const auto start = Clock::now();
  EXPECT_EQ(CodeOf([&] { host->Read(&byte, 1, 10000); }), 1105);  // taken here, at once
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(test::Scaled(1000)));
  EXPECT_EQ(CodeOf([&] { host->Read(&byte, 1, 20); }), 1105);  // and only once
}

TEST_F(MemoryLineTest, CloseOfTheHostEndEndsItsWaitingReadWith1102) {
  int code = 0;
  std::thread reader([&] {
    std::uint8_t byte = 0;
    code = CodeOf([&] { host->Read(&byte, 1, 0); });
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(host->Close());
  reader.join();
  EXPECT_EQ(code, 1102);
  EXPECT_FALSE(host->IsOpen());
  EXPECT_TRUE(unit.IsOpen());
}

// One updater at a time; the next one starts on a quiet line, as a port's open flushes
// what came while nobody had it open.
TEST_F(MemoryLineTest, OneHostAtATimeAndEachStartsOnAQuietLine) {
  auto second = line.OpenHostEnd();
  EXPECT_FALSE(second->m_opened);
  std::uint8_t byte = 0;
  EXPECT_EQ(CodeOf([&] { second->Read(&byte, 1, 10); }), 1102);

  Send(unit, {1, 2});
  host.reset();
  Send(unit, {3});  // nobody listens
  auto third = line.OpenHostEnd();
  ASSERT_TRUE(third->m_opened);
  EXPECT_EQ(third->BytesWaiting(), 0u);
  Send(unit, {4});
  EXPECT_EQ(Take(*third, 1), Bytes{4});
  // The unit's side never noticed the change of host.
  Send(*third, {5});
  EXPECT_EQ(Take(unit, 1), Bytes{5});
}

// Like a UART, the unit never waits for a host that does not read: the oldest bytes go.
TEST_F(MemoryLineTest, AHostThatDoesNotReadLosesTheOldestBytesNotTheUnitsTime) {
  const std::uint32_t extra = 1000;
  Bytes flood(CMemoryLine::kHostBufferSize + extra);
  for (std::size_t i = 0; i < flood.size(); ++i) flood[i] = static_cast<std::uint8_t>(i);
  Send(unit, flood);  // returns at once: nothing waits for the host
  EXPECT_EQ(line.OverrunBytes(), extra);
  EXPECT_EQ(host->BytesWaiting(), CMemoryLine::kHostBufferSize);
  EXPECT_EQ(Take(*host, 1), Bytes{static_cast<std::uint8_t>(extra)});
}

// The unit gives a download up only after its read limit of silence from the updater:
// bytes count when they arrive, read or not.
TEST_F(MemoryLineTest, QuietForCountsFromTheHostsLastWriteReadOrNot) {
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  EXPECT_GE(line.QuietFor(), std::chrono::milliseconds(100));
  Send(*host, {0x8C});  // not read by the unit
  EXPECT_LT(line.QuietFor(), std::chrono::milliseconds(test::Scaled(50)));
  Send(unit, {0xA5});  // the unit's own bytes are no sign of the updater
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  EXPECT_GE(line.QuietFor(), std::chrono::milliseconds(100));
}

TEST(MemoryLine, AHostEndThatOutlivesTheLineFailsAsUnplugged) {
  std::unique_ptr<CSerialPort> host;
  {
    CMemoryLine line;
    host = line.OpenHostEnd();
  }
  std::uint8_t byte = 0;
  EXPECT_EQ(CodeOf([&] { host->Read(&byte, 1, 0); }), 1101);
}

}  // namespace
}  // namespace cvm6
