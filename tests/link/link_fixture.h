#pragma once
// A CLink on the slave side of a pseudo-terminal, with the test as the far end speaking
// raw bytes on the master. A background thread collects every byte the link writes.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "frames.h"
#include "link/link.h"
#include "port/serial_port.h"
#include "support/pty_pair.h"
#include "support/time_scale.h"
#include "support/wire.h"

namespace cvm6::test {

class LinkFixture : public ::testing::Test {
 protected:
  ~LinkFixture() override {
    if (link) link->Stop();
    StopCollector();
  }

  // `custom`: a link of another kind (the simulated unit's) to start instead of a CLink.
  void StartLink(LinkLimits limits = {}, std::unique_ptr<CLink> custom = nullptr) {
    port = std::make_unique<CSerialPort>(pty.SlavePath().c_str(), 57600, false);
    ASSERT_TRUE(port->m_opened);
    link = custom ? std::move(custom) : std::make_unique<CLink>(limits);
    collector = std::thread([this] { Collect(); });
    ASSERT_TRUE(link->Start(port.get()));
  }

  void StopCollector() {
    stopCollector = true;
    if (collector.joinable()) collector.join();
  }

  Bytes Written() {
    std::lock_guard<std::mutex> guard(lock);
    return written;
  }
  void ClearWritten() {
    std::lock_guard<std::mutex> guard(lock);
    written.clear();
  }
  std::vector<WireUnit> Units() { return ParseUnits(Written()); }

  static bool WaitUntil(const std::function<bool()>& condition, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Scaled(ms));
    while (std::chrono::steady_clock::now() < deadline) {
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return condition();
  }
  static void Quiet(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

  // Everything the link has put on its receive queue so far.
  std::vector<FramePtr>& Delivered() {
    while (FramePtr frame = link->TakeReceived()) delivered.push_back(std::move(frame));
    return delivered;
  }
  static bool IsNotice(const Frame& frame, std::uint16_t id) {
    return frame.destination == 255 && frame.source == 255 && frame.length == 2 && frame.payload[0] == id &&
           frame.payload[1] == 0;
  }
  int CountNotices(std::uint16_t id) {
    int n = 0;
    for (auto& frame : Delivered()) n += IsNotice(*frame, id);
    return n;
  }
  bool WaitForNotices(std::uint16_t id, int count, int ms) {
    return WaitUntil([&] { return CountNotices(id) >= count; }, ms);
  }

  // Brings the link up with a sync byte (no answer expected) and forgets the bursts.
  void BringUp() {
    pty.Write(Bytes{0xF0});
    ASSERT_TRUE(WaitForNotices(kNoticeNowActive, 1, 1000));
    Quiet(30);
    ClearWritten();
  }

  // Frames the link wrote, in order.
  std::vector<WireUnit> WrittenFrames() {
    std::vector<WireUnit> frames;
    for (auto& unit : Units())
      if (!unit.control) frames.push_back(unit);
    return frames;
  }
  int CountWritten(std::uint8_t byte) {
    int n = 0;
    for (auto& unit : Units()) n += unit.control && unit.byte == byte;
    return n;
  }

  PtyPair pty;
  std::unique_ptr<CSerialPort> port;
  std::unique_ptr<CLink> link;
  std::vector<FramePtr> delivered;

 private:
  void Collect() {
    while (!stopCollector) {
      std::uint8_t buffer[1024];
      const int n = pty.ReadSome(buffer, sizeof buffer, 10);
      if (n < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (n <= 0) continue;
      std::lock_guard<std::mutex> guard(lock);
      written.insert(written.end(), buffer, buffer + n);
    }
  }

  std::mutex lock;
  Bytes written;
  std::thread collector;
  std::atomic<bool> stopCollector{false};
};

}  // namespace cvm6::test
