// --port auto's search against the real simulator on its pseudo-terminal, among ports
// the test makes: one where another program talks, silent ones, one another program
// holds, one where a unit's keep-alives arrive. The search must pick exactly the unit's
// port, and no byte may reach any port from it: each of the test's ports is read after
// the search up to a marker the test itself sends through it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

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
  const int fd = open(pty.SlavePath().c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + pty.SlavePath());
  EXPECT_EQ(write(fd, &kMarker, 1), 1);
  close(fd);
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

PortSearchLimits TestLimits() { return {static_cast<std::uint32_t>(Scaled(600)), static_cast<std::uint32_t>(Scaled(1500))}; }

TEST(PortSearch, ChoosesTheUnitsPortAloneAndWritesToNoPort) {
  SimulatorConfig config;
  CDeviceSimulator unit(config);
  ASSERT_TRUE(unit.Start()) << unit.ErrorText();
  PtyPair talking, silent1, silent2, held;
  Talker talker(talking, Bytes{'A', 'T', '\r', '\n'}, 20);
  const int holder = open(held.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

  const auto heard = ListenForUnits(
      {silent1.SlavePath(), talking.SlavePath(), unit.PortPath(), held.SlavePath(), silent2.SlavePath()},
      TestLimits());
  close(holder);
  ASSERT_EQ(heard.size(), 5u);
  EXPECT_EQ(heard[0].heard, PortHeard::kSilent);
  EXPECT_EQ(heard[1].heard, PortHeard::kOtherBytes) << heard[1].why;
  EXPECT_EQ(heard[2].heard, PortHeard::kUnit);
  EXPECT_EQ(heard[2].port, unit.PortPath());
  EXPECT_EQ(heard[3].heard, PortHeard::kNotOpened);
  EXPECT_EQ(heard[3].why, "port in use: another program holds it");
  EXPECT_EQ(heard[4].heard, PortHeard::kSilent);
  for (PtyPair* pty : {&silent1, &silent2, &held}) EXPECT_EQ(BytesFromThePort(*pty), 0u) << pty->SlavePath();
  // The talker's port: what comes back is only what the search wrote (the talker's own
  // bytes go the other way).
  EXPECT_EQ(BytesFromThePort(talking), 0u);
  // The unit was only listened to: it never saw a link come up.
  EXPECT_EQ(unit.Summary().counts.erases, 0u);
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
