#include "port/win32_adapter_latency.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

namespace cvm6 {
namespace {

constexpr const char* kFtdiDevices = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::vector<std::string> SubKeys(HKEY key) {
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD size = sizeof name;
    const LONG result = RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result == ERROR_SUCCESS) names.emplace_back(name, size);
    else if (result != ERROR_MORE_DATA) break;
  }
  return names;
}

// The instance's "Device Parameters": its LatencyTimer when its PortName is `port`.
std::optional<std::uint32_t> TimerOf(HKEY parameters, const std::string& port) {
  char name[64] = {};
  DWORD type = 0, size = sizeof name - 1;
  if (RegQueryValueExA(parameters, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) != ERROR_SUCCESS ||
      type != REG_SZ || Upper(name) != port)
    return std::nullopt;
  DWORD timer = 0;
  size = sizeof timer;
  if (RegQueryValueExA(parameters, "LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&timer), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD)
    return std::nullopt;
  return static_cast<std::uint32_t>(timer);
}

}  // namespace

AdapterLatency ReadWin32AdapterLatency(const std::string& portName) {
  AdapterLatency latency;
  latency.system = AdapterLatency::System::kWindows;
  std::string port = Upper(portName);
  if (port.rfind("\\\\.\\", 0) == 0) port.erase(0, 4);
  latency.device = port;
  HKEY devices = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kFtdiDevices, 0, KEY_READ, &devices) != ERROR_SUCCESS) return latency;
  for (const std::string& device : SubKeys(devices)) {
    HKEY instances = nullptr;
    if (RegOpenKeyExA(devices, device.c_str(), 0, KEY_READ, &instances) != ERROR_SUCCESS) continue;
    for (const std::string& instance : SubKeys(instances)) {
      const std::string path = instance + "\\Device Parameters";
      HKEY parameters = nullptr;
      if (RegOpenKeyExA(instances, path.c_str(), 0, KEY_QUERY_VALUE, &parameters) != ERROR_SUCCESS) continue;
      const auto timer = TimerOf(parameters, port);
      RegCloseKey(parameters);
      if (timer && !latency.latencyTimerMs) {
        latency.latencyTimerMs = timer;
        latency.timerSource = std::string("HKLM\\") + kFtdiDevices + "\\" + device + "\\" + path + "\\LatencyTimer";
      }
    }
    RegCloseKey(instances);
  }
  RegCloseKey(devices);
  return latency;
}

}  // namespace cvm6
