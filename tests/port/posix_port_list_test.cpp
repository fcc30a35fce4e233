// The port list from a sysfs tree of the test's own (what an adapter says of itself is
// held through cvm6-flash in flash_cli_test's bench): a USB device without a serial
// number, its by-id name, built-in ports with and without hardware, a virtual terminal.
#include <gtest/gtest.h>

#include "image/scratch.h"
#include "port/port_list.h"
#include "support/fake_sysfs.h"

namespace cvm6::test {

TEST(PosixPortList, ListsPortsWithHardwareAndTheirByIdNames) {
  ScratchDir root;
  FakeSysfs sysfs(root.path());
  sysfs.AddUsbTty("ttyACM0", "2341:0043", "", "Arduino Uno");
  std::filesystem::create_symlink("../../ttyACM0", root.path() / "dev/serial/by-id/usb-Arduino-if00");
  sysfs.AddBuiltInTty("ttyS0", "4");
  sysfs.AddBuiltInTty("ttyS1", "0");
  std::filesystem::create_directories(root.path() / "sys/class/tty/tty1");
  const auto ports = ListSerialPorts(sysfs.SysRoot(), sysfs.DevRoot());
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].path, sysfs.DevRoot() + "/ttyACM0");
  EXPECT_EQ(ports[0].vendorId, 0x2341);
  EXPECT_EQ(ports[0].serialNumber, "");
  EXPECT_EQ(ports[0].aliases, std::vector<std::string>{"/dev/serial/by-id/usb-Arduino-if00"});
  EXPECT_EQ(ports[1].path, sysfs.DevRoot() + "/ttyS0");
  EXPECT_FALSE(ports[1].IsUsb());
}

}  // namespace cvm6::test
