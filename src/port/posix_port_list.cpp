#include "port/port_list.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace cvm6 {
namespace {

std::string ReadLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts() {
  namespace fs = std::filesystem;
  std::vector<SerialPortInfo> ports;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/sys/class/tty", error)) {
    const fs::path device = entry.path() / "device";
    if (!fs::exists(device, error)) continue;  // virtual terminals have no device
    const std::string name = entry.path().filename().string();
    SerialPortInfo info{"/dev/" + name, ""};
    // A USB adapter's product text sits a few levels up, at the USB device.
    fs::path up = fs::canonical(device, error);
    for (int level = 0; level < 4 && !error && !up.empty(); ++level, up = up.parent_path()) {
      const std::string product = ReadLine(up / "product");
      if (!product.empty()) {
        const std::string maker = ReadLine(up / "manufacturer");
        info.description = maker.empty() ? product : maker + " " + product;
        break;
      }
    }
    // The legacy 8250 driver lists ports that have no hardware behind them.
    const std::string driver = fs::canonical(device / "driver", error).filename().string();
    if (driver == "serial8250" && ReadLine(entry.path() / "type") == "0") continue;
    ports.push_back(info);
  }
  std::sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  return ports;
}

}  // namespace cvm6
