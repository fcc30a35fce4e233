#pragma once
#include <string>
#include <vector>

namespace cvm6 {

struct SerialPortInfo {
  std::string path;         // /dev/ttyUSB0
  std::string description;  // USB product text where the system knows it
};

// The serial ports the system has: every tty in sysfs backed by a real device driver.
std::vector<SerialPortInfo> ListSerialPorts();

}  // namespace cvm6
