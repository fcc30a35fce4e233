// CSerialPort on POSIX termios. Any tty works, pseudo-terminals included, so the whole
// program can be run against the device simulator without hardware.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <optional>
#include <shared_mutex>

#include "platform/failure.h"
#include "port/posix_adapter_latency.h"
#include "port/read_buffer.h"
#include "port/serial_port.h"

namespace cvm6 {

struct CSerialPort::SystemPort {
  ~SystemPort();
  void Transfer(bool reading, std::uint8_t* buffer, std::uint32_t length, std::uint32_t timeoutMs);
  void CloseWakeFds();

  // Puts back the line settings (and the driver's low-latency flag) found at open: a
  // port is left as it was found, a terminal named by mistake above all, which raw mode
  // with reads that never wait would otherwise leave unusable.
  void RestoreLine();

  int m_handle = -1;              // file descriptor of the tty; -1 when not open
  std::optional<termios> m_foundLine;
  std::optional<int> m_foundSerialFlags;
  int m_wakeFd = -1;              // eventfd that Close uses to end a waiting transfer
  int m_readerWakeFd = -1;        // eventfd that WakeReader uses to end a waiting Read
  std::shared_mutex m_closeLock;  // transfers hold it shared, Close exclusive
  // Bytes read but not yet asked for, which BytesWaiting reports.
  CReadBuffer m_input;
};

namespace {

speed_t SpeedFor(std::uint32_t baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return 0;
  }
}

// Raw 8N1 with no flow control of any kind; reads return what is there (the poll loop
// does the waiting and the time-out). `found` receives the settings the line had.
bool ApplyLineSettings(int fd, std::uint32_t baud, bool handshake, std::optional<termios>& found) {
  const speed_t speed = SpeedFor(baud);
  termios tio{};
  if (speed == 0 || tcgetattr(fd, &tio) != 0) return false;
  found = tio;
  cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CREAD | CLOCAL;
  if (handshake) tio.c_cflag |= CRTSCTS;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return false;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return false;
  tcflush(fd, TCIOFLUSH);
  return true;
}

// DTR and RTS on. Pseudo-terminals have no modem lines and refuse the request.
void RaiseModemLines(int fd) {
  int lines = TIOCM_DTR | TIOCM_RTS;
  (void)ioctl(fd, TIOCMBIS, &lines);
}

// USB adapters otherwise hold each short reply for their latency timer (16 ms on common
// chips), which a stop-and-wait download pays on every block. Drivers without the
// setting refuse it; that is fine.
void AskForLowLatency(int fd, std::optional<int>& foundFlags) {
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
    const int flags = serial.flags;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (ioctl(fd, TIOCSSERIAL, &serial) == 0) foundFlags = flags;
  }
}

}  // namespace

CSerialPort::CSerialPort() = default;

CSerialPort::CSerialPort(const char* name, std::uint32_t baudRate, bool handshake)
    : m_system(std::make_unique<SystemPort>()) {
  SystemPort& port = *m_system;
  port.m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  port.m_readerWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (port.m_wakeFd < 0 || port.m_readerWakeFd < 0) ThrowCode(1103);  // ~SystemPort closes them
  m_opened = false;

  const std::string path = MapPortName(name ? name : "");
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    m_openError = errno;
    return;
  }
  // No sharing: the advisory lock keeps out every program that asks (root ignores
  // TIOCEXCL, so the lock is what stops a second updater run as root).
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    m_openError = errno == EWOULDBLOCK ? EBUSY : errno;
    close(fd);
    return;
  }
  // A file or /dev/null opens as well as a port does, but has no line to set.
  const bool serialLine = isatty(fd);
  if (serialLine) (void)ioctl(fd, TIOCEXCL);
  port.m_handle = fd;
  if (!serialLine || !ApplyLineSettings(fd, baudRate, handshake, port.m_foundLine)) {
    port.RestoreLine();
    (void)ioctl(fd, TIOCNXCL);
    close(fd);
    port.m_handle = -1;
    ThrowCode(1101, serialLine ? "line settings refused" : DescribeOpenError(ENOTTY));
  }
  if (!handshake) RaiseModemLines(fd);
  AskForLowLatency(fd, port.m_foundSerialFlags);
  m_baudRate = baudRate;
  m_device = path;
  m_opened = true;
}

void CSerialPort::SystemPort::CloseWakeFds() {
  for (int* fd : {&m_wakeFd, &m_readerWakeFd}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

void CSerialPort::SystemPort::RestoreLine() {
  if (m_foundSerialFlags) {
    serial_struct serial{};
    if (ioctl(m_handle, TIOCGSERIAL, &serial) == 0) {
      serial.flags = *m_foundSerialFlags;
      (void)ioctl(m_handle, TIOCSSERIAL, &serial);
    }
  }
  // At once, not after the output drains: an adapter that stopped taking bytes would
  // hold the close for ever.
  if (m_foundLine) (void)tcsetattr(m_handle, TCSANOW, &*m_foundLine);
  m_foundLine.reset();
  m_foundSerialFlags.reset();
}

CSerialPort::SystemPort::~SystemPort() {
  if (m_handle >= 0) {
    RestoreLine();
    (void)ioctl(m_handle, TIOCNXCL);  // the exclusive flag would outlive us on a shared tty
    close(m_handle);
  }
  CloseWakeFds();
}

CSerialPort::~CSerialPort() = default;

std::uint32_t CSerialPort::GetInfo() { return m_baudRate; }

AdapterLatency CSerialPort::LatencySetting() {
  if (!m_system || m_system->m_handle < 0) return {};
  std::shared_lock<std::shared_mutex> guard(m_system->m_closeLock);
  if (m_system->m_handle < 0) return {};
  return ReadPosixAdapterLatency(m_system->m_handle, m_device);
}

void CSerialPort::WakeReader() {
  const std::uint64_t one = 1;
  if (m_system && m_system->m_readerWakeFd >= 0) (void)!write(m_system->m_readerWakeFd, &one, sizeof one);
}

std::string CSerialPort::OpenErrorText() const { return DescribeOpenError(m_openError); }

bool CSerialPort::IsOpen() { return m_system && m_system->m_handle >= 0; }

bool CSerialPort::Close() {
  if (!m_system || m_system->m_handle < 0) return false;
  SystemPort& port = *m_system;
  // Wake any transfer that waits, then wait for it to leave before the descriptor goes.
  const std::uint64_t one = 1;
  if (port.m_wakeFd >= 0) (void)!write(port.m_wakeFd, &one, sizeof one);
  std::unique_lock<std::shared_mutex> guard(port.m_closeLock);
  if (port.m_handle < 0) return false;
  port.RestoreLine();
  (void)ioctl(port.m_handle, TIOCNXCL);
  flock(port.m_handle, LOCK_UN);
  close(port.m_handle);
  port.m_handle = -1;
  return true;
}

std::uint32_t CSerialPort::BytesWaiting() { return m_system ? m_system->m_input.Size() : 0; }

void CSerialPort::Read(void* buffer, std::uint32_t length, std::uint32_t timeoutMs) {
  if (!m_system) ThrowCode(1102);
  m_system->Transfer(true, static_cast<std::uint8_t*>(buffer), length, timeoutMs);
}

void CSerialPort::Write(const void* buffer, std::uint32_t length, std::uint32_t timeoutMs) {
  if (!m_system) ThrowCode(1102);
  m_system->Transfer(false, static_cast<std::uint8_t*>(const_cast<void*>(buffer)), length, timeoutMs);
}

void CSerialPort::SystemPort::Transfer(bool reading, std::uint8_t* buffer, std::uint32_t length,
                                       std::uint32_t timeoutMs) {
  std::shared_lock<std::shared_mutex> guard(m_closeLock);
  const int fd = m_handle;
  if (fd < 0) ThrowCode(1102);
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::uint32_t done = 0;
  // The descriptor is non-blocking: the transfer is tried first and poll() waits only
  // when nothing could be moved, which saves a system call on every read that finds its
  // bytes already there (most of them, inside a frame).
  // With VMIN and VTIME 0 a read that finds nothing returns 0, so 0 means end of file
  // only right after poll() said there was something to read.
  bool tryFirst = true;
  bool polledReady = false;
  while (done < length) {
    if (tryFirst) {
      // Whatever the line holds comes in with one read; the rest waits in m_input.
      const ssize_t n =
          reading ? m_input.Read(fd, buffer + done, length - done) : ::write(fd, buffer + done, length - done);
      const bool afterPoll = polledReady;
      polledReady = false;
      if (n > 0) {
        done += static_cast<std::uint32_t>(n);
        continue;
      }
      if (n == 0 && reading && afterPoll) ThrowCode(1101, "end of file on the line");
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) {
        if (errno != EIO && errno != ENXIO && errno != EPIPE) ThrowCode(1104, "transfer refused");
        ThrowCode(1101, "the line is gone");
      }
    }
    int waitMs = -1;
    if (timeoutMs != 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) ThrowCode(1105);
      waitMs = static_cast<int>(left);
    }
    // Only a Read looks at the reader's wake-up; it stays set until a Read takes it.
    pollfd fds[3] = {{fd, static_cast<short>(reading ? POLLIN : POLLOUT), 0},
                     {m_wakeFd, POLLIN, 0},
                     {m_readerWakeFd, POLLIN, 0}};
    const int ready = poll(fds, reading ? 3 : 2, waitMs);
    tryFirst = false;
    if (ready < 0) {
      if (errno == EINTR) continue;
      ThrowCode(1101, "poll failed");
    }
    if (ready == 0) continue;  // time-out: checked at the top
    if (fds[1].revents != 0) ThrowCode(1102);  // Close ended the wait
    if (reading && fds[2].revents != 0) {
      std::uint64_t count = 0;
      (void)!read(m_readerWakeFd, &count, sizeof count);
      ThrowCode(1105, "woken");
    }
    const short got = fds[0].revents;
    if (got & POLLNVAL) ThrowCode(1102);
    if (got & (reading ? POLLIN : POLLOUT)) {
      tryFirst = polledReady = true;
      continue;
    }
    if (got & (POLLHUP | POLLERR)) ThrowCode(1101, "hang-up on the line");
  }
}

}  // namespace cvm6
