#pragma once
// The far end of the model's pseudo-terminal for tests of the line alone: the slave
// side opened raw, read and written directly.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/wire.h"

namespace cvm6::test {

class SlaveEnd {
 public:
  explicit SlaveEnd(const std::string& path) {
    m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (m_fd >= 0 && tcgetattr(m_fd, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(m_fd, TCSANOW, &tio);
    }
  }
  ~SlaveEnd() {
    if (m_fd >= 0) close(m_fd);
  }
  bool IsOpen() const { return m_fd >= 0; }

  void Write(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
      if (n > 0) done += static_cast<std::size_t>(n);
      pollfd p{m_fd, POLLOUT, 0};
      if (done < bytes.size() && poll(&p, 1, 5000) <= 0) return;
    }
  }
  // Up to `count` bytes; stops after `ms` without a byte. With `times`, each byte's
  // arrival time is recorded.
  Bytes Read(std::size_t count, int ms, std::vector<std::chrono::steady_clock::time_point>* times = nullptr) {
    Bytes out;
    std::uint8_t buffer[512];
    while (out.size() < count) {
      pollfd p{m_fd, POLLIN, 0};
      if (poll(&p, 1, ms) <= 0) break;
      const ssize_t n = ::read(m_fd, buffer, std::min(sizeof buffer, count - out.size()));
      if (n <= 0) continue;
      const auto now = std::chrono::steady_clock::now();
      out.insert(out.end(), buffer, buffer + n);
      if (times) times->insert(times->end(), static_cast<std::size_t>(n), now);
    }
    return out;
  }

 private:
  int m_fd = -1;
};

}  // namespace cvm6::test
