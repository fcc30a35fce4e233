#pragma once
// Ports named by their adapter: "usb:VID:PID" or "usb:VID:PID:SERIAL", the ids in
// hexadecimal as --list-ports prints them. The name stays the same when the system gives
// the adapter another number (COM9 today, COM4 yesterday; ttyUSB1 after a replug).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "port/port_list.h"

namespace cvm6 {

struct UsbPortName {
  std::uint16_t vendorId = 0, productId = 0;
  std::string serialNumber;  // "" matches any
};

// Whether `text` is meant as a usb: name (it starts with "usb:", in any case).
bool IsUsbPortName(const std::string& text);
// Null with `error` set for a usb: name that is not one.
std::optional<UsbPortName> ParseUsbPortName(const std::string& text, std::string& error);
// The ports in `ports` that are that adapter, in their order. Serial numbers match
// without regard to case (Windows gives some in capitals).
std::vector<SerialPortInfo> MatchUsbPorts(const UsbPortName& name, const std::vector<SerialPortInfo>& ports);

// "usb:0403:6001:A50285BI" (without the serial when there is none); "" for a port
// that is not on USB.
std::string UsbNameOf(const SerialPortInfo& port);
// One line of --list-ports: the path, the usb: name, the description and, where the
// description does not already say it, the manufacturer.
std::string PortListLine(const SerialPortInfo& port);
// --list-ports --json: {"ports": [{"path", "description", "vendor_id", "product_id",
// "serial_number", "manufacturer", "usb_name", "aliases"}, ...]}, null where unknown.
std::string PortListJson(const std::vector<SerialPortInfo>& ports);

// COM1..COM4 and /dev/ttyS*: the built-in ports, whose other users (a modem, a console,
// a UPS) an automatic search must leave alone.
bool IsBuiltInPort(const std::string& name);

}  // namespace cvm6
