#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "support/pty_pair.h"

namespace cvm6::test {

struct PtyPair::Master {
  std::atomic<int> fd{-1};
  int holdSlave = -1;  // keeps the slave side alive until the code under test opens it
};

PtyPair::PtyPair() : m_master(std::make_unique<Master>()) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) throw std::runtime_error("no pseudo-terminal");
  m_master->fd = master;
  char name[128];
  if (ptsname_r(master, name, sizeof name) != 0) throw std::runtime_error("no pseudo-terminal name");
  m_slavePath = name;
  termios tio{};
  tcgetattr(master, &tio);
  cfmakeraw(&tio);
  tcsetattr(master, TCSANOW, &tio);
  // Hold the slave open so that writes to the master before the port opens are not lost
  // to a hang-up, and put it in raw mode (the port sets raw mode again itself).
  m_master->holdSlave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_master->holdSlave >= 0 && tcgetattr(m_master->holdSlave, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(m_master->holdSlave, TCSANOW, &tio);
  }
  int flags = fcntl(master, F_GETFL);
  fcntl(master, F_SETFL, flags | O_NONBLOCK);
}

PtyPair::~PtyPair() { CloseMaster(); }

bool PtyPair::IsMasterOpen() const { return m_master->fd >= 0; }

void PtyPair::Write(const std::uint8_t* bytes, std::size_t count) {
  const int fd = m_master->fd;
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd, bytes + done, count - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 1000) <= 0) throw std::runtime_error("pty write stalled");
    }
  }
}

int PtyPair::ReadSome(std::uint8_t* out, std::size_t capacity, int timeoutMs) {
  const int fd = m_master->fd;
  if (fd < 0) return -1;
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) <= 0) return m_master->fd < 0 ? -1 : 0;
  const ssize_t n = ::read(fd, out, capacity);
  if (n > 0) return static_cast<int>(n);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  return -1;  // the slave is held open, so end of file or EIO means the pair is gone
}

void PtyPair::CloseMaster() {
  if (m_master->holdSlave >= 0) close(m_master->holdSlave);
  m_master->holdSlave = -1;
  const int fd = m_master->fd.exchange(-1);
  if (fd >= 0) close(fd);
}

}  // namespace cvm6::test
