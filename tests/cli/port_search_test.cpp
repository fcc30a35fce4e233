// --port auto's search against the real simulator on its pseudo-terminal (under Wine,
// where the simulator's line is in memory, a unit in download mode played in raw bytes
// on a pseudo-terminal linked to a COM port), among ports the test makes: one where
// another program talks, silent ones, one another program holds, one where a unit's
// keep-alives arrive. The search must pick exactly the unit's port, and no byte may
// reach any port from it: each of the test's ports is read after the search up to a
// marker the test itself sends through it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "platform/failure.h"
#include "port/serial_port.h"
#include "port_search.h"
#include "sim/device_simulator.h"
#include "support/pty_pair.h"
#include "support/time_scale.h"
#include "support/wire.h"

namespace cvm6::test {
namespace {

constexpr std::uint8_t kMarker = 0x5A;

// Another device on a port: `bytes` again and again, until the test ends.
class Talker {
 public:
  Talker(PtyPair& pty, Bytes bytes, int everyMs)
      : m_thread([this, &pty, bytes, everyMs] {
          while (!m_stop) {
            pty.Write(bytes);
            std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));  // pacing, not waiting for anything
          }
        }) {}
  ~Talker() {
    m_stop = true;
    m_thread.join();
  }

 private:
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

// What reached the far end of `pty` from its port before the test's own marker.
std::size_t BytesFromThePort(PtyPair& pty) {
  CSerialPort port(pty.SlavePath().c_str(), 57600, false);
  if (!port.m_opened) throw std::runtime_error("cannot open " + pty.SlavePath() + ": " + port.OpenErrorText());
  port.Write(&kMarker, 1, static_cast<std::uint32_t>(Scaled(5000)));
  std::size_t count = 0;
  for (;;) {
    const auto got = pty.Read(1, Scaled(5000));
    if (got.empty()) {
      ADD_FAILURE() << "the marker never came back through " << pty.SlavePath();
      return count;
    }
    if (got[0] == kMarker) return count;
    ++count;
  }
}

// The unit: the simulator where its line is a pseudo-terminal; else its wake bursts.
class Unit {
 public:
  Unit() {
#ifdef _WIN32
    m_waker = std::make_unique<Talker>(m_pty, Bytes(16, 0xFF), 100);
    m_port = m_pty.SlavePath();
#else
    if (!m_simulator.Start()) throw std::runtime_error(m_simulator.ErrorText());
    m_port = m_simulator.PortPath();
#endif
  }
  const std::string& Port() const { return m_port; }
  std::uint32_t Erases() const {
#ifdef _WIN32
    return 0;  // the raw unit erases nothing; its far end is the pseudo-terminal
#else
    return m_simulator.Summary().counts.erases;
#endif
  }

 private:
#ifdef _WIN32
  PtyPair m_pty;
  std::unique_ptr<Talker> m_waker;
#else
  CDeviceSimulator m_simulator{SimulatorConfig{}};
#endif
  std::string m_port;
};

PortSearchLimits TestLimits() { return {static_cast<std::uint32_t>(Scaled(600)), static_cast<std::uint32_t>(Scaled(1500))}; }

TEST(PortSearch, ChoosesTheUnitsPortAloneAndWritesToNoPort) {
  Unit unit;
  PtyPair talking, silent1, silent2, held;
  Talker talker(talking, Bytes{'A', 'T', '\r', '\n'}, 20);
  auto holder = std::make_unique<CSerialPort>(held.SlavePath().c_str(), 57600, false);
  ASSERT_TRUE(holder->m_opened) << holder->OpenErrorText();

  const auto heard = ListenForUnits(
      {silent1.SlavePath(), talking.SlavePath(), unit.Port(), held.SlavePath(), silent2.SlavePath()},
      TestLimits());
  holder.reset();
  ASSERT_EQ(heard.size(), 5u);
  EXPECT_EQ(heard[0].heard, PortHeard::kSilent);
  EXPECT_EQ(heard[1].heard, PortHeard::kOtherBytes) << heard[1].why;
  EXPECT_EQ(heard[2].heard, PortHeard::kUnit) << heard[2].why;
  EXPECT_EQ(heard[2].port, unit.Port());
  EXPECT_EQ(heard[3].heard, PortHeard::kNotOpened);
  EXPECT_NE(heard[3].why.find("in use"), std::string::npos) << heard[3].why;
  EXPECT_EQ(heard[4].heard, PortHeard::kSilent);
  for (PtyPair* pty : {&silent1, &silent2, &held, &talking}) EXPECT_EQ(BytesFromThePort(*pty), 0u) << pty->SlavePath();
  // The unit was only listened to: it never took a request.
  EXPECT_EQ(unit.Erases(), 0u);
}

// With no unit in download mode, the silent ports are listened to for longer: a unit
// still in an earlier session sends a keep-alive a second.
TEST(PortSearch, KeepAlivesSayAUnitIsStillInAnEarlierSession) {
  PtyPair inSession, silent;
  Talker keepAlives(inSession, Bytes{0x8C}, 50);
  const auto heard = ListenForUnits({inSession.SlavePath(), silent.SlavePath()}, TestLimits());
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[0].heard, PortHeard::kUnitInSession);
  EXPECT_EQ(heard[1].heard, PortHeard::kSilent);
  EXPECT_EQ(BytesFromThePort(inSession), 0u);
  EXPECT_EQ(BytesFromThePort(silent), 0u);
}

}  // namespace
}  // namespace cvm6::test
