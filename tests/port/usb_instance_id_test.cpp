// The USB identity in Windows device instance ids, as each kind of driver writes them.
#include <gtest/gtest.h>

#include "port/port_list.h"

namespace cvm6 {

TEST(UsbInstanceId, GivesTheIdsAndOnlyARealSerialNumber) {
  const struct { const char* id; std::uint16_t vendor, product; const char* serial; } rows[] = {{"USB\\VID_10C4&PID_EA60\\0001", 0x10C4, 0xEA60, "0001"},
              {"USB\\VID_2341&PID_0043&MI_00\\6&2C8A3C1B&0&0000", 0x2341, 0x0043, ""},  // Windows' own number
              {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", 0x0403, 0x6001, "A50285BI"},  // A: the chip's port
              {"ACPI\\PNP0501\\1", 0, 0, ""},
              {"USB\\VID_04&PID_6001\\X", 0, 0, ""}};  // vendor 0: not a USB device
  for (const auto& row : rows) {
    const auto identity = ParseUsbInstanceId(row.id);
    ASSERT_EQ(identity.has_value(), row.vendor != 0) << row.id;
    if (!identity) continue;
    EXPECT_EQ(identity->vendorId, row.vendor) << row.id;
    EXPECT_EQ(identity->productId, row.product) << row.id;
    EXPECT_EQ(identity->serialNumber, row.serial) << row.id;
  }
}

}  // namespace cvm6
