#include <cerrno>
#include <cstring>
#include <string>

#include "port/serial_port.h"

namespace cvm6 {

std::string MapPortName(const std::string& name) {
  if (name.size() == 4 && name.compare(0, 3, "COM") == 0 && name[3] >= '1' && name[3] <= '4')
    return "/dev/ttyS" + std::string(1, static_cast<char>(name[3] - 1));
  return name;
}

std::string DescribeOpenError(int error) {
  switch (error) {
    case 0: return "";
    case EACCES:
    case EPERM: return "permission denied: is the user in the dialout group?";
    case EBUSY:
    case EWOULDBLOCK: return "port in use: another program holds it";
    case ENOENT:
    case ENODEV:
    case ENXIO: return "no such port";
    case ENOTTY: return "not a serial port";
    default: return std::strerror(error);
  }
}

}  // namespace cvm6
