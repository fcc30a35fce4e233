// The USB identity in a Windows device instance id, as each kind of driver writes it.
#include <gtest/gtest.h>

#include "port/port_list.h"

namespace cvm6 {
namespace {

struct InstanceCase {
  const char* name;
  const char* instanceId;
  bool usb;
  std::uint16_t vendorId, productId;
  const char* serial;
};

void PrintTo(const InstanceCase& row, std::ostream* out) { *out << row.name; }

class UsbInstanceId : public ::testing::TestWithParam<InstanceCase> {};

TEST_P(UsbInstanceId, GivesTheIdsAndARealSerialNumberOnly) {
  const InstanceCase& row = GetParam();
  const auto identity = ParseUsbInstanceId(row.instanceId);
  ASSERT_EQ(identity.has_value(), row.usb);
  if (!row.usb) return;
  EXPECT_EQ(identity->vendorId, row.vendorId);
  EXPECT_EQ(identity->productId, row.productId);
  EXPECT_EQ(identity->serialNumber, row.serial);
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, UsbInstanceId,
    ::testing::Values(InstanceCase{"UsbDeviceWithItsSerial", "USB\\VID_10C4&PID_EA60\\0001", true, 0x10C4, 0xEA60, "0001"},
                      InstanceCase{"NumberedByWindowsIsNoSerial", "USB\\VID_2341&PID_0043&MI_00\\6&2C8A3C1B&0&0000", true,
                                   0x2341, 0x0043, ""},
                      InstanceCase{"FtdiBusDropsThePortLetter", "FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", true,
                                   0x0403, 0x6001, "A50285BI"},
                      InstanceCase{"LowerCaseDigits", "usb\\vid_067b&pid_2303\\5&1a2b&0&1", true, 0x067B, 0x2303, ""},
                      InstanceCase{"BuiltInPortIsNotUsb", "ACPI\\PNP0501\\1", false, 0, 0, ""},
                      InstanceCase{"CutShortIds", "USB\\VID_04&PID_6001\\X", false, 0, 0, ""},
                      InstanceCase{"NoDeviceAtAll", "USB", false, 0, 0, ""}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace cvm6
