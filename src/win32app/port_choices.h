#pragma once
// The ports the window lists after those of its template ("COM1".."COM4"): every other
// port the serial drivers registered, each once, shown with its adapter's description.
// Windows' port names are not case sensitive, so "com5" and "COM5" are one port. The
// list is read again whenever it drops down and whenever an adapter comes or goes.
#include <string>
#include <vector>

#include "port/port_list.h"

namespace cvm6 {

struct PortChoice {
  std::string name;  // what Connect opens
  std::string text;  // what the list shows: the name, the description, the adapter's serial number
};

// The ports in `found` that are neither in `listed` nor earlier in `found`, in the order
// of `found`.
std::vector<PortChoice> PortsToAdd(const std::vector<std::string>& listed, const std::vector<SerialPortInfo>& found);

// Whether two names are one port.
bool SamePort(const std::string& a, const std::string& b);

}  // namespace cvm6
