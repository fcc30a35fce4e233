// The ports as sysfs shows them: /sys/class/tty/NAME/device is the driver's device, and
// for a USB adapter the USB device (idVendor, idProduct, serial, manufacturer, product)
// sits a few levels above it: the interface, then the device. udev's /dev/serial/by-id
// links name the same port by its adapter.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "port/port_list.h"

namespace cvm6 {
namespace {

namespace fs = std::filesystem;

std::string ReadLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

std::optional<std::uint16_t> ReadHexId(const fs::path& file) {
  const std::string text = ReadLine(file);
  if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return std::nullopt;
  return static_cast<std::uint16_t>(std::strtoul(text.c_str(), nullptr, 16));
}

// Tty name -> the by-id links that point at it.
std::map<std::string, std::vector<std::string>> ByIdLinks(const fs::path& devRoot) {
  std::map<std::string, std::vector<std::string>> links;
  std::error_code error;
  const fs::path folder = devRoot / "serial" / "by-id";
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    std::error_code linkError;
    const fs::path target = fs::read_symlink(entry.path(), linkError);
    if (!linkError)
      links[target.filename().string()].push_back("/dev/serial/by-id/" + entry.path().filename().string());
  }
  for (auto& [name, names] : links) std::sort(names.begin(), names.end());
  return links;
}

// What the USB device above the tty's device says of itself.
void ReadUsbDevice(const fs::path& device, SerialPortInfo& info) {
  std::error_code error;
  fs::path up = fs::canonical(device, error);
  for (int level = 0; level < 5 && !error && !up.empty() && up != up.root_path(); ++level, up = up.parent_path()) {
    const auto vendor = ReadHexId(up / "idVendor");
    const std::string product = ReadLine(up / "product");
    if (!vendor && product.empty()) continue;
    info.manufacturer = ReadLine(up / "manufacturer");
    info.description = info.manufacturer.empty() ? product : info.manufacturer + " " + product;
    if (vendor) {
      info.vendorId = vendor;
      info.productId = ReadHexId(up / "idProduct");
      info.serialNumber = ReadLine(up / "serial");
    }
    return;
  }
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(const std::string& sysRoot, const std::string& devRoot) {
  std::vector<SerialPortInfo> ports;
  std::error_code error;
  const auto byId = ByIdLinks(devRoot);
  for (const auto& entry : fs::directory_iterator(fs::path(sysRoot) / "class" / "tty", error)) {
    const fs::path device = entry.path() / "device";
    if (!fs::exists(device, error)) continue;  // virtual terminals have no device
    const std::string name = entry.path().filename().string();
    // The legacy 8250 driver lists ports that have no hardware behind them.
    const std::string driver = fs::canonical(device / "driver", error).filename().string();
    if (driver == "serial8250" && ReadLine(entry.path() / "type") == "0") continue;
    SerialPortInfo info;
    info.path = (fs::path(devRoot) / name).string();
    ReadUsbDevice(device, info);
    if (const auto links = byId.find(name); links != byId.end()) info.aliases = links->second;
    ports.push_back(info);
  }
  std::sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  return ports;
}

std::vector<SerialPortInfo> ListSerialPorts() {
  const char* sys = std::getenv("CVM6_SYSFS_ROOT");
  const char* dev = std::getenv("CVM6_DEV_ROOT");
  return ListSerialPorts(sys && *sys ? sys : "/sys", dev && *dev ? dev : "/dev");
}

}  // namespace cvm6
