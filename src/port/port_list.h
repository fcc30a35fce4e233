#pragma once
// The serial ports this system has, for cvm6-flash --list-ports and the window's list.
#include <string>
#include <vector>

namespace cvm6 {

struct SerialPortInfo {
  std::string path;         // what CSerialPort opens: /dev/ttyUSB0, COM3
  std::string description;  // the device's own text where the system knows it (Windows: its
                            // friendly name, else the driver's device)
};

// POSIX: every tty in sysfs backed by a real device driver. Windows: the ports that the
// serial drivers have registered (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM). Sorted by path.
std::vector<SerialPortInfo> ListSerialPorts();

}  // namespace cvm6
