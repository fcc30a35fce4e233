// The serial ports as Windows lists them: every serial driver (the motherboard's UART,
// USB adapters, Bluetooth ports) registers its ports under SERIALCOMM, the value's name
// being the driver's device and its data the port's name. What the technician knows the
// adapter by ("USB Serial Port", "Prolific USB-to-Serial Comm Port") is the friendly
// name of its device in the Ports class, found through the device's PortName; its
// instance id carries the adapter's USB vendor and product id and its serial number.
#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>

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

std::string Utf8(const wchar_t* text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return {};
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr, nullptr);
  narrow.resize(static_cast<std::size_t>(length - 1));
  return narrow;
}

std::string Folded(std::string name) {
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

// What the Ports class knows of a port's device.
struct PortDevice {
  std::string friendly;  // without its " (COMn)"
  std::string manufacturer;
  std::optional<UsbInstanceIdentity> usb;
};

std::string DeviceText(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
  wchar_t text[256] = {};
  if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, property, nullptr, reinterpret_cast<BYTE*>(text),
                                         sizeof text - sizeof(wchar_t), nullptr))
    return {};
  return Utf8(text);
}

// Port name (folded) -> its device, for the present devices.
std::map<std::string, PortDevice> PortDevices() {
  std::map<std::string, PortDevice> names;
  const HDEVINFO devices = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return names;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
    const HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE) continue;
    wchar_t port[64] = {};
    DWORD size = sizeof port - sizeof(wchar_t), type = 0;
    const bool named = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(port), &size) ==
                           ERROR_SUCCESS && type == REG_SZ;
    RegCloseKey(key);
    if (!named) continue;
    const std::string name = Utf8(port);
    PortDevice found;
    found.friendly = DeviceText(devices, device, SPDRP_FRIENDLYNAME);
    found.manufacturer = DeviceText(devices, device, SPDRP_MFG);
    const std::string suffix = " (" + name + ")";
    std::string& text = found.friendly;
    if (text.size() > suffix.size() && Folded(text.substr(text.size() - suffix.size())) == Folded(suffix))
      text.resize(text.size() - suffix.size());
    wchar_t instance[512] = {};
    if (SetupDiGetDeviceInstanceIdW(devices, &device, instance, sizeof instance / sizeof instance[0] - 1, nullptr))
      found.usb = ParseUsbInstanceId(Utf8(instance));
    if (!name.empty()) names[Folded(name)] = found;
  }
  SetupDiDestroyDeviceInfoList(devices);
  return names;
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
    if (path.empty()) continue;
    SerialPortInfo info;
    info.path = path;
    info.description.assign(device, deviceSize);
    ports.push_back(info);
  }
  RegCloseKey(key);
  // The driver's device name is the description only where no friendlier one is known.
  const auto devices = PortDevices();
  for (SerialPortInfo& port : ports) {
    const auto found = devices.find(Folded(port.path));
    if (found == devices.end()) continue;
    if (!found->second.friendly.empty()) port.description = found->second.friendly;
    port.manufacturer = found->second.manufacturer;
    if (const auto& usb = found->second.usb) {
      port.vendorId = usb->vendorId;
      port.productId = usb->productId;
      port.serialNumber = usb->serialNumber;
    }
  }
  std::sort(ports.begin(), ports.end(), Before);
  return ports;
}

}  // namespace cvm6
