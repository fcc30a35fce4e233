#include <windows.h>

#include <string>

#include "port/serial_port.h"

namespace cvm6 {
namespace {

bool IsComName(const std::string& name) {
  if (name.size() < 4 || name.size() > 6) return false;
  for (int i = 0; i < 3; ++i)
    if ((name[i] & ~0x20) != "COM"[i]) return false;
  for (std::size_t i = 3; i < name.size(); ++i)
    if (name[i] < '0' || name[i] > '9') return false;
  return name[3] != '0';
}

}  // namespace

std::string MapPortName(const std::string& name) {
  // The device namespace: "COM10" and above exist only there, and a file of that name in
  // the current directory cannot stand in for the port.
  if (IsComName(name)) return "\\\\.\\" + name;
  return name;
}

std::string DescribeOpenError(int error) {
  switch (error) {
    case 0: return "";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME: return "no such port";
    // Windows answers a port that another program holds with "access denied".
    case ERROR_ACCESS_DENIED: return "access denied: the port is in use by another program, or this account may not use it";
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY: return "port in use: another program holds it";
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_NOT_READY: return "the port's device is not connected";
    default: break;
  }
  char text[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                      static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
    message.pop_back();
  if (message.empty()) message = "system error";
  return message + " (error " + std::to_string(error) + ")";
}

}  // namespace cvm6
