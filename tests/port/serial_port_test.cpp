// The port's behaviour that holds on every platform, against a pseudo-terminal.
#include <algorithm>
#include <chrono>
#include <thread>

#include "serial_port_fixture.h"
#include "support/time_scale.h"

namespace cvm6::test {
namespace {

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

// What came with a byte waits in the port, so the link can tell its next read will not wait.
TEST_F(SerialPortTest, BytesWaitingCountsWhatCameWithTheByteRead) {
  EXPECT_EQ(port.BytesWaiting(), 0u);
  pty.Write(Bytes{0xA5, 1, 0x81, 7, 4, 0x1D, 0, 3, 0, 0x42});
  std::uint8_t first = 0;
  port.Read(&first, 1, 2000);
  EXPECT_EQ(first, 0xA5);
  ASSERT_GT(port.BytesWaiting(), 0u);
  std::uint8_t rest[9] = {};
  port.Read(rest, 9, 2000);
  EXPECT_EQ(Bytes(rest, rest + 9), (Bytes{1, 0x81, 7, 4, 0x1D, 0, 3, 0, 0x42}));
  EXPECT_EQ(port.BytesWaiting(), 0u);
}

// A burst read in pieces of every size, with more arriving meanwhile, comes out whole
// and in order, however much of it the port took from the line ahead of the reads.
TEST_F(SerialPortTest, ABurstReadInPiecesOfEverySizeComesOutInOrder) {
  Bytes sent(600);
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<std::uint8_t>(i * 13 + 1);
  pty.Write(sent.data(), 300);
  Bytes got;
  bool secondHalfSent = false;
  for (std::uint32_t piece = 1; got.size() < sent.size(); ++piece) {
    if (got.size() >= 150 && !secondHalfSent) {
      pty.Write(sent.data() + 300, 300);
      secondHalfSent = true;
    }
    const auto size = static_cast<std::uint32_t>(std::min<std::size_t>(piece % 37 + 1, sent.size() - got.size()));
    Bytes buffer(size);
    port.Read(buffer.data(), size, 2000);
    got.insert(got.end(), buffer.begin(), buffer.end());
  }
  EXPECT_EQ(got, sent);
  EXPECT_EQ(port.BytesWaiting(), 0u);
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

}  // namespace
}  // namespace cvm6::test
