// --port auto's search among ports where another program talks, that are silent, that
// another program holds: it picks exactly the unit's port (the simulator's; under Wine,
// where that line is in memory, a unit's wake bursts in raw bytes) and writes to none,
// as each port read afterwards up to a marker sent through it shows.
#include "port_search.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "port/serial_port.h"
#include "sim/device_simulator.h"
#include "support/pty_pair.h"
#include "support/time_scale.h"
#include "support/wire.h"

namespace cvm6::test {
namespace {

// A device on a port that sends `bytes` again and again.
struct Talker {
  Talker(PtyPair& pty, Bytes bytes, int everyMs)
      : thread([=, this, &pty] {
          for (; !stop; std::this_thread::sleep_for(std::chrono::milliseconds(everyMs))) pty.Write(bytes);
        }) {}
  ~Talker() { stop = true, thread.join(); }
  std::atomic<bool> stop{false};
  std::thread thread;
};

// Bytes that reached the far end of `pty` from its port before the marker; -1: no marker.
int BytesFromThePort(PtyPair& pty) {
  const std::uint8_t marker = 0x5A;
  CSerialPort(pty.SlavePath().c_str(), 57600, false).Write(&marker, 1, static_cast<std::uint32_t>(Scaled(5000)));
  for (int count = 0;; ++count)
    if (const auto got = pty.Read(1, Scaled(5000)); got.empty() || got[0] == marker) return got.empty() ? -1 : count;
}

const PortSearchLimits kLimits{static_cast<std::uint32_t>(Scaled(600)), static_cast<std::uint32_t>(Scaled(1500))};

TEST(PortSearch, ChoosesTheUnitsPortAloneAndWritesToNoPort) {
#ifdef _WIN32
  PtyPair unit;
  Talker wakes(unit, Bytes(16, 0xFF), 100);
  const std::string unitPort = unit.SlavePath();
#else
  CDeviceSimulator unit{SimulatorConfig{}};
  ASSERT_TRUE(unit.Start()) << unit.ErrorText();
  const std::string unitPort = unit.PortPath();
#endif
  PtyPair talking, silent1, silent2, held;
  Talker talker(talking, Bytes{'A', 'T', '\r', '\n'}, 20);
  auto holder = std::make_unique<CSerialPort>(held.SlavePath().c_str(), 57600, false);
  const auto heard = ListenForUnits(
      {silent1.SlavePath(), talking.SlavePath(), unitPort, held.SlavePath(), silent2.SlavePath()}, kLimits);
  holder.reset();
#ifdef _WIN32
  const PortHeard heldPort = PortHeard::kSilent;  // Wine lets a second opener have a COM port; Windows does not
#else
  const PortHeard heldPort = PortHeard::kNotOpened;
  EXPECT_NE(heard.at(3).why.find("in use"), std::string::npos) << heard[3].why;
#endif
  const PortHeard expected[] = {PortHeard::kSilent, PortHeard::kOtherBytes, PortHeard::kUnit, heldPort,
                                PortHeard::kSilent};
  for (std::size_t i = 0; i < 5; ++i)
    EXPECT_EQ(heard.at(i).heard, expected[i]) << heard[i].port << ": " << heard[i].why;
  for (PtyPair* pty : {&silent1, &silent2, &held, &talking}) EXPECT_EQ(BytesFromThePort(*pty), 0) << pty->SlavePath();
}

// With no unit in download mode the silent ports are listened to for longer: a unit
// still in an earlier session sends a keep-alive a second.
TEST(PortSearch, KeepAlivesSayAUnitIsStillInAnEarlierSession) {
  PtyPair inSession, silent;
  Talker keepAlives(inSession, Bytes{0x8C}, 50);
  const auto heard = ListenForUnits({inSession.SlavePath(), silent.SlavePath()}, kLimits);
  EXPECT_EQ(heard.at(0).heard, PortHeard::kUnitInSession);
  EXPECT_EQ(heard.at(1).heard, PortHeard::kSilent);
  EXPECT_EQ(BytesFromThePort(inSession), 0);
}

}  // namespace
}  // namespace cvm6::test
