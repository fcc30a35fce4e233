// The line-speed model paces its bytes: at 57600 baud, never more than 5760 bytes a second
// each way, measured over three seconds of traffic from the first byte's arrival to the
// last's. The upper bound is wide: a loaded machine makes any thread late, so how closely
// the model keeps its rate is a figure of scripts/bench (the line efficiency at 57600
// baud); here it only catches a model half as slow again or worse (fifteen bit times a
// byte).
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "sim/line_port.h"
#include "sim/pty_master_port.h"
#include "slave_end.h"
#include "support/time_scale.h"

namespace cvm6::test {
namespace {

constexpr std::size_t kBytes = 17280;  // three seconds at 57600 baud
constexpr double kExpectedSeconds = (kBytes - 1) * 10.0 / 57600.0;

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The clock's and the scheduler's grain: a byte may leave a little early, never a line's worth.
constexpr double kSlack = 0.02;

void ExpectPacedAtTheLinesRate(std::chrono::steady_clock::duration took) {
  EXPECT_GE(Seconds(took), kExpectedSeconds * (1 - kSlack));
  EXPECT_LE(Seconds(took), kExpectedSeconds * 1.5 * TimeScale());
}

TEST(LineSpeed, BytesToTheUpdaterTakeTenBitTimesEach) {
  CPtyMasterPort master;
  ASSERT_TRUE(master.m_opened);
  CLinePort line(master, 57600, {});
  SlaveEnd slave(master.SlavePath());
  std::vector<std::chrono::steady_clock::time_point> times;
  Bytes got;
  std::thread reader([&] { got = slave.Read(kBytes, 2000, &times); });
  const Bytes all(kBytes, 0xF0);
  line.Write(all.data(), static_cast<std::uint32_t>(all.size()), 0);
  reader.join();
  ASSERT_EQ(got.size(), kBytes);
  ExpectPacedAtTheLinesRate(times.back() - times.front());
}

// An updater that always has the next byte ready: a pseudo-terminal hands bytes on in
// bursts with pauses of several milliseconds on a loaded machine, which would measure the
// kernel rather than the line model.
class EndlessSender : public CSerialPort {
 public:
  EndlessSender() { m_opened = true; }
  bool IsOpen() override { return true; }
  bool Close() override { return true; }
  void Read(void* buffer, std::uint32_t length, std::uint32_t) override {
    std::memset(buffer, 0x8C, length);
  }
  void Write(const void*, std::uint32_t, std::uint32_t) override {}
};

TEST(LineSpeed, BytesFromTheUpdaterTakeTenBitTimesEach) {
  EndlessSender sender;
  CLinePort line(sender, 57600, {});
  std::vector<std::chrono::steady_clock::time_point> times;
  times.reserve(kBytes);
  std::uint8_t byte;
  for (std::size_t i = 0; i < kBytes; ++i) {
    line.Read(&byte, 1, 2000);
    times.push_back(std::chrono::steady_clock::now());
  }
  ExpectPacedAtTheLinesRate(times.back() - times.front());
}

}  // namespace
}  // namespace cvm6::test
