// The port list read from a sysfs tree of the test's own: what each kind of tty shows
// (a USB adapter with all it says of itself, one that says little, a built-in port with
// and without hardware behind it, a virtual terminal), and the by-id names.
#include <gtest/gtest.h>

#include <algorithm>

#include "image/scratch.h"
#include "port/port_list.h"
#include "support/fake_sysfs.h"

namespace cvm6::test {
namespace {

TEST(PosixPortList, ReadsEachAdaptersIdentityAndLeavesOutPortsWithoutHardware) {
  ScratchDir root;
  FakeSysfs sysfs(root.path());
  sysfs.AddUsbTty("ttyUSB0", {"0403", "6001", "A50285BI", "FTDI", "FT232R USB UART"}, "",
                  "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  sysfs.AddUsbTty("ttyACM0", {"2341", "0043", "", "", "Arduino Uno"});
  sysfs.AddBuiltInTty("ttyS0", "4");
  sysfs.AddBuiltInTty("ttyS1", "0");  // no UART behind it
  sysfs.AddVirtualTty("tty1");
  const auto ports = ListSerialPorts(sysfs.SysRoot(), sysfs.DevRoot());
  const std::string dev = sysfs.DevRoot() + "/";
  std::vector<std::string> paths;
  for (const auto& port : ports) paths.push_back(port.path);
  ASSERT_EQ(paths, (std::vector<std::string>{dev + "ttyACM0", dev + "ttyS0", dev + "ttyUSB0"}));

  const SerialPortInfo& acm = ports[0];
  EXPECT_EQ(acm.vendorId, 0x2341);
  EXPECT_EQ(acm.productId, 0x0043);
  EXPECT_EQ(acm.serialNumber, "");
  EXPECT_EQ(acm.description, "Arduino Uno");
  EXPECT_TRUE(acm.aliases.empty());

  const SerialPortInfo& builtIn = ports[1];
  EXPECT_FALSE(builtIn.IsUsb());
  EXPECT_EQ(builtIn.description, "");

  const SerialPortInfo& ftdi = ports[2];
  ASSERT_TRUE(ftdi.IsUsb());
  EXPECT_EQ(*ftdi.vendorId, 0x0403);
  EXPECT_EQ(*ftdi.productId, 0x6001);
  EXPECT_EQ(ftdi.serialNumber, "A50285BI");
  EXPECT_EQ(ftdi.manufacturer, "FTDI");
  EXPECT_EQ(ftdi.description, "FTDI FT232R USB UART");
  EXPECT_EQ(ftdi.aliases, std::vector<std::string>{"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"});
}

TEST(PosixPortList, TheEnvironmentNamesTheTreeAndAMissingTreeListsNothing) {
  ScratchDir root;
  FakeSysfs sysfs(root.path());
  sysfs.AddUsbTty("ttyUSB3", {"067b", "2303", "", "Prolific", "USB-Serial Controller"});
  {
    EnvGuard sys("CVM6_SYSFS_ROOT", sysfs.SysRoot());
    EnvGuard dev("CVM6_DEV_ROOT", sysfs.DevRoot());
    const auto ports = ListSerialPorts();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].path, sysfs.DevRoot() + "/ttyUSB3");
    EXPECT_EQ(ports[0].vendorId, 0x067b);
  }
  EXPECT_TRUE(ListSerialPorts((root.path() / "none").string(), "/dev").empty());
}

}  // namespace
}  // namespace cvm6::test
