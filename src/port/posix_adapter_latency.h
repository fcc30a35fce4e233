#pragma once
// Linux's side of AdapterLatency, apart so that tests can hand it a sysfs tree of their own.
#include <string>

#include "port/adapter_latency.h"

namespace cvm6 {

// The low-latency flag of the tty open on `fd` (TIOCGSERIAL, read only) and, for a
// usb-serial adapter whose driver has one (ftdi_sio), its latency timer from
// `sysfsRoot`/bus/usb-serial/devices/<tty>/latency_timer. `device` is the path opened.
AdapterLatency ReadPosixAdapterLatency(int fd, const std::string& device, const std::string& sysfsRoot = "/sys");

}  // namespace cvm6
