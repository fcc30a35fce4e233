#pragma once
// The ports the window lists after those of its template ("COM1".."COM4"): every other
// port the serial drivers registered, each once. Windows' port names are not case
// sensitive, so "com5" and "COM5" are one port.
#include <string>
#include <vector>

#include "port/port_list.h"

namespace cvm6 {

// The names in `found` that are neither in `listed` nor earlier in `found`, in the order
// of `found`.
std::vector<std::string> PortsToAdd(const std::vector<std::string>& listed, const std::vector<SerialPortInfo>& found);

}  // namespace cvm6
