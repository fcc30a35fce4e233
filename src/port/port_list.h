#pragma once
// The serial ports this system has, for cvm6-flash --list-ports and the window's list,
// with what the system knows of the adapter behind each: a technician finds the unit's
// port by the adapter's USB identity instead of by a number that changes between days.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cvm6 {

struct SerialPortInfo {
  std::string path;         // what CSerialPort opens: /dev/ttyUSB0, COM3
  std::string description;  // the device's own text where the system knows it (Windows: its
                            // friendly name, else the driver's device)
  // The USB device the port belongs to; none for a built-in port (or a Bluetooth one).
  std::optional<std::uint16_t> vendorId{}, productId{};
  std::string serialNumber{};  // the USB device's serial number, "" when it has none
  std::string manufacturer{};
  // Other names of the same port that stay when its number changes
  // (/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0).
  std::vector<std::string> aliases{};

  bool IsUsb() const { return vendorId.has_value() && productId.has_value(); }
};

// POSIX: every tty in sysfs backed by a real device driver. Windows: the ports that the
// serial drivers have registered (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM). Sorted by path.
std::vector<SerialPortInfo> ListSerialPorts();

// POSIX only: the same from a sysfs tree under `sysRoot` (class/tty/...) with the device
// nodes and their /dev/serial/by-id links under `devRoot`; ListSerialPorts() reads
// /sys and /dev, or the folders named by CVM6_SYSFS_ROOT and CVM6_DEV_ROOT, which the
// tests set to a tree of their own.
std::vector<SerialPortInfo> ListSerialPorts(const std::string& sysRoot, const std::string& devRoot);

// Vendor id, product id and serial number from a Windows device instance id:
// "USB\VID_0403&PID_6001\A50285BI", "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000". A
// serial number that Windows made up (one with '&' in it) is no serial number.
struct UsbInstanceIdentity {
  std::uint16_t vendorId = 0, productId = 0;
  std::string serialNumber;
};
std::optional<UsbInstanceIdentity> ParseUsbInstanceId(const std::string& instanceId);

}  // namespace cvm6
