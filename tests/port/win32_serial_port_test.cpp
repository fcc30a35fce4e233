// The Win32 port's own behaviour, under Wine against pseudo-terminals linked to COM
// ports: what a timed-out read leaves, an unplugged far end, names and open failures.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "serial_port_fixture.h"
#include "support/time_scale.h"

namespace cvm6::test {
namespace {

using Clock = std::chrono::steady_clock;

int MsSince(Clock::time_point start) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// The request of a read that timed out is cancelled and waited for: bytes that arrive
// later land in no buffer of the past, and none of what came is lost.
TEST_F(SerialPortTest, AShortReadTimesOutWith1105AndTheNextReadGetsEveryByte) {
  pty.Write(Bytes{0xA1, 0xA2, 0xA3});
  std::uint8_t first[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(CodeOf([&] { port.Read(first, 4, 200); }), 1105);
  pty.Write(Bytes{0xA4, 0x11});
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // time to land, were a request still open
  EXPECT_EQ(first[3], 0xEE) << "a byte reached the buffer of a read that had failed";
  std::uint8_t next[5] = {};
  port.Read(next, 5, 2000);
  EXPECT_EQ(Bytes(next, next + 5), (Bytes{0xA1, 0xA2, 0xA3, 0xA4, 0x11}));
  EXPECT_EQ(port.BytesWaiting(), 0u);
}

// Bytes kept from a timed-out read count as waiting, and a read shorter than what was
// kept takes only its share.
TEST_F(SerialPortTest, BytesKeptFromATimedOutReadAreWaitingAndHandedOutInOrder) {
  pty.Write(Bytes{1, 2, 3});
  std::uint8_t four[4] = {};
  EXPECT_EQ(CodeOf([&] { port.Read(four, 4, 200); }), 1105);
  EXPECT_EQ(port.BytesWaiting(), 3u);
  std::uint8_t one = 0;
  port.Read(&one, 1, 0);  // kept bytes need no wait, even without a limit
  EXPECT_EQ(one, 1);
  EXPECT_EQ(CodeOf([&] { port.Read(four, 4, 100); }), 1105);  // 2, 3 kept again
  pty.Write(Bytes{4, 5});
  port.Read(four, 4, 2000);
  EXPECT_EQ(Bytes(four, four + 4), (Bytes{2, 3, 4, 5}));
}

// A port is left with the line settings and time-outs it was found with, however it
// ends: the next program to open it gets what it had before.
class PortLeftAsFound : public ::testing::TestWithParam<bool> {};

TEST_P(PortLeftAsFound, TheLineSettingsFoundAtOpenAreBack) {
  PtyPair pty;
  const std::string path = "\\\\.\\" + pty.SlavePath();
  const auto settings = [&](DCB* set, COMMTIMEOUTS* setTimeouts, DCB& dcb, COMMTIMEOUTS& timeouts) {
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    if (set) {
      ASSERT_TRUE(SetCommState(handle, set) && SetCommTimeouts(handle, setTimeouts));
    }
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(handle, &dcb) && GetCommTimeouts(handle, &timeouts));
    CloseHandle(handle);
  };
  DCB found{};
  COMMTIMEOUTS foundTimeouts{};
  settings(nullptr, nullptr, found, foundTimeouts);
  found.BaudRate = 9600;
  found.ByteSize = 7;
  foundTimeouts = {50, 2, 100, 3, 200};
  settings(&found, &foundTimeouts, found, foundTimeouts);
  {
    CSerialPort opened(pty.SlavePath().c_str(), 57600, false);
    ASSERT_TRUE(opened.m_opened);
    if (GetParam()) {
      EXPECT_TRUE(opened.Close());
    }
  }
  DCB after{};
  COMMTIMEOUTS afterTimeouts{};
  settings(nullptr, nullptr, after, afterTimeouts);
  // Wine keeps the line's speed with the pseudo-terminal from one handle to the next, but
  // not the time-outs or the byte size (a driver on Windows keeps them all).
  EXPECT_EQ(after.BaudRate, 9600u);
}

INSTANTIATE_TEST_SUITE_P(Ends, PortLeftAsFound, ::testing::Values(false, true),
                         [](const auto& row) { return row.param ? "Closed" : "Deleted"; });

// An unplugged adapter: the waiting read fails with 1101 as soon as the far end goes,
// and so does every transfer after it. The time it took is printed for the record.
TEST_F(SerialPortTest, TheFarEndClosingFailsAWaitingReadPromptly) {
  int code = 0;
  int tookMs = 0;
  Clock::time_point failedAt{};
  std::thread reader([&] {
    std::uint8_t byte = 0;
    const auto start = Clock::now();
    code = CodeOf([&] { port.Read(&byte, 1, 5000); });
    failedAt = Clock::now();
    tookMs = MsSince(start);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto closedAt = Clock::now();
  pty.CloseMaster();
  reader.join();
  const auto afterClose = std::chrono::duration_cast<std::chrono::milliseconds>(failedAt - closedAt).count();
  std::printf("far end closed: the read failed %lld ms later (%d ms after it began)\n",
              static_cast<long long>(afterClose), tookMs);
  RecordProperty("far_end_close_ms", static_cast<int>(afterClose));
  EXPECT_EQ(code, 1101);
  EXPECT_LT(afterClose, Scaled(1000));
  std::uint8_t byte = 0;
  const auto start = Clock::now();
  EXPECT_EQ(CodeOf([&] { port.Write(&byte, 1, 2000); }), 1101);
  EXPECT_EQ(CodeOf([&] { port.Read(&byte, 1, 2000); }), 1101);
  EXPECT_LT(MsSince(start), Scaled(1000));
}

// The pseudo-terminals of these tests are COM10 and above, which open only by the
// device namespace name that MapPortName gives them.
TEST_F(SerialPortTest, PortsAboveCom9Open) {
  ASSERT_GE(std::atoi(pty.SlavePath().c_str() + 3), 10) << pty.SlavePath();
  EXPECT_TRUE(port.m_opened);
}

TEST(SerialPort, APortThatDoesNotExistIsNotOpenedAndReadFailsWith1102) {
  CSerialPort port("COM255", 57600, false);
  EXPECT_FALSE(port.m_opened);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.OpenError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(port.OpenErrorText(), "no such port");
  std::uint8_t byte = 0;
  EXPECT_EQ(CodeOf([&] { port.Read(&byte, 1, 10); }), 1102);
  EXPECT_EQ(CodeOf([&] { port.Write(&byte, 1, 10); }), 1102);
  EXPECT_FALSE(port.Close());
}

TEST(SerialPort, ADeviceThatIsNoSerialLineIsRefusedWith1101) {
  try {
    CSerialPort port("NUL", 57600, false);
    ADD_FAILURE() << "NUL was taken for a serial port";
  } catch (const CFailure& failure) {
    EXPECT_EQ(failure.code(), 1101);
    EXPECT_EQ(failure.detail(), "not a serial port");
  }
}

struct NameCase {
  const char* name;
  const char* opened;
};

class PortName : public ::testing::TestWithParam<NameCase> {};

TEST_P(PortName, MapsAsWindowsOpensIt) { EXPECT_EQ(MapPortName(GetParam().name), GetParam().opened); }

INSTANTIATE_TEST_SUITE_P(Names, PortName,
                         ::testing::Values(NameCase{"COM1", "\\\\.\\COM1"}, NameCase{"COM4", "\\\\.\\COM4"},
                                           NameCase{"COM10", "\\\\.\\COM10"}, NameCase{"COM256", "\\\\.\\COM256"},
                                           NameCase{"com7", "\\\\.\\com7"},
                                           // Not a port number: left for CreateFileA as given.
                                           NameCase{"COM", "COM"}, NameCase{"COM0", "COM0"},
                                           NameCase{"COM1A", "COM1A"}, NameCase{"COM1234", "COM1234"},
                                           NameCase{"\\\\.\\COM3", "\\\\.\\COM3"}, NameCase{"", ""}));

struct ErrorCase {
  int error;
  const char* text;
};

class OpenErrorText : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(OpenErrorText, IsWordedForTheTechnician) { EXPECT_EQ(DescribeOpenError(GetParam().error), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Errors, OpenErrorText,
    ::testing::Values(ErrorCase{0, ""}, ErrorCase{ERROR_FILE_NOT_FOUND, "no such port"},
                      ErrorCase{ERROR_PATH_NOT_FOUND, "no such port"},
                      ErrorCase{ERROR_ACCESS_DENIED,
                                "access denied: the port is in use by another program, or this account may not use it"},
                      ErrorCase{ERROR_SHARING_VIOLATION, "port in use: another program holds it"},
                      ErrorCase{ERROR_DEVICE_NOT_CONNECTED, "the port's device is not connected"}));

TEST(OpenErrorText, OtherErrorsKeepTheSystemsOwnMessageAndNumber) {
  const std::string text = DescribeOpenError(ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_NE(text.find("(error 8)"), std::string::npos) << text;
  EXPECT_GT(text.size(), std::string("(error 8)").size() + 3) << text;
}

}  // namespace
}  // namespace cvm6::test
