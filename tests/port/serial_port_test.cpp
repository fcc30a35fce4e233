#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "platform/failure.h"
#include "port/serial_port.h"
#include "support/pty_pair.h"
#include "support/time_scale.h"

namespace cvm6 {
namespace {

using test::PtyPair;
using Bytes = std::vector<std::uint8_t>;

int CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const CFailure& failure) {
    return failure.code();
  }
  return 0;
}

class SerialPortTest : public ::testing::Test {
 protected:
  PtyPair pty;
  CSerialPort port{pty.SlavePath().c_str(), 57600, false};
};

TEST_F(SerialPortTest, OpensAPseudoTerminal) {
  EXPECT_TRUE(port.m_opened);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.OpenError(), 0);
}

TEST_F(SerialPortTest, ReadWaitsForExactlyTheLengthAskedFor) {
  std::thread writer([&] {
    pty.Write(Bytes{1, 2, 3});
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    pty.Write(Bytes{4, 5, 6, 7});
  });
  std::uint8_t buffer[6] = {};
  port.Read(buffer, 6, 2000);
  writer.join();
  EXPECT_EQ(Bytes(buffer, buffer + 6), (Bytes{1, 2, 3, 4, 5, 6}));
  std::uint8_t last = 0;
  port.Read(&last, 1, 2000);
  EXPECT_EQ(last, 7);
}

TEST_F(SerialPortTest, ShortReadTimesOutWith1105AndTheNextReadIsClean) {
  pty.Write(Bytes{0xA1, 0xA2, 0xA3});
  std::uint8_t buffer[4] = {};
  EXPECT_EQ(CodeOf([&] { port.Read(buffer, 4, 100); }), 1105);
  pty.Write(Bytes{0x11, 0x22});
  std::uint8_t next[2] = {};
  port.Read(next, 2, 2000);
  EXPECT_EQ(Bytes(next, next + 2), (Bytes{0x11, 0x22}));
}

TEST_F(SerialPortTest, ABurstIsReadOnceAndHandedOutInOrderAcrossReads) {
  EXPECT_EQ(port.BytesWaiting(), 0u);
  pty.Write(Bytes{0xA5, 1, 0x81, 7, 4, 0x1D, 0, 3, 0, 0x42});
  std::uint8_t first = 0;
  port.Read(&first, 1, 2000);
  EXPECT_EQ(first, 0xA5);
  // What came with it waits in the port, so the link can tell its next read will not wait.
  ASSERT_GT(port.BytesWaiting(), 0u);
  std::uint8_t rest[9] = {};
  port.Read(rest, 9, 2000);
  EXPECT_EQ(Bytes(rest, rest + 9), (Bytes{1, 0x81, 7, 4, 0x1D, 0, 3, 0, 0x42}));
  EXPECT_EQ(port.BytesWaiting(), 0u);
  // A read that times out takes what it had with it, held-back bytes too; the next starts clean.
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

TEST_F(SerialPortTest, TimeOutZeroWaitsUntilTheBytesCome) {
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pty.Write(Bytes{9, 8});
  });
  std::uint8_t buffer[2] = {};
  const auto start = std::chrono::steady_clock::now();
  port.Read(buffer, 2, 0);
  writer.join();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
  EXPECT_EQ(Bytes(buffer, buffer + 2), (Bytes{9, 8}));
}

TEST_F(SerialPortTest, WriteReachesTheFarEnd) {
  Bytes data(3000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  std::thread writer([&] { port.Write(data.data(), static_cast<std::uint32_t>(data.size()), 0); });
  Bytes got = pty.Read(data.size(), 5000);
  writer.join();
  EXPECT_EQ(got, data);
}

TEST_F(SerialPortTest, CloseOnceThenIoFailsWith1102) {
  EXPECT_TRUE(port.Close());
  EXPECT_FALSE(port.Close());
  EXPECT_FALSE(port.IsOpen());
  std::uint8_t byte = 0;
  EXPECT_EQ(CodeOf([&] { port.Read(&byte, 1, 100); }), 1102);
  EXPECT_EQ(CodeOf([&] { port.Write(&byte, 1, 100); }), 1102);
}

TEST_F(SerialPortTest, CloseEndsAReadThatWaits) {
  int code = 0;
  std::thread reader([&] {
    std::uint8_t byte = 0;
    code = CodeOf([&] { port.Read(&byte, 1, 0); });
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(port.Close());
  reader.join();
  EXPECT_EQ(code, 1102);
}

// WakeReader ends the Read that waits, or the next one that would, without losing a
// byte: what arrives afterwards is the next Read's.
TEST_F(SerialPortTest, WakeReaderEndsAWaitingReadAndLosesNothing) {
  int code = 0;
  std::chrono::steady_clock::duration took{};
  std::thread reader([&] {
    std::uint8_t byte = 0;
    const auto start = std::chrono::steady_clock::now();
    code = CodeOf([&] { port.Read(&byte, 1, 10000); });
    took = std::chrono::steady_clock::now() - start;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  port.WakeReader();
  reader.join();
  EXPECT_EQ(code, 1105);
  EXPECT_LT(took, std::chrono::milliseconds(test::Scaled(1000)));

  pty.Write(Bytes{7, 8});
  Bytes got(2);
  port.Read(got.data(), 2, 1000);
  EXPECT_EQ(got, (Bytes{7, 8}));

  // A wake given while nobody reads is taken by the next Read that has to wait, once.
  port.WakeReader();
  std::uint8_t byte = 0;
  EXPECT_EQ(CodeOf([&] { port.Read(&byte, 1, 10000); }), 1105);
  EXPECT_EQ(CodeOf([&] { port.Read(&byte, 1, 50); }), 1105);
  // A Write never sees it.
  port.WakeReader();
  EXPECT_EQ(CodeOf([&] { port.Write(&byte, 1, 1000); }), 0);
}

TEST_F(SerialPortTest, GetInfoGivesTheBaudRate) { EXPECT_EQ(port.GetInfo(), 57600u); }

TEST_F(SerialPortTest, ASecondOpenOfAHeldPortIsRefused) {
  CSerialPort second(pty.SlavePath().c_str(), 57600, false);
  EXPECT_FALSE(second.m_opened);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(second.OpenError(), EBUSY);
  EXPECT_EQ(second.OpenErrorText(), "port in use: another program holds it");
}

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

TEST_F(SerialPortTest, OneThreadReadsWhileAnotherWrites) {
  constexpr std::size_t kSize = 20000;
  Bytes out(kSize), in(kSize), echo;
  for (std::size_t i = 0; i < kSize; ++i) out[i] = static_cast<std::uint8_t>(i * 31 + 5);
  std::thread farEnd([&] {
    echo = pty.Read(kSize, 10000);
    Bytes reply(echo.rbegin(), echo.rend());
    pty.Write(reply);
  });
  std::thread writer([&] { port.Write(out.data(), kSize, 0); });
  port.Read(in.data(), kSize, 10000);
  writer.join();
  farEnd.join();
  EXPECT_EQ(echo, out);
  EXPECT_EQ(in, Bytes(out.rbegin(), out.rend()));
}

TEST(SerialPort, APortThatDoesNotExistIsNotOpenedAndReadFailsWith1102) {
  CSerialPort port("/dev/cvm6-no-such-port", 57600, false);
  EXPECT_FALSE(port.m_opened);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.OpenError(), ENOENT);
  std::uint8_t byte = 0;
  EXPECT_EQ(CodeOf([&] { port.Read(&byte, 1, 10); }), 1102);
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

}  // namespace
}  // namespace cvm6
