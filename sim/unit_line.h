#pragma once
// Where the simulated unit is plugged in. On POSIX a pseudo-terminal: its slave is a
// serial port that any program, in this process or another, opens by its path. Windows
// has no pseudo-terminals: there the unit sits on a line in memory whose other end only
// this process can open (cvm6-flash --simulate, the tests).
#include <chrono>
#include <memory>
#include <string>

#include "port/serial_port.h"

namespace cvm6 {

class CUnitLine {
 public:
  // Null with `error` set when the line cannot be made.
  static std::unique_ptr<CUnitLine> Open(std::string& error);
  virtual ~CUnitLine() = default;

  // The unit's end. Closing it unplugs the line: an updater's port then fails.
  virtual CSerialPort& UnitEnd() = 0;
  // The name of the updater's end: a device path, or a description of the line in memory.
  virtual const std::string& HostName() const = 0;
  // The updater's end, opened as the updater opens its port (57600 baud, no handshake).
  virtual std::unique_ptr<CSerialPort> OpenHostEnd() = 0;
  // How long since bytes last came in from the updater, whether or not the unit's end
  // has handed them on yet.
  virtual std::chrono::steady_clock::duration QuietFor() const = 0;
};

}  // namespace cvm6
