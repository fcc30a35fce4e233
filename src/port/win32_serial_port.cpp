// CSerialPort on Win32: the port opened for overlapped I/O, each direction with its own
// request record and auto-reset completion event, so that the link's receiver can wait
// in Read while its transmitter writes. The driver's own time-outs are all zero (a
// request completes only with every byte); the time limit is the wait on the event.
//
// A request whose wait ran out, that WakeReader or Close ends, is cancelled and waited
// for before the call returns, but never for longer than kCancelWaitMs: a driver that
// does not end a cancelled request must not freeze the link's threads (and with them
// the window that stops them). Such a request keeps its record and its buffer until it
// does end; the system only ever reads from and writes into buffers of the port's own,
// so none of it reaches the caller's after the call has returned. Bytes a cancelled
// read had already taken are kept for the next Read.
//
// A request aborted once (ERROR_OPERATION_ABORTED, which some drivers give after a line
// error, or when another program touched the port) is not a removed adapter: the port's
// error state is cleared and the request made again. Only a second abort within
// kAbortRepeatMs, or the errors that mean removal, end the line.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <vector>

#include "platform/failure.h"
#include "port/serial_port.h"
#include "port/win32_adapter_latency.h"
#include "port/win32_comm_calls.h"

namespace cvm6 {

// The most a Read takes from the driver's queue beyond what it was asked for.
constexpr DWORD kReadAheadSize = 4096;
// How long a cancelled request is waited for before it is left to end on its own.
constexpr DWORD kCancelWaitMs = 1000;
// A write without a limit of its own may take its bytes' time on the line and this.
constexpr std::uint32_t kWriteMarginMs = 1000;
// A second abort this soon after the first means the line has gone.
constexpr std::uint32_t kAbortRepeatMs = 1000;

CWin32CommCalls& CWin32CommCalls::System() {
  static CWin32CommCalls calls;
  return calls;
}

struct CSerialPort::SystemPort {
  enum class Ending { Complete, TimedOut, Woken, Closed, Abandoned, Gone, Refused, WaitFailed, Stalled };
  struct Outcome {
    Ending ending;
    DWORD transferred;  // bytes moved, whatever the ending
  };
  // A request as the system holds it while it runs: its record and the buffer the
  // system reads from or writes into.
  struct Request {
    OVERLAPPED overlapped{};
    std::vector<std::uint8_t> buffer;
  };
  // One direction's requests; only its own thread touches them (and the destructor).
  struct Direction {
    HANDLE event = nullptr;
    std::unique_ptr<Request> request = std::make_unique<Request>();
    // Cancelled requests the system had not ended within kCancelWaitMs.
    std::vector<std::unique_ptr<Request>> abandoned;
    std::optional<std::chrono::steady_clock::time_point> lastAbort;
  };
  enum class CancelEnd { Completed, Ended, StillRunning };

  ~SystemPort();
  Outcome Transfer(bool reading, std::uint8_t* bytes, DWORD length, std::uint32_t timeoutMs);
  // Waits for the direction's event, a Read also for the reader's wake (the completion
  // wins a tie): WAIT_OBJECT_0, WAIT_OBJECT_0 + 1 for the wake, or the wait's other results.
  DWORD Wait(bool reading, DWORD waitMs);
  // Cancels the running request and waits up to kCancelWaitMs for the system to end it.
  // One still running then is set aside, and the direction takes a new record.
  CancelEnd Cancel(Direction& direction, DWORD& transferred);
  // After an abort: true (the error state cleared) to make the request again.
  bool RetryAfterAbort(Direction& direction);
  // Forgets the set-aside requests that have ended by now.
  void Reap(Direction& direction);
  [[noreturn]] void Throw(const Outcome& outcome, const char* what);

  CWin32CommCalls* m_calls = &CWin32CommCalls::System();
  // What the port had when it was opened, put back before its handle closes: the next
  // program to open it finds it as it was.
  std::optional<DCB> m_foundLine;
  std::optional<COMMTIMEOUTS> m_foundTimeouts;
  void CloseHandleAsFound();
  std::uint32_t m_baudRate = 0;
  HANDLE m_handle = INVALID_HANDLE_VALUE;
  HANDLE m_readEvent = nullptr;
  HANDLE m_writeEvent = nullptr;
  // Set by WakeReader; auto-reset, so the one Read whose wait takes it ends early.
  HANDLE m_readerWake = nullptr;
  Direction m_reading;
  Direction m_writing;
  std::atomic<bool> m_closing{false};
  std::mutex m_closeOnce;         // one Close at a time
  std::shared_mutex m_closeLock;  // transfers hold it shared, Close exclusive
  // Bytes taken from the line but not yet asked for, oldest first: read ahead with the
  // bytes a Read asked for, or taken by a Read that then timed out or was woken. The
  // reader's only.
  std::deque<std::uint8_t> m_carried;
};

namespace {

// The errors of a port whose device has gone (an unplugged USB adapter; Wine's closed
// pseudo-terminal): no later request can succeed, so the call fails at once. An abort
// (ERROR_OPERATION_ABORTED) is not among them: see RetryAfterAbort.
bool IsLineGone(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
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
  port.m_readEvent = port.m_reading.event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!port.m_readEvent) ThrowCode(1103, "no read completion event");
  port.m_writeEvent = port.m_writing.event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
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
  port.m_foundLine = current;
  if (COMMTIMEOUTS found{}; GetCommTimeouts(port.m_handle, &found)) port.m_foundTimeouts = found;
  // Only advice to the driver; one that keeps its own queue sizes still works.
  (void)SetupComm(port.m_handle, kQueueSize, kQueueSize);
  DCB dcb = LineSettings(baudRate, handshake);
  if (!SetCommState(port.m_handle, &dcb)) ThrowCode(1101, "line settings refused");
  COMMTIMEOUTS timeouts{};
  if (!SetCommTimeouts(port.m_handle, &timeouts)) ThrowCode(1101, "time-outs refused");
  m_baudRate = port.m_baudRate = baudRate;
  m_device = name ? name : "";
  m_opened = true;
}

void CSerialPort::SystemPort::CloseHandleAsFound() {
  if (m_foundLine) (void)m_calls->SetCommState(m_handle, &*m_foundLine);
  if (m_foundTimeouts) (void)m_calls->SetCommTimeouts(m_handle, &*m_foundTimeouts);
  m_foundLine.reset();
  m_foundTimeouts.reset();
  m_calls->CloseHandle(m_handle);
}

CSerialPort::SystemPort::~SystemPort() {
  if (m_handle != INVALID_HANDLE_VALUE) CloseHandleAsFound();
  // Closing the handle ends every request on it; one that a broken driver still holds
  // after that keeps its memory for good rather than have the system write into memory
  // that is no longer its own.
  for (Direction* direction : {&m_reading, &m_writing}) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCancelWaitMs);
    while (!direction->abandoned.empty() && std::chrono::steady_clock::now() < until) {
      Reap(*direction);
      if (!direction->abandoned.empty()) Sleep(10);
    }
    for (auto& request : direction->abandoned) (void)request.release();
  }
  if (m_readEvent) CloseHandle(m_readEvent);
  if (m_writeEvent) CloseHandle(m_writeEvent);
  if (m_readerWake) CloseHandle(m_readerWake);
}

CSerialPort::~CSerialPort() = default;

struct SystemPortMaker {
  static std::unique_ptr<CSerialPort> Make(CWin32CommCalls& calls, HANDLE file, std::uint32_t baudRate) {
    std::unique_ptr<CSerialPort> port(new CSerialPort());
    port->m_system = std::make_unique<CSerialPort::SystemPort>();
    CSerialPort::SystemPort& system = *port->m_system;
    system.m_calls = &calls;
    system.m_readEvent = system.m_reading.event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    system.m_writeEvent = system.m_writing.event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    system.m_readerWake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!system.m_readEvent || !system.m_writeEvent || !system.m_readerWake) ThrowCode(1103, "no completion event");
    system.m_handle = file;
    system.m_baudRate = baudRate;
    port->m_baudRate = baudRate;
    port->m_opened = true;
    return port;
  }
};

std::unique_ptr<CSerialPort> MakePortOverCalls(CWin32CommCalls& calls, HANDLE file, std::uint32_t baudRate) {
  return SystemPortMaker::Make(calls, file, baudRate);
}

std::uint32_t CSerialPort::GetInfo() { return m_baudRate; }

AdapterLatency CSerialPort::LatencySetting() {
  if (!m_system || m_device.empty()) return {};
  return ReadWin32AdapterLatency(m_device);
}

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
  // leave (within kCancelWaitMs each), and only then does the handle go.
  port.m_closing = true;
  (void)port.m_calls->CancelIoEx(port.m_handle, nullptr);
  SetEvent(port.m_readEvent);
  SetEvent(port.m_writeEvent);
  std::unique_lock<std::shared_mutex> guard(port.m_closeLock);
  port.CloseHandleAsFound();
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
  if (!port.m_calls->ClearCommError(port.m_handle, &errors, &status)) return carried;
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
  (void)port.m_calls->ClearCommError(port.m_handle, &errors, &status);
  const DWORD wanted = length - carried;
  if (status.cbInQue > wanted && wanted < kReadAheadSize) {
    // More than asked for is there already (the rest of a frame, a reply behind an
    // acknowledgement): one request takes it all, and the Reads after this one find
    // their bytes in hand instead of asking the driver each time.
    const DWORD ahead = std::min<DWORD>(status.cbInQue, kReadAheadSize);
    std::vector<std::uint8_t> into(ahead);
    const auto outcome = port.Transfer(true, into.data(), ahead, timeoutMs);
    port.m_carried.insert(port.m_carried.end(), into.begin(), into.begin() + outcome.transferred);
    if (outcome.ending == SystemPort::Ending::Complete) {
      std::copy_n(port.m_carried.begin(), wanted, bytes + carried);
      port.m_carried.erase(port.m_carried.begin(), port.m_carried.begin() + wanted);
      return;
    }
    // Failed: what this Read took from what was kept goes back in front of it.
    port.m_carried.insert(port.m_carried.begin(), bytes, bytes + carried);
    port.Throw(outcome, "read");
  }
  const auto outcome = port.Transfer(true, bytes + carried, wanted, timeoutMs);
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
  const auto outcome = port.Transfer(false, bytes, length, timeoutMs);
  if (outcome.ending != SystemPort::Ending::Complete) port.Throw(outcome, "write");
}

// `bytes` is the caller's: a write's bytes are copied into the request's own buffer
// before it starts, a read's are copied out of it once it has ended.
CSerialPort::SystemPort::Outcome CSerialPort::SystemPort::Transfer(bool reading, std::uint8_t* bytes, DWORD length,
                                                                     std::uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  Direction& direction = reading ? m_reading : m_writing;
  Reap(direction);
  // A write without a limit of its own still ends: a line that does not take its bytes
  // within their time on the line and a margin has failed.
  const bool stallLimit = !reading && timeoutMs == 0;
  std::uint32_t limitMs = timeoutMs;
  if (stallLimit) {
    const std::uint32_t baud = m_baudRate != 0 ? m_baudRate : 57600;
    limitMs = static_cast<std::uint32_t>((static_cast<std::uint64_t>(length) * 10 * 1000 + baud - 1) / baud) +
              kWriteMarginMs;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  const Ending timedOut = stallLimit ? Ending::Stalled : Ending::TimedOut;
  const auto copyIn = [&](DWORD done, DWORD count) {
    if (reading) std::copy_n(direction.request->buffer.begin(), count, bytes + done);
  };
  DWORD done = 0;
  // One request normally does it all; one that a driver ends short is followed by one
  // for the rest, within the same limit.
  while (done < length) {
    const auto left = [&]() -> DWORD {
      if (limitMs == 0) return INFINITE;
      const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      return ms <= 0 ? 0 : static_cast<DWORD>(ms);
    };
    if (limitMs != 0 && left() == 0) return {timedOut, done};
    Request& request = *direction.request;
    const DWORD count = length - done;
    if (request.buffer.size() < count) request.buffer.resize(count);
    if (!reading) std::copy_n(bytes + done, count, request.buffer.begin());
    request.overlapped = OVERLAPPED{};
    request.overlapped.hEvent = direction.event;  // the start of the request clears it
    const BOOL started = reading ? m_calls->ReadFile(m_handle, request.buffer.data(), count, &request.overlapped)
                                 : m_calls->WriteFile(m_handle, request.buffer.data(), count, &request.overlapped);
    if (!started) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) {
        if (m_closing) return {Ending::Closed, done};
        if (error == ERROR_OPERATION_ABORTED) {
          if (RetryAfterAbort(direction)) continue;
          return {Ending::Gone, done};  // aborted again at once: the line has gone
        }
        return {IsLineGone(error) ? Ending::Gone : Ending::Refused, done};
      }
    }
    DWORD transferred = 0;
    // A Close that came before this request began cancelled nothing of it.
    if (m_closing) {
      if (Cancel(direction, transferred) != CancelEnd::StillRunning) copyIn(done, transferred);
      return {Ending::Closed, done + transferred};
    }

    // A request that completed at once has signalled the event already. The event may
    // also be signalled by a request set aside earlier that ended late: the request's
    // own state says which.
    DWORD waited = WAIT_TIMEOUT;
    bool ended = false;
    DWORD error = ERROR_SUCCESS;
    for (;;) {
      waited = Wait(reading, left());
      if (waited != WAIT_OBJECT_0) break;
      if (m_calls->GetOverlappedResult(m_handle, &request.overlapped, &transferred)) {
        ended = true;
        break;
      }
      error = GetLastError();
      if (error != ERROR_IO_INCOMPLETE) {
        ended = true;
        break;
      }
      if (m_closing) break;  // Close's signal, with the request still running
      if (limitMs != 0 && left() == 0) {
        waited = WAIT_TIMEOUT;
        break;
      }
    }
    if (ended) {
      copyIn(done, transferred);
      done += transferred;
      if (error == ERROR_SUCCESS) {
        // Nothing moved on a request for bytes: the driver ends requests that way only
        // when the line has gone.
        if (transferred == 0) return {Ending::Gone, done};
        continue;
      }
      if (m_closing) return {Ending::Closed, done};
      if (error == ERROR_OPERATION_ABORTED && RetryAfterAbort(direction)) continue;
      return {Ending::Gone, done};  // a removed device, Wine's broken pipe, anything else
    }

    // The request may still be running; the system must be done with it (or have it
    // set aside with a buffer of its own) before the caller's buffer goes back.
    const CancelEnd end = Cancel(direction, transferred);
    if (end != CancelEnd::StillRunning) {
      copyIn(done, transferred);
      done += transferred;
    }
    if (end == CancelEnd::Completed) continue;  // it completed just as the time ran out
    if (m_closing) return {Ending::Closed, done};
    if (waited == WAIT_TIMEOUT) return {timedOut, done};
    if (waited == WAIT_OBJECT_0 + 1) return {Ending::Woken, done};
    if (waited == WAIT_ABANDONED) return {Ending::Abandoned, done};
    return {Ending::WaitFailed, done};
  }
  return {Ending::Complete, done};
}

DWORD CSerialPort::SystemPort::Wait(bool reading, DWORD waitMs) {
  if (!reading) return WaitForSingleObject(m_writing.event, waitMs);
  const HANDLE objects[2] = {m_reading.event, m_readerWake};
  return WaitForMultipleObjects(2, objects, FALSE, waitMs);
}

CSerialPort::SystemPort::CancelEnd CSerialPort::SystemPort::Cancel(Direction& direction, DWORD& transferred) {
  Request& request = *direction.request;
  (void)m_calls->CancelIoEx(m_handle, &request.overlapped);  // ERROR_NOT_FOUND when it had just completed
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCancelWaitMs);
  for (;;) {
    transferred = 0;
    if (m_calls->GetOverlappedResult(m_handle, &request.overlapped, &transferred)) return CancelEnd::Completed;
    if (GetLastError() != ERROR_IO_INCOMPLETE) return CancelEnd::Ended;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
    if (ms <= 0) break;
    (void)WaitForSingleObject(direction.event, static_cast<DWORD>(ms));
  }
  // The driver holds on to it: its record and buffer stay until it lets go.
  transferred = 0;
  direction.abandoned.push_back(std::move(direction.request));
  direction.request = std::make_unique<Request>();
  return CancelEnd::StillRunning;
}

bool CSerialPort::SystemPort::RetryAfterAbort(Direction& direction) {
  const auto now = std::chrono::steady_clock::now();
  if (direction.lastAbort && now - *direction.lastAbort < std::chrono::milliseconds(kAbortRepeatMs)) return false;
  direction.lastAbort = now;
  DWORD errors = 0;
  COMSTAT status{};
  (void)m_calls->ClearCommError(m_handle, &errors, &status);
  return true;
}

void CSerialPort::SystemPort::Reap(Direction& direction) {
  std::erase_if(direction.abandoned, [&](const std::unique_ptr<Request>& request) {
    DWORD transferred = 0;
    return m_calls->GetOverlappedResult(m_handle, &request->overlapped, &transferred) ||
           GetLastError() != ERROR_IO_INCOMPLETE;
  });
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
    case Ending::Stalled: ThrowCode(1101, direction + " did not complete: the line takes no bytes");
  }
  ThrowCode(1101, direction + " failed");
}

}  // namespace cvm6
