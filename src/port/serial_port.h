#pragma once
// One open serial port with fixed line settings (8N1, no flow control, DTR and RTS held
// on) and blocking reads and writes of an exact length, each with its own time-out.
//
// Threading rule: one thread may Read while another Writes (the link's receiver and
// transmitter do exactly that). Two concurrent Reads, or two concurrent Writes, are not
// allowed. Close and WakeReader may be called from any thread.
//
// Failures are thrown as CFailure with the port's codes:
//   1101 line settings refused at construction; the line failed (end of file, EIO/ENXIO,
//        hang-up, a removed device: an unplugged adapter or a closed pseudo-terminal)
//        during Read/Write
//   1102 Read/Write on a port that is not open
//   1103 an internal wake-up object could not be made at construction
//   1104 the system refused to start the transfer
//   1105 the transfer did not complete within its time-out
// A port that cannot be opened at all is not a failure: m_opened is false.
#include <cstdint>
#include <memory>
#include <string>

#include "port/adapter_latency.h"

namespace cvm6 {

class CSerialPort {
 public:
  // `name` is "COM1".."COM4" or a device path (see MapPortName). With `handshake`
  // false, as the updater uses it, there is no flow control in either direction.
  CSerialPort(const char* name, std::uint32_t baudRate, bool handshake);
  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;
  // Virtual so that in-memory ports used by tests and the simulator are deleted whole.
  virtual ~CSerialPort();

  // The line's baud rate; 0 for a port without one (an in-memory line).
  virtual std::uint32_t GetInfo();
  virtual bool Close();
  virtual bool IsOpen();
  // Fills `buffer` with exactly `length` bytes; timeoutMs 0 means no limit. A Read that
  // fails leaves nothing behind for later: no byte lands in `buffer` after it threw.
  virtual void Read(void* buffer, std::uint32_t length, std::uint32_t timeoutMs);
  virtual void Write(const void* buffer, std::uint32_t length, std::uint32_t timeoutMs);
  // How many bytes a Read could surely take now without waiting (0 when not known);
  // for the reading thread only.
  virtual std::uint32_t BytesWaiting();
  // Ends the Read that waits now, or else the next Read that has to wait, early with
  // 1105, so that the reading thread can look at its stop flag at once instead of after
  // its time-out. Nothing on the line is lost: the bytes stay for the next Read.
  virtual void WakeReader();
  // What the system shows of the adapter's latency setting; read only, nothing is
  // changed. Ports that are no device of the system's show nothing (System::kNone).
  virtual AdapterLatency LatencySetting();

  // True only when the port was opened and the line settings were applied.
  bool m_opened = false;

  // Why the open failed (errno on POSIX, the system error code on Windows) and the text
  // for the technician; 0 / "" when it opened.
  int OpenError() const { return m_openError; }
  std::string OpenErrorText() const;

 protected:
  CSerialPort();  // for ports that are not operating-system devices

 private:
  // The operating system's side of the port, in posix_serial_port.cpp or
  // win32_serial_port.cpp: the handle of the open port (m_handle), what ends a waiting
  // transfer, bytes read ahead of the caller. Null for ports that are not devices.
  struct SystemPort;
  std::unique_ptr<SystemPort> m_system;
  // Makes ports whose system side is put together otherwise (on Windows, the tests' fake
  // of the system's calls: port/win32_comm_calls.h).
  friend struct SystemPortMaker;
  int m_openError = 0;
  std::uint32_t m_baudRate = 0;
  std::string m_device;  // the device opened: a path on POSIX, "COMn" on Windows
};

// "COM1".."COM4" → the system's first four serial ports (/dev/ttyS0..3 on Linux; on
// Windows every "COMn" becomes "\\.\COMn", which also opens COM10 and above); any
// other name is used as given.
std::string MapPortName(const std::string& name);

// The operating system's reason for a failed open, worded for the technician
// (EACCES: "permission denied: is the user in the dialout group?").
std::string DescribeOpenError(int error);

}  // namespace cvm6
