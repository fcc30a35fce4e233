#pragma once
// The ports a cvm6-flash run updates, from --port and --each-port: ports named as they
// are, adapters named by their usb: name, and units found by listening (auto). Nothing
// is opened for writing here: an ambiguous or missing match ends the run before any
// unit starts, and the search only listens.
#include <cstdio>
#include <string>
#include <vector>

#include "port_search.h"

namespace cvm6 {

class CFlashLog;

struct UnitPortRequest {
  std::vector<std::string> ports;      // --port, in order: a name, usb:VID:PID[:SERIAL] or auto
  std::vector<std::string> eachPorts;  // --each-port: usb:VID:PID[:SERIAL] or auto
  PortSearchLimits limits;
};

// Fills `chosen`, in the order asked for, and returns kDone; or says why on standard
// error (and in the log) and returns the exit status: 1 for a usb: name that matches no
// adapter or several, or an auto search that heard several units for one --port; 3 for
// a search that heard none. Progress of the search goes to `out`.
int ChooseUnitPorts(const UnitPortRequest& request, std::FILE* out, CFlashLog* log, std::vector<std::string>& chosen);

}  // namespace cvm6
