#include "port/posix_adapter_latency.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <filesystem>
#include <fstream>

namespace cvm6 {

AdapterLatency ReadPosixAdapterLatency(int fd, const std::string& device, const std::string& sysfsRoot) {
  AdapterLatency latency;
  latency.system = AdapterLatency::System::kLinux;
  latency.device = device;
  // Pseudo-terminals and many USB drivers have no serial_struct: then there is no flag.
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) == 0) latency.lowLatency = (serial.flags & ASYNC_LOW_LATENCY) != 0;
  // /dev/serial/by-id/... names a link to the tty whose name sysfs knows.
  std::error_code error;
  const std::filesystem::path real = std::filesystem::canonical(device, error);
  const std::string tty = (error ? std::filesystem::path(device) : real).filename().string();
  if (tty.empty()) return latency;
  const std::string file = sysfsRoot + "/bus/usb-serial/devices/" + tty + "/latency_timer";
  std::ifstream in(file);
  unsigned long ms = 0;
  if (in >> ms && ms <= 255) {
    latency.latencyTimerMs = static_cast<std::uint32_t>(ms);
    latency.timerSource = file;
  }
  return latency;
}

}  // namespace cvm6
