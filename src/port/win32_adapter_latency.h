#pragma once
// Windows's side of AdapterLatency, apart so that tests can reach it with a name alone.
#include <string>

#include "port/adapter_latency.h"

namespace cvm6 {

// For the FTDI adapter (vendor 0403, driver FTDIBUS) whose PortName is `portName`
// ("COM5", "\\.\COM5"): its LatencyTimer, from
// HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS\<device>\<instance>\Device Parameters.
// Read only: the registry is never written. Other adapters show no timer.
AdapterLatency ReadWin32AdapterLatency(const std::string& portName);

}  // namespace cvm6
