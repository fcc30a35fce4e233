#pragma once
// What the system shows of a serial adapter's latency setting: how long the adapter (or
// its driver) may hold bytes it received before handing them to the program. Read only;
// nothing here changes a setting.
#include <cstdint>
#include <optional>
#include <string>

namespace cvm6 {

struct AdapterLatency {
  enum class System : std::uint8_t { kNone, kLinux, kWindows };
  System system = System::kNone;  // kNone: a port that is no device of the system's
  std::string device;             // what was opened: /dev/ttyUSB0, COM5
  // Linux: the driver's low-latency flag (TIOCGSERIAL); none when the driver has no such
  // setting (pseudo-terminals, many USB drivers).
  std::optional<bool> lowLatency;
  // The adapter's latency timer in ms, where the system shows one: Linux's ftdi_sio in
  // sysfs, Windows's FTDI driver in the registry; with where it was read.
  std::optional<std::uint32_t> latencyTimerMs;
  std::string timerSource;  // the sysfs file, or the registry key
};

}  // namespace cvm6
