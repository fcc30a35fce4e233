#pragma once
// A sysfs and /dev tree of a test's own, laid out as Linux's for serial ports, for the
// port list through CVM6_SYSFS_ROOT and CVM6_DEV_ROOT. A device node may link to a
// pseudo-terminal, so that an adapter's name opens a port that is really there.
#include <filesystem>
#include <fstream>
#include <string>

namespace cvm6::test {

class FakeSysfs {
 public:
  explicit FakeSysfs(const std::filesystem::path& root) : m_sys(root / "sys"), m_dev(root / "dev") {
    std::filesystem::create_directories(m_dev / "serial" / "by-id");
  }
  // The tty's device is an interface of the USB device, whose files say what it is.
  void AddUsbTty(const std::string& name, const std::string& ids, const std::string& serial,
                 const std::string& product, const std::string& node = "") {
    const auto usb = m_sys / "devices" / "usb1" / name;
    Add(name, usb / "1-1:1.0" / name, "ftdi_sio");
    for (const auto& [file, text] : {std::pair{"idVendor", ids.substr(0, 4)}, {"idProduct", ids.substr(5)},
                                     {"serial", serial}, {"product", product}})
      if (!text.empty()) std::ofstream(usb / file) << text << "\n";
    if (!node.empty()) std::filesystem::create_symlink(node, m_dev / name);
  }
  // A port of the legacy 8250 driver; type "0" means no hardware behind it.
  void AddBuiltInTty(const std::string& name, const std::string& type) {
    Add(name, m_sys / "devices" / "platform" / name, "serial8250");
    std::ofstream(m_sys / "class" / "tty" / name / "type") << type << "\n";
  }
  std::string SysRoot() const { return m_sys.string(); }
  std::string DevRoot() const { return m_dev.string(); }

 private:
  void Add(const std::string& name, const std::filesystem::path& device, const std::string& driver) {
    std::filesystem::create_directories(device);
    std::filesystem::create_directories(m_sys / "bus" / driver);
    std::filesystem::create_directory_symlink(m_sys / "bus" / driver, device / "driver");
    std::filesystem::create_directories(m_sys / "class" / "tty" / name);
    std::filesystem::create_directory_symlink(device, m_sys / "class" / "tty" / name / "device");
  }
  std::filesystem::path m_sys, m_dev;
};

}  // namespace cvm6::test
