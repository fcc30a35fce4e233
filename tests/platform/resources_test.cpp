// The program's resources as the window and the image loader look them up. On Linux the
// look-up reads the tables compiled in; on Windows it goes through LoadStringA and
// FindResourceA to the resources compiled from the script the build writes. Either way
// it must give back exactly the tables' texts and the firmware files' bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/resource_tables.h"
#include "platform/resources.h"

namespace cvm6 {
namespace {

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Resources, LookUpsGiveTheTablesTextsAndTheFirmwareFilesBytesExactly) {
  ASSERT_GT(res::kStringTableSize, 50u);
  for (std::size_t i = 0; i < res::kStringTableSize; ++i) {
    const auto& entry = res::kStringTable[i];
    EXPECT_EQ(LoadResString(entry.id), std::string(entry.text)) << "string " << entry.id;
  }
  for (const std::uint32_t missing : {0u, 1u, 36000u, 36118u, 61502u, 65535u})
    EXPECT_FALSE(LoadResString(missing)) << "string " << missing;

  for (std::uint16_t id = 160; id <= 173; ++id) {
    char name[16];
    std::snprintf(name, sizeof name, "/cvm6.H%02d", id - 159);
    const std::string expected = FileBytes(CVM6_FIRMWARE_FILES_DIR + std::string(name));
    ASSERT_FALSE(expected.empty()) << CVM6_FIRMWARE_FILES_DIR << name;
    const auto found = FindBinaryResource(id);
    ASSERT_TRUE(found) << "Binary " << id;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(found->data()), found->size()), expected) << "Binary " << id;
  }
  for (const std::uint16_t missing : {0, 128, 159, 174, 61503}) EXPECT_FALSE(FindBinaryResource(missing)) << missing;
}

}  // namespace
}  // namespace cvm6
