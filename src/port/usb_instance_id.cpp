// A Windows device instance id names the bus, the device and the instance. USB devices
// read "USB\VID_vvvv&PID_pppp\serial"; a composite device's interface
// "USB\VID_vvvv&PID_pppp&MI_00\6&2c8a3c1b&0&0000" (no serial: Windows numbered it);
// FTDI's own bus driver "FTDIBUS\VID_vvvv+PID_pppp+serialA\0000", where the letter after
// the serial is the chip's port (A, B, ...).
#include <cctype>
#include <cstdlib>

#include "port/port_list.h"

namespace cvm6 {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The four hexadecimal digits after `key` ("VID_") in `id`.
std::optional<std::uint16_t> HexAfter(const std::string& id, const char* key) {
  const std::size_t at = Upper(id).find(key);
  if (at == std::string::npos) return std::nullopt;
  const std::string digits = id.substr(at + 4, 4);
  if (digits.size() != 4) return std::nullopt;
  for (const char c : digits)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
  return static_cast<std::uint16_t>(std::strtoul(digits.c_str(), nullptr, 16));
}

}  // namespace

std::optional<UsbInstanceIdentity> ParseUsbInstanceId(const std::string& instanceId) {
  const std::size_t first = instanceId.find('\\');
  if (first == std::string::npos) return std::nullopt;
  const std::string bus = Upper(instanceId.substr(0, first));
  const std::size_t second = instanceId.find('\\', first + 1);
  const std::string device =
      instanceId.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
  const auto vendor = HexAfter(device, "VID_");
  const auto product = HexAfter(device, "PID_");
  if (!vendor || !product) return std::nullopt;
  UsbInstanceIdentity identity{*vendor, *product, ""};
  if (bus == "FTDIBUS") {
    // VID_vvvv+PID_pppp+serial and the port letter
    const std::size_t plus = device.find('+', device.find('+') + 1);
    if (plus != std::string::npos && device.size() - plus > 2)
      identity.serialNumber = device.substr(plus + 1, device.size() - plus - 2);
  } else if (second != std::string::npos) {
    const std::string instance = instanceId.substr(second + 1);
    if (instance.find('&') == std::string::npos) identity.serialNumber = instance;
  }
  return identity;
}

}  // namespace cvm6
