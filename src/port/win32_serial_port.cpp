// CSerialPort on Win32: the port opened for overlapped I/O, each direction with its own
// request record and auto-reset completion event, so that the link's receiver can wait
// in Read while its transmitter writes. The driver's own time-outs are all zero (a
// request completes only with every byte); the time limit is the wait on the event.
//
// A request whose wait ran out, that WakeReader or Close ends, is cancelled and waited
// for before the call returns: the system must be done with the caller's buffer by then.
// Bytes a cancelled read had already taken are kept for the next Read.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "platform/failure.h"
#include "port/serial_port.h"

namespace cvm6 {

// The most a Read takes from the driver's queue beyond what it was asked for.
constexpr DWORD kReadAheadSize = 4096;

struct CSerialPort::SystemPort {
  enum class Ending { Complete, TimedOut, Woken, Closed, Abandoned, Gone, Refused, WaitFailed };
  struct Outcome {
    Ending ending;
    DWORD transferred;  // bytes moved, whatever the ending
  };

  ~SystemPort();
  Outcome Transfer(bool reading, OVERLAPPED& request, HANDLE event, std::uint8_t* bytes, DWORD length,
                   std::uint32_t timeoutMs);
  // Waits for `event`, a Read also for the reader's wake (the completion wins a tie):
  // WAIT_OBJECT_0, WAIT_OBJECT_0 + 1 for the wake, or the wait's other results.
  DWORD Wait(bool reading, HANDLE event, DWORD waitMs);
  // Cancels `request` and waits until the system is done with it. True when it had
  // completed in full after all.
  bool Cancel(OVERLAPPED& request, DWORD& transferred);
  [[noreturn]] void Throw(const Outcome& outcome, const char* what);

  HANDLE m_handle = INVALID_HANDLE_VALUE;
  HANDLE m_readEvent = nullptr;
  HANDLE m_writeEvent = nullptr;
  // Set by WakeReader; auto-reset, so the one Read whose wait takes it ends early.
  HANDLE m_readerWake = nullptr;
  OVERLAPPED m_readRequest{};
  OVERLAPPED m_writeRequest{};
  std::atomic<bool> m_closing{false};
  std::mutex m_closeOnce;         // one Close at a time
  std::shared_mutex m_closeLock;  // transfers hold it shared, Close exclusive
  // Bytes taken from the line but not yet asked for, oldest first: read ahead with the
  // bytes a Read asked for, or taken by a Read that then timed out or was woken. The
  // reader's only.
  std::deque<std::uint8_t> m_carried;
  std::vector<std::uint8_t> m_readAhead = std::vector<std::uint8_t>(kReadAheadSize);
};

namespace {

// The errors of a port whose device has gone (an unplugged USB adapter; Wine's closed
// pseudo-terminal): no later request can succeed, so the call fails at once.
bool IsLineGone(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_OPERATION_ABORTED:
    case ERROR_INVALID_HANDLE:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
    case ERROR_BROKEN_PIPE:
    case ERROR_HANDLE_EOF: return true;
    default: return false;
  }
}

// 8N1 at `baud`, no flow control in either direction and DTR and RTS held on; with
// `handshake`, CTS/DSR flow control and the two lines driven by the driver.
DCB LineSettings(std::uint32_t baud, bool handshake) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = baud;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = 1;
  dcb.fParity = 0;
  dcb.fOutxCtsFlow = handshake;
  dcb.fOutxDsrFlow = handshake;
  dcb.fDsrSensitivity = handshake;
  dcb.fDtrControl = handshake ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
  dcb.fRtsControl = handshake ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  dcb.fTXContinueOnXoff = 1;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  dcb.fAbortOnError = 0;
  dcb.XonLim = 0;
  dcb.XoffLim = 0;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.ErrorChar = '?';
  dcb.EofChar = 0;
  dcb.EvtChar = 0;
  return dcb;
}

// Queue sizes for the driver: a few frames' worth either way.
constexpr DWORD kQueueSize = 4096;

}  // namespace

CSerialPort::CSerialPort() = default;

CSerialPort::CSerialPort(const char* name, std::uint32_t baudRate, bool handshake)
    : m_system(std::make_unique<SystemPort>()) {
  SystemPort& port = *m_system;
  // On a failure below, ~SystemPort closes what was made.
  port.m_readEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!port.m_readEvent) ThrowCode(1103, "no read completion event");
  port.m_writeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!port.m_writeEvent) ThrowCode(1103, "no write completion event");
  port.m_readerWake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!port.m_readerWake) ThrowCode(1103, "no reader wake-up event");
  m_opened = false;

  const std::string path = MapPortName(name ? name : "");
  port.m_handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (port.m_handle == INVALID_HANDLE_VALUE) {
    m_openError = static_cast<int>(GetLastError());
    return;
  }
  // A file or NUL opens as well as a port does, but has no line to set.
  DCB current{};
  current.DCBlength = sizeof current;
  if (!GetCommState(port.m_handle, &current)) ThrowCode(1101, "not a serial port");
  // Only advice to the driver; one that keeps its own queue sizes still works.
  (void)SetupComm(port.m_handle, kQueueSize, kQueueSize);
  DCB dcb = LineSettings(baudRate, handshake);
  if (!SetCommState(port.m_handle, &dcb)) ThrowCode(1101, "line settings refused");
  COMMTIMEOUTS timeouts{};
  if (!SetCommTimeouts(port.m_handle, &timeouts)) ThrowCode(1101, "time-outs refused");
  m_baudRate = baudRate;
  m_opened = true;
}

CSerialPort::SystemPort::~SystemPort() {
  if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
  if (m_readEvent) CloseHandle(m_readEvent);
  if (m_writeEvent) CloseHandle(m_writeEvent);
  if (m_readerWake) CloseHandle(m_readerWake);
}

CSerialPort::~CSerialPort() = default;

std::uint32_t CSerialPort::GetInfo() { return m_baudRate; }

void CSerialPort::WakeReader() {
  if (m_system && m_system->m_readerWake) SetEvent(m_system->m_readerWake);
}

std::string CSerialPort::OpenErrorText() const { return DescribeOpenError(m_openError); }

bool CSerialPort::IsOpen() { return m_system && m_system->m_handle != INVALID_HANDLE_VALUE; }

bool CSerialPort::Close() {
  if (!m_system) return false;
  SystemPort& port = *m_system;
  std::lock_guard<std::mutex> once(port.m_closeOnce);
  if (port.m_handle == INVALID_HANDLE_VALUE) return false;
  // Every request on the handle ends; the calls that wait on them see m_closing and
  // leave, and only then does the handle go.
  port.m_closing = true;
  (void)CancelIoEx(port.m_handle, nullptr);
  SetEvent(port.m_readEvent);
  SetEvent(port.m_writeEvent);
  std::unique_lock<std::shared_mutex> guard(port.m_closeLock);
  CloseHandle(port.m_handle);
  port.m_handle = INVALID_HANDLE_VALUE;
  return true;
}

std::uint32_t CSerialPort::BytesWaiting() {
  if (!m_system) return 0;
  SystemPort& port = *m_system;
  std::shared_lock<std::shared_mutex> guard(port.m_closeLock);
  const auto carried = static_cast<std::uint32_t>(port.m_carried.size());
  // Bytes in hand surely do not wait; asking the driver costs a system call.
  if (carried > 0 || port.m_handle == INVALID_HANDLE_VALUE) return carried;
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(port.m_handle, &errors, &status)) return carried;
  return carried + status.cbInQue;
}

void CSerialPort::Read(void* buffer, std::uint32_t length, std::uint32_t timeoutMs) {
  if (!m_system) ThrowCode(1102);
  SystemPort& port = *m_system;
  std::shared_lock<std::shared_mutex> guard(port.m_closeLock);
  if (port.m_handle == INVALID_HANDLE_VALUE || port.m_closing) ThrowCode(1102);
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  const auto carried = static_cast<std::uint32_t>(std::min<std::size_t>(length, port.m_carried.size()));
  std::copy_n(port.m_carried.begin(), carried, bytes);
  port.m_carried.erase(port.m_carried.begin(), port.m_carried.begin() + carried);
  if (carried == length) return;

  DWORD errors = 0;
  COMSTAT status{};
  (void)ClearCommError(port.m_handle, &errors, &status);
  const DWORD wanted = length - carried;
  if (status.cbInQue > wanted && wanted < kReadAheadSize) {
    // More than asked for is there already (the rest of a frame, a reply behind an
    // acknowledgement): one request takes it all, and the Reads after this one find
    // their bytes in hand instead of asking the driver each time.
    const DWORD ahead = std::min<DWORD>(status.cbInQue, kReadAheadSize);
    std::uint8_t* into = port.m_readAhead.data();
    const auto outcome = port.Transfer(true, port.m_readRequest, port.m_readEvent, into, ahead, timeoutMs);
    port.m_carried.insert(port.m_carried.end(), into, into + outcome.transferred);
    if (outcome.ending == SystemPort::Ending::Complete) {
      std::copy_n(port.m_carried.begin(), wanted, bytes + carried);
      port.m_carried.erase(port.m_carried.begin(), port.m_carried.begin() + wanted);
      return;
    }
    // Failed: what this Read took from what was kept goes back in front of it.
    port.m_carried.insert(port.m_carried.begin(), bytes, bytes + carried);
    port.Throw(outcome, "read");
  }
  const auto outcome = port.Transfer(true, port.m_readRequest, port.m_readEvent, bytes + carried, wanted, timeoutMs);
  if (outcome.ending == SystemPort::Ending::Complete) return;
  if (outcome.ending == SystemPort::Ending::TimedOut || outcome.ending == SystemPort::Ending::Woken)
    port.m_carried.assign(bytes, bytes + carried + outcome.transferred);
  port.Throw(outcome, "read");
}

void CSerialPort::Write(const void* buffer, std::uint32_t length, std::uint32_t timeoutMs) {
  if (!m_system) ThrowCode(1102);
  SystemPort& port = *m_system;
  std::shared_lock<std::shared_mutex> guard(port.m_closeLock);
  if (port.m_handle == INVALID_HANDLE_VALUE || port.m_closing) ThrowCode(1102);
  auto* bytes = static_cast<std::uint8_t*>(const_cast<void*>(buffer));
  const auto outcome = port.Transfer(false, port.m_writeRequest, port.m_writeEvent, bytes, length, timeoutMs);
  if (outcome.ending != SystemPort::Ending::Complete) port.Throw(outcome, "write");
}

CSerialPort::SystemPort::Outcome CSerialPort::SystemPort::Transfer(bool reading, OVERLAPPED& request, HANDLE event,
                                                                     std::uint8_t* bytes, DWORD length,
                                                                     std::uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  DWORD done = 0;
  // One request normally does it all; one that a driver ends short is followed by one
  // for the rest, within the same limit.
  while (done < length) {
    DWORD waitMs = INFINITE;
    if (timeoutMs != 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return {Ending::TimedOut, done};
      waitMs = static_cast<DWORD>(left);
    }
    request = OVERLAPPED{};
    request.hEvent = event;  // the start of the request clears it
    const BOOL started = reading ? ReadFile(m_handle, bytes + done, length - done, nullptr, &request)
                                 : WriteFile(m_handle, bytes + done, length - done, nullptr, &request);
    if (!started) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) {
        if (m_closing) return {Ending::Closed, done};
        return {IsLineGone(error) ? Ending::Gone : Ending::Refused, done};
      }
    }
    // A Close that came before this request began cancelled nothing of it.
    DWORD transferred = 0;
    if (m_closing) {
      Cancel(request, transferred);
      return {Ending::Closed, done + transferred};
    }

    // A request that completed at once has signalled the event already.
    const DWORD waited = Wait(reading, event, waitMs);
    if (waited == WAIT_OBJECT_0) {
      if (GetOverlappedResult(m_handle, &request, &transferred, FALSE)) {
        // Nothing moved on a request for bytes: the driver ends requests that way only
        // when the line has gone.
        if (transferred == 0) return {Ending::Gone, done};
        done += transferred;
        continue;
      }
      const DWORD error = GetLastError();
      if (error == ERROR_IO_INCOMPLETE) {  // Close's signal, with the request still running
        const bool complete = Cancel(request, transferred);
        done += transferred;
        if (complete && !m_closing) continue;
        return {m_closing ? Ending::Closed : Ending::WaitFailed, done};
      }
      done += transferred;
      if (m_closing) return {Ending::Closed, done};
      return {Ending::Gone, done};  // a removed device, Wine's broken pipe, anything else
    }

    // The request may still be running; its end must be waited for before the buffer
    // goes back to the caller.
    const bool complete = Cancel(request, transferred);
    done += transferred;
    if (complete) continue;  // it completed just as the time ran out
    if (waited == WAIT_TIMEOUT) return {Ending::TimedOut, done};
    if (waited == WAIT_OBJECT_0 + 1) return {Ending::Woken, done};
    if (waited == WAIT_ABANDONED) return {Ending::Abandoned, done};
    return {Ending::WaitFailed, done};
  }
  return {Ending::Complete, done};
}

DWORD CSerialPort::SystemPort::Wait(bool reading, HANDLE event, DWORD waitMs) {
  if (!reading) return WaitForSingleObject(event, waitMs);
  const HANDLE objects[2] = {event, m_readerWake};
  return WaitForMultipleObjects(2, objects, FALSE, waitMs);
}

bool CSerialPort::SystemPort::Cancel(OVERLAPPED& request, DWORD& transferred) {
  (void)CancelIoEx(m_handle, &request);  // ERROR_NOT_FOUND when it had just completed
  transferred = 0;
  return GetOverlappedResult(m_handle, &request, &transferred, TRUE) != FALSE;
}

void CSerialPort::SystemPort::Throw(const Outcome& outcome, const char* what) {
  const std::string direction(what);
  switch (outcome.ending) {
    case Ending::Complete: break;
    case Ending::TimedOut: ThrowCode(1105);
    case Ending::Woken: ThrowCode(1105, "woken");
    case Ending::Closed: ThrowCode(1102);
    case Ending::Abandoned: ThrowCode(1103, direction + ": completion wait abandoned");
    case Ending::Refused: ThrowCode(1104, direction + " refused");
    case Ending::Gone: ThrowCode(1101, "the line is gone");
    case Ending::WaitFailed: ThrowCode(1101, direction + ": completion wait failed");
  }
  ThrowCode(1101, direction + " failed");
}

}  // namespace cvm6
