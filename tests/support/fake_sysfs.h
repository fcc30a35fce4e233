#pragma once
// A sysfs and /dev tree of a test's own, shaped as Linux lays them out for serial ports,
// for ListSerialPorts(sysRoot, devRoot) and for cvm6-flash through CVM6_SYSFS_ROOT and
// CVM6_DEV_ROOT. A port's device node may be a link to a pseudo-terminal, so that the
// program opens a port that is really there under an adapter's name.
#include <filesystem>
#include <string>

namespace cvm6::test {

struct FakeUsbDevice {
  std::string vendorId, productId;  // as sysfs writes them: "0403"
  std::string serial, manufacturer, product;  // "" leaves the file out
};

class FakeSysfs {
 public:
  explicit FakeSysfs(const std::filesystem::path& root);

  // A USB serial adapter: class/tty/NAME whose device is an interface of the USB device;
  // dev/NAME links to `node` when given, and dev/serial/by-id/BYID to dev/NAME.
  void AddUsbTty(const std::string& name, const FakeUsbDevice& usb, const std::string& node = "",
                 const std::string& byId = "");
  // A port of the legacy 8250 driver; type "0" means no hardware behind it.
  void AddBuiltInTty(const std::string& name, const std::string& type);
  // A virtual terminal: no device.
  void AddVirtualTty(const std::string& name);

  std::string SysRoot() const { return (m_root / "sys").string(); }
  std::string DevRoot() const { return (m_root / "dev").string(); }

 private:
  std::filesystem::path m_root;
  int m_usbDevices = 0;
};

}  // namespace cvm6::test
