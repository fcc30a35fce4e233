#include "sim/pty_master_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/failure.h"

namespace cvm6 {
namespace {

// How long a wait lasts before the port looks after the slave again, and how long a
// full slave buffer is tolerated before its contents count as overrun.
constexpr int kSliceMs = 50;
constexpr int kOverrunAfterMs = 200;

void MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return;
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tcsetattr(fd, TCSANOW, &tio);
}

}  // namespace

CPtyMasterPort::CPtyMasterPort() {
  m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  char name[128] = {};
  if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
      ptsname_r(m_master, name, sizeof name) != 0) {
    m_error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    return;
  }
  m_slavePath = name;
  m_slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  m_readerWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (m_slave < 0 || m_wakeFd < 0 || m_readerWakeFd < 0) {
    m_error = std::string("cannot open ") + name + ": " + std::strerror(errno);
    return;
  }
  MakeRaw(m_master);
  MakeRaw(m_slave);
  m_opened = true;
}

CPtyMasterPort::~CPtyMasterPort() {
  Close();
  if (m_wakeFd >= 0) close(m_wakeFd);
  if (m_readerWakeFd >= 0) close(m_readerWakeFd);
}

std::chrono::steady_clock::duration CPtyMasterPort::QuietFor() const {
  using Clock = std::chrono::steady_clock;
  return Clock::now() - Clock::time_point(Clock::duration(m_lastArrival.load()));
}

void CPtyMasterPort::WakeReader() {
  const std::uint64_t one = 1;
  if (m_readerWakeFd >= 0) (void)!write(m_readerWakeFd, &one, sizeof one);
}

bool CPtyMasterPort::IsOpen() { return m_master >= 0 && m_opened; }

bool CPtyMasterPort::Close() {
  if (m_wakeFd >= 0) {
    const std::uint64_t one = 1;
    (void)!write(m_wakeFd, &one, sizeof one);
  }
  std::unique_lock<std::shared_mutex> guard(m_closeLock);
  if (m_master < 0) return false;
  if (m_slave >= 0) close(m_slave);
  close(m_master);
  m_slave = -1;
  m_master = -1;
  return true;
}

void CPtyMasterPort::ReleaseExclusiveUse() {
  if (m_slave >= 0) (void)ioctl(m_slave, TIOCNXCL);
}

void CPtyMasterPort::Read(void* buffer, std::uint32_t length, std::uint32_t timeoutMs) {
  std::shared_lock<std::shared_mutex> guard(m_closeLock);
  if (m_master < 0) ThrowCode(1102);
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::uint32_t done = 0;
  while (done < length) {
    // Bytes already there are taken without a poll() first, all that came in one read.
    const ssize_t got = m_input.Read(m_master, bytes + done, length - done);
    if (got > 0) {
      done += static_cast<std::uint32_t>(got);
      m_lastArrival = Clock::now().time_since_epoch().count();
      continue;
    }
    if (got < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) ThrowCode(1101, "pseudo-terminal read failed");
    int waitMs = kSliceMs;
    if (timeoutMs != 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) ThrowCode(1105);
      if (left < waitMs) waitMs = static_cast<int>(left);
    }
    pollfd fds[3] = {{m_master, POLLIN, 0}, {m_wakeFd, POLLIN, 0}, {m_readerWakeFd, POLLIN, 0}};
    const int ready = poll(fds, 3, waitMs);
    if (ready < 0 && errno != EINTR) ThrowCode(1101, "poll failed");
    if (ready <= 0) {
      ReleaseExclusiveUse();
      continue;
    }
    if (fds[1].revents != 0) ThrowCode(1102);
    if (fds[2].revents != 0) {
      std::uint64_t count = 0;
      (void)!read(m_readerWakeFd, &count, sizeof count);
      ThrowCode(1105, "woken");
    }
  }
}

void CPtyMasterPort::Write(const void* buffer, std::uint32_t length, std::uint32_t timeoutMs) {
  std::shared_lock<std::shared_mutex> guard(m_closeLock);
  if (m_master < 0) ThrowCode(1102);
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  auto blockedSince = Clock::now();
  std::uint32_t done = 0;
  while (done < length) {
    if (timeoutMs != 0 && Clock::now() >= deadline) ThrowCode(1105);
    const ssize_t n = ::write(m_master, bytes + done, length - done);
    if (n > 0) {
      done += static_cast<std::uint32_t>(n);
      blockedSince = Clock::now();
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) ThrowCode(1101, "pseudo-terminal write failed");
    if (Clock::now() - blockedSince > std::chrono::milliseconds(kOverrunAfterMs)) {
      // Nobody reads the slave: drop what waits there, as a host UART would overrun.
      int pending = 0;
      if (ioctl(m_slave, FIONREAD, &pending) == 0 && pending > 0) m_overrun += static_cast<std::uint64_t>(pending);
      tcflush(m_slave, TCIFLUSH);
      blockedSince = Clock::now();
    }
    pollfd fds[2] = {{m_master, POLLOUT, 0}, {m_wakeFd, POLLIN, 0}};
    if (poll(fds, 2, kSliceMs) > 0 && fds[1].revents != 0) ThrowCode(1102);
  }
}

}  // namespace cvm6
