// Cross-check with an independent Intel HEX reader, srec_cat from Debian's srecord: it
// joins the fourteen embedded texts at their bank bases into one binary. Filling the holes
// once with 0x00 and once with 0xFF tells its stored addresses apart from its holes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "image/flash_image.h"
#include "platform/resources.h"
#include "scratch.h"

namespace cvm6 {
namespace {

constexpr std::uint32_t kImageEnd = 0xE0000;

bool HaveSrecCat() { return std::system("command -v srec_cat > /dev/null 2>&1") == 0; }

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(SrecCrossCheck, StoredBytesAndAddressesMatchSrecCat) {
  if (!HaveSrecCat()) GTEST_SKIP() << "srec_cat not found: install the Debian package srecord (scripts/test does)";
  test::ScratchDir dir;
  std::string inputs;
  for (int bank = 0; bank < 14; ++bank) {
    const auto text = FindBinaryResource(static_cast<std::uint16_t>(160 + bank));
    ASSERT_TRUE(text);
    const auto file = dir.Write("bank" + std::to_string(bank) + ".hex",
                                std::string(reinterpret_cast<const char*>(text->data()), text->size()));
    inputs += " '" + file.string() + "' -Intel -offset " + std::to_string(bank * 0x10000);
  }
  for (const char* fill : {"0x00", "0xFF"}) {
    const std::string command = "srec_cat '(' " + inputs + " ')' -fill " + fill + " 0 " + std::to_string(kImageEnd) +
                                " -o '" + (dir.path() / fill).string() + ".bin' -Binary 2> '" +
                                (dir.path() / "log").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command << "\n" << ReadFile(dir.path() / "log");
  }
  // Without a fill, the binary ends at srec_cat's highest address + 1.
  ASSERT_EQ(std::system(("srec_cat '(' " + inputs + " ')' -o '" + (dir.path() / "raw.bin").string() +
                         "' -Binary 2> /dev/null").c_str()),
            0);
  EXPECT_EQ(std::filesystem::file_size(dir.path() / "raw.bin"), kImageEnd);

  const std::string zeros = ReadFile(dir.path() / "0x00.bin");
  const std::string ones = ReadFile(dir.path() / "0xFF.bin");
  ASSERT_EQ(zeros.size(), kImageEnd);
  ASSERT_EQ(ones.size(), kImageEnd);

  CFlashImage image;
  for (std::uint16_t bank = 0; bank < 14; ++bank) ASSERT_TRUE(image.LoadHexResource(160 + bank, bank * 0x10000u));
  std::uint32_t theirs = 0, mismatches = 0;
  for (std::uint32_t a = 0; a < kImageEnd; ++a) {
    const bool stored = zeros[a] == ones[a];
    theirs += stored;
    if (stored != image.IsSet(a) || (stored && static_cast<std::uint8_t>(zeros[a]) != image.GetByte(a))) {
      if (++mismatches <= 5) ADD_FAILURE() << "differs at 0x" << std::hex << a;
    }
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_EQ(theirs, image.GetCount());
  EXPECT_EQ(image.NextSetAddress(kImageEnd - 1), 0x02000u) << "nothing stored at or above the binary's end";
}

}  // namespace
}  // namespace cvm6
