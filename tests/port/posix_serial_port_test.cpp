// The POSIX port's own behaviour: what a timed-out read leaves, the lock that keeps a
// second program out, errno texts, the device names of COM1..COM4.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include "port/posix_adapter_latency.h"
#include "serial_port_fixture.h"
#include "support/time_scale.h"

namespace cvm6::test {
namespace {

TEST_F(SerialPortTest, ShortReadTimesOutWith1105AndTheNextReadIsClean) {
  pty.Write(Bytes{0xA1, 0xA2, 0xA3});
  std::uint8_t buffer[4] = {};
  EXPECT_EQ(CodeOf([&] { port.Read(buffer, 4, 100); }), 1105);
  pty.Write(Bytes{0x11, 0x22});
  std::uint8_t next[2] = {};
  port.Read(next, 2, 2000);
  EXPECT_EQ(Bytes(next, next + 2), (Bytes{0x11, 0x22}));
}

TEST_F(SerialPortTest, ASecondOpenOfAHeldPortIsRefused) {
  CSerialPort second(pty.SlavePath().c_str(), 57600, false);
  EXPECT_FALSE(second.m_opened);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(second.OpenError(), EBUSY);
  EXPECT_EQ(second.OpenErrorText(), "port in use: another program holds it");
}

TEST(SerialPort, AFileThatIsNotATerminalRefusesTheLineSettingsWith1101) {
  try {
    CSerialPort port("/dev/null", 57600, false);
    ADD_FAILURE() << "/dev/null was taken for a serial port";
  } catch (const CFailure& failure) {
    EXPECT_EQ(failure.code(), 1101);
    EXPECT_EQ(failure.detail(), "not a serial port");
  }
}

TEST(SerialPort, AnUnsupportedSpeedIsRefusedWith1101) {
  PtyPair pty;
  EXPECT_EQ(CodeOf([&] { CSerialPort port(pty.SlavePath().c_str(), 12345, false); }), 1101);
}

TEST(PortName, TheFourComPortsMapToTheFirstFourSerialDevices) {
  EXPECT_EQ(MapPortName("COM1"), "/dev/ttyS0");
  EXPECT_EQ(MapPortName("COM4"), "/dev/ttyS3");
  EXPECT_EQ(MapPortName("COM5"), "COM5");
  EXPECT_EQ(MapPortName("/dev/ttyUSB0"), "/dev/ttyUSB0");
}

TEST(PortName, OpenErrorsAreWordedForTheTechnician) {
  EXPECT_EQ(DescribeOpenError(EACCES), "permission denied: is the user in the dialout group?");
  EXPECT_EQ(DescribeOpenError(ENOENT), "no such port");
}

TEST(SerialPort, APortThatDoesNotExistIsNotOpenedAndReadFailsWith1102) {
  CSerialPort port("/dev/cvm6-no-such-port", 57600, false);
  EXPECT_FALSE(port.m_opened);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.OpenError(), ENOENT);
  std::uint8_t byte = 0;
  EXPECT_EQ(CodeOf([&] { port.Read(&byte, 1, 10); }), 1102);
}

// A read that times out takes what it had with it, bytes read ahead of it too: the next
// starts clean.
TEST_F(SerialPortTest, ATimedOutReadTakesTheBytesReadAheadWithIt) {
  pty.Write(Bytes{5, 6, 7});
  std::uint8_t two[2] = {};
  port.Read(two, 2, 2000);
  std::uint8_t four[4] = {};
  EXPECT_EQ(CodeOf([&] { port.Read(four, 4, 50); }), 1105);
  pty.Write(Bytes{8});
  std::uint8_t last = 0;
  port.Read(&last, 1, 2000);
  EXPECT_EQ(last, 8);
}

// A port is left with the line settings it was found with, however it ends: a terminal
// named by mistake must not stay in raw mode with reads that never wait.
class PortLeftAsFound : public ::testing::TestWithParam<bool> {};

TEST_P(PortLeftAsFound, TheLineSettingsFoundAtOpenAreBack) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 && ptsname_r(master, name, 128) == 0);
  const int probe = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);  // a terminal in its normal mode
  termios found{}, after{};
  ASSERT_EQ(tcgetattr(probe, &found), 0);
  {
    CSerialPort port(name, 57600, false);
    ASSERT_EQ(tcgetattr(probe, &after), 0);
    ASSERT_FALSE(after.c_lflag & ICANON);  // raw while it is ours
    if (GetParam()) {
      EXPECT_TRUE(port.Close());
    }
  }
  ASSERT_EQ(tcgetattr(probe, &after), 0);
  EXPECT_EQ(std::make_tuple(after.c_iflag, after.c_oflag, after.c_cflag, after.c_lflag, cfgetospeed(&after),
                            after.c_cc[VMIN], after.c_cc[VTIME]),
            std::make_tuple(found.c_iflag, found.c_oflag, found.c_cflag, found.c_lflag, cfgetospeed(&found),
                            found.c_cc[VMIN], found.c_cc[VTIME]));
  close(probe);
  close(master);
}

INSTANTIATE_TEST_SUITE_P(Ends, PortLeftAsFound, ::testing::Values(false, true),
                         [](const auto& row) { return row.param ? "Closed" : "Deleted"; });

// An unplugged adapter: the read fails at once instead of waiting out its time-out.
TEST_F(SerialPortTest, TheFarEndClosingFailsAWaitingReadPromptly) {
  int code = 0;
  std::chrono::steady_clock::duration took{};
  std::thread reader([&] {
    std::uint8_t byte = 0;
    const auto start = std::chrono::steady_clock::now();
    code = CodeOf([&] { port.Read(&byte, 1, 5000); });
    took = std::chrono::steady_clock::now() - start;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto closedAt = std::chrono::steady_clock::now();
  pty.CloseMaster();
  reader.join();
  EXPECT_EQ(code, 1101);
  EXPECT_LT(std::chrono::steady_clock::now() - closedAt, std::chrono::milliseconds(test::Scaled(100)));
  EXPECT_LT(took, std::chrono::milliseconds(4000));
  std::uint8_t byte = 0;
  EXPECT_EQ(CodeOf([&] { port.Write(&byte, 1, 100); }), 1101);
}

// None on a pseudo-terminal; ftdi_sio's timer under the tty's name, also through by-id links.
TEST_F(SerialPortTest, LatencySettingsAreReadOnlyWhereTheDriverHasThem) {
  const AdapterLatency onPty = port.LatencySetting();
  EXPECT_TRUE(onPty.device == pty.SlavePath() && !onPty.lowLatency && !onPty.latencyTimerMs);
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("cvm6-sysfs-" + std::to_string(getpid()));
  const fs::path timer = root / "bus/usb-serial/devices/ttyUSB7/latency_timer";
  fs::create_directories(timer.parent_path());
  std::ofstream(timer) << "16\n";
  fs::create_symlink(timer.parent_path(), root / "usb-FTDI_FT232R-if00-port0");  // stands for /dev/ttyUSB7
  const AdapterLatency ftdi = ReadPosixAdapterLatency(-1, root / "usb-FTDI_FT232R-if00-port0", root);
  EXPECT_TRUE(ftdi.latencyTimerMs == 16u && ftdi.timerSource == timer.string()) << ftdi.timerSource;
  std::ofstream(timer) << "none\n";  // no number: no timer
  EXPECT_FALSE(ReadPosixAdapterLatency(-1, "/dev/ttyUSB7", root).latencyTimerMs);
  fs::remove_all(root);
}

}  // namespace
}  // namespace cvm6::test
