// The serial ports as Windows lists them: every serial driver (the motherboard's UART,
// USB adapters, Bluetooth ports) registers its ports under SERIALCOMM, the value's name
// being the driver's device and its data the port's name.
#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "port/port_list.h"

namespace cvm6 {
namespace {

// COM ports in their numbers' order (COM2 before COM10), then any other name.
bool Before(const SerialPortInfo& a, const SerialPortInfo& b) {
  const auto number = [](const std::string& name) {
    const bool com = name.size() > 3 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "com") == 0);
    return com ? std::strtol(name.c_str() + 3, nullptr, 10) : 0L;
  };
  const long na = number(a.path), nb = number(b.path);
  if ((na > 0) != (nb > 0)) return na > 0;
  if (na != nb) return na < nb;
  return a.path < b.path;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts() {
  std::vector<SerialPortInfo> ports;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return ports;  // no serial driver has registered a port
  for (DWORD index = 0;; ++index) {
    char device[256];
    DWORD deviceSize = sizeof device;
    BYTE name[256];
    DWORD nameSize = sizeof name - 1;
    DWORD type = 0;
    const LONG result = RegEnumValueA(key, index, device, &deviceSize, nullptr, &type, name, &nameSize);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ || nameSize == 0) continue;  // too long, or not a name
    name[nameSize] = 0;
    std::string path(reinterpret_cast<const char*>(name));
    while (!path.empty() && path.back() == '\0') path.pop_back();
    if (!path.empty()) ports.push_back({path, std::string(device, deviceSize)});
  }
  RegCloseKey(key);
  std::sort(ports.begin(), ports.end(), Before);
  return ports;
}

}  // namespace cvm6
