#include "support/fake_sysfs.h"

#include <fstream>

namespace cvm6::test {
namespace {

namespace fs = std::filesystem;

void WriteLine(const fs::path& file, const std::string& text) {
  if (text.empty()) return;
  std::ofstream(file) << text << "\n";
}

}  // namespace

FakeSysfs::FakeSysfs(const fs::path& root) : m_root(root) {
  fs::create_directories(m_root / "sys" / "class" / "tty");
  fs::create_directories(m_root / "sys" / "bus" / "usb-serial" / "drivers" / "ftdi_sio");
  fs::create_directories(m_root / "sys" / "bus" / "platform" / "drivers" / "serial8250");
  fs::create_directories(m_root / "dev" / "serial" / "by-id");
}

void FakeSysfs::AddUsbTty(const std::string& name, const FakeUsbDevice& usb, const std::string& node,
                          const std::string& byId) {
  const std::string port = "1-" + std::to_string(++m_usbDevices);
  const fs::path device = m_root / "sys" / "devices" / "pci0000:00" / "usb1" / port;
  const fs::path ttyDevice = device / (port + ":1.0") / name;
  fs::create_directories(ttyDevice);
  WriteLine(device / "idVendor", usb.vendorId);
  WriteLine(device / "idProduct", usb.productId);
  WriteLine(device / "serial", usb.serial);
  WriteLine(device / "manufacturer", usb.manufacturer);
  WriteLine(device / "product", usb.product);
  fs::create_directory_symlink(m_root / "sys" / "bus" / "usb-serial" / "drivers" / "ftdi_sio", ttyDevice / "driver");
  const fs::path tty = m_root / "sys" / "class" / "tty" / name;
  fs::create_directories(tty);
  fs::create_directory_symlink(ttyDevice, tty / "device");
  if (!node.empty()) fs::create_symlink(node, m_root / "dev" / name);
  if (!byId.empty()) fs::create_symlink("../../" + name, m_root / "dev" / "serial" / "by-id" / byId);
}

void FakeSysfs::AddBuiltInTty(const std::string& name, const std::string& type) {
  const fs::path device = m_root / "sys" / "devices" / "platform" / "serial8250" / name;
  fs::create_directories(device);
  fs::create_directory_symlink(m_root / "sys" / "bus" / "platform" / "drivers" / "serial8250", device / "driver");
  const fs::path tty = m_root / "sys" / "class" / "tty" / name;
  fs::create_directories(tty);
  fs::create_directory_symlink(device, tty / "device");
  WriteLine(tty / "type", type);
}

void FakeSysfs::AddVirtualTty(const std::string& name) {
  fs::create_directories(m_root / "sys" / "class" / "tty" / name);
}

}  // namespace cvm6::test
