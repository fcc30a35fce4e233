#include "support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace cvm6::test {

PtyPair::PtyPair() {
  m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
    throw std::runtime_error("no pseudo-terminal");
  char name[128];
  if (ptsname_r(m_master, name, sizeof name) != 0) throw std::runtime_error("no pseudo-terminal name");
  m_slavePath = name;
  termios tio{};
  tcgetattr(m_master, &tio);
  cfmakeraw(&tio);
  tcsetattr(m_master, TCSANOW, &tio);
  // Hold the slave open so that writes to the master before the port opens are not lost
  // to a hang-up, and put it in raw mode (the port sets raw mode again itself).
  m_holdSlave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_holdSlave >= 0 && tcgetattr(m_holdSlave, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(m_holdSlave, TCSANOW, &tio);
  }
  int flags = fcntl(m_master, F_GETFL);
  fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
}

PtyPair::~PtyPair() {
  if (m_holdSlave >= 0) close(m_holdSlave);
  if (m_master >= 0) close(m_master);
}

void PtyPair::Write(const std::vector<std::uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }

void PtyPair::Write(const std::uint8_t* bytes, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = ::write(m_master, bytes + done, count - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else {
      pollfd p{m_master, POLLOUT, 0};
      if (poll(&p, 1, 1000) <= 0) throw std::runtime_error("pty write stalled");
    }
  }
}

std::vector<std::uint8_t> PtyPair::Read(std::size_t count, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::vector<std::uint8_t> out;
  while (out.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{m_master, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    std::uint8_t buf[512];
    const std::size_t want = std::min(sizeof buf, count - out.size());
    ssize_t n = ::read(m_master, buf, want);
    if (n > 0) out.insert(out.end(), buf, buf + n);
    else if (n == 0 || (errno != EAGAIN && errno != EINTR)) break;
  }
  return out;
}

std::vector<std::uint8_t> PtyPair::ReadUntilQuiet(int quietMs, int maxMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(maxMs);
  std::vector<std::uint8_t> out;
  while (Clock::now() < deadline) {
    pollfd p{m_master, POLLIN, 0};
    if (poll(&p, 1, quietMs) <= 0) break;
    std::uint8_t buf[512];
    ssize_t n = ::read(m_master, buf, sizeof buf);
    if (n > 0) out.insert(out.end(), buf, buf + n);
    else if (n == 0 || (errno != EAGAIN && errno != EINTR)) break;
  }
  return out;
}

void PtyPair::CloseMaster() {
  if (m_holdSlave >= 0) close(m_holdSlave);
  m_holdSlave = -1;
  if (m_master >= 0) close(m_master);
  m_master = -1;
}

}  // namespace cvm6::test
