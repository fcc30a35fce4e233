// The line-speed model holds its rate: at 57600 baud, 5760 bytes a second each way.
// Measured over three seconds of traffic, from the first byte's arrival to the last's.
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

// 2 %, widened only when a sanitizer slows the threads down.
double Tolerance() { return 0.02 * TimeScale(); }

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
  EXPECT_NEAR(Seconds(times.back() - times.front()), kExpectedSeconds, kExpectedSeconds * Tolerance());
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
  EXPECT_NEAR(Seconds(times.back() - times.front()), kExpectedSeconds, kExpectedSeconds * Tolerance());
}

}  // namespace
}  // namespace cvm6::test
