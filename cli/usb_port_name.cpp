#include "usb_port_name.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "port/serial_port.h"
#include "image/list_file.h"

namespace cvm6 {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::optional<std::uint16_t> HexId(const std::string& text) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return std::nullopt;
  return static_cast<std::uint16_t>(std::strtoul(text.c_str(), nullptr, 16));
}

std::string Hex4(std::uint16_t id) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", id);
  return text;
}

}  // namespace

bool IsUsbPortName(const std::string& text) { return Upper(text.substr(0, 4)) == "USB:"; }

std::optional<UsbPortName> ParseUsbPortName(const std::string& text, std::string& error) {
  std::vector<std::string> parts;
  std::size_t from = 4;
  for (std::size_t colon; parts.size() < 2 && (colon = text.find(':', from)) != std::string::npos; from = colon + 1)
    parts.push_back(text.substr(from, colon - from));
  parts.push_back(text.substr(from));
  const auto vendor = parts.size() >= 2 ? HexId(parts[0]) : std::nullopt;
  const auto product = parts.size() >= 2 ? HexId(parts[1]) : std::nullopt;
  if (!vendor || !product || (parts.size() == 3 && parts[2].empty())) {
    error = "'" + PrintableText(text) +
            "' is not an adapter's name: give usb:VID:PID or usb:VID:PID:SERIAL, the ids in hexadecimal as "
            "--list-ports prints them";
    return std::nullopt;
  }
  return UsbPortName{*vendor, *product, parts.size() == 3 ? parts[2] : ""};
}

std::vector<SerialPortInfo> MatchUsbPorts(const UsbPortName& name, const std::vector<SerialPortInfo>& ports) {
  std::vector<SerialPortInfo> matching;
  for (const SerialPortInfo& port : ports)
    if (port.IsUsb() && *port.vendorId == name.vendorId && *port.productId == name.productId &&
        (name.serialNumber.empty() || Upper(port.serialNumber) == Upper(name.serialNumber)))
      matching.push_back(port);
  return matching;
}

std::string UsbNameOf(const SerialPortInfo& port) {
  if (!port.IsUsb()) return "";
  std::string name = "usb:" + Hex4(*port.vendorId) + ":" + Hex4(*port.productId);
  if (!port.serialNumber.empty()) name += ":" + port.serialNumber;
  return name;
}

std::string PortListLine(const SerialPortInfo& port) {
  std::string line = port.path;
  for (const std::string& field : {UsbNameOf(port), port.description})
    if (!field.empty()) line += "  " + field;
  if (!port.manufacturer.empty() && port.description.find(port.manufacturer) == std::string::npos)
    line += "  (" + port.manufacturer + ")";
  return PrintableText(line);
}

std::string PortListJson(const std::vector<SerialPortInfo>& ports) {
  const auto text = [](const std::string& value) { return value.empty() ? nlohmann::json() : nlohmann::json(value); };
  nlohmann::json list = nlohmann::json::array();
  for (const SerialPortInfo& port : ports) {
    list.push_back({{"path", port.path},
                    {"description", text(port.description)},
                    {"vendor_id", port.vendorId ? nlohmann::json(Hex4(*port.vendorId)) : nlohmann::json()},
                    {"product_id", port.productId ? nlohmann::json(Hex4(*port.productId)) : nlohmann::json()},
                    {"serial_number", text(port.serialNumber)},
                    {"manufacturer", text(port.manufacturer)},
                    {"usb_name", text(UsbNameOf(port))},
                    {"aliases", port.aliases}});
  }
  return nlohmann::json{{"ports", list}}.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool IsBuiltInPort(const std::string& name) {
  const std::string upper = Upper(name);
  if (upper.size() == 4 && upper.compare(0, 3, "COM") == 0 && upper[3] >= '1' && upper[3] <= '4') return true;
  return MapPortName(name).rfind("/dev/ttyS", 0) == 0;
}

}  // namespace cvm6
