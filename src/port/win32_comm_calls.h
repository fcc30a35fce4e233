#pragma once
// The calls through which the Win32 serial port moves bytes and ends requests. The port
// uses the system's; the tests put in a fake driver, to hold the port against what real
// drivers do now and then and a pseudo-terminal never does: a request that never
// completes, even when cancelled, or one aborted (ERROR_OPERATION_ABORTED) once.
//
// Threading rule: the port calls these from its reading and its writing thread at once,
// and from Close on any thread.
#include <windows.h>

#include <cstdint>
#include <memory>

namespace cvm6 {

class CSerialPort;

class CWin32CommCalls {
 public:
  virtual ~CWin32CommCalls() = default;
  virtual BOOL ReadFile(HANDLE file, void* buffer, DWORD length, OVERLAPPED* request) {
    return ::ReadFile(file, buffer, length, nullptr, request);
  }
  virtual BOOL WriteFile(HANDLE file, const void* buffer, DWORD length, OVERLAPPED* request) {
    return ::WriteFile(file, buffer, length, nullptr, request);
  }
  // Never waits: a request still running fails with ERROR_IO_INCOMPLETE.
  virtual BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* request, DWORD* transferred) {
    return ::GetOverlappedResult(file, request, transferred, FALSE);
  }
  virtual BOOL CancelIoEx(HANDLE file, OVERLAPPED* request) { return ::CancelIoEx(file, request); }
  virtual BOOL ClearCommError(HANDLE file, DWORD* errors, COMSTAT* status) {
    return ::ClearCommError(file, errors, status);
  }
  virtual BOOL CloseHandle(HANDLE file) { return ::CloseHandle(file); }
  // Puts back the line settings and time-outs the port had when it was opened.
  virtual BOOL SetCommState(HANDLE file, DCB* dcb) { return ::SetCommState(file, dcb); }
  virtual BOOL SetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts) { return ::SetCommTimeouts(file, timeouts); }

  static CWin32CommCalls& System();
};

// A port on `file` as if it had been opened at `baudRate`, every transfer going through
// `calls`, which must outlive it.
std::unique_ptr<CSerialPort> MakePortOverCalls(CWin32CommCalls& calls, HANDLE file, std::uint32_t baudRate);

}  // namespace cvm6
