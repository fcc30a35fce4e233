// The embedded firmware texts, checked two ways: with a plain parser written here (so that
// a fault shared by the reader and the generator cannot hide), and through CFlashImage
// walked the way the download walks it.
#include <gtest/gtest.h>

#include <bitset>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "image/flash_image.h"
#include "platform/firmware_kind.h"
#include "platform/resources.h"
#include "scratch.h"

namespace cvm6 {
namespace {

struct TextFigures {
  std::uint16_t id;
  std::size_t textSize;
  std::size_t records;
  std::uint32_t lowest;
  std::uint32_t highest;
  std::size_t dataBytes;
};

const TextFigures kTable[] = {
    {160, 158000, 3705, 0x02000, 0x0FFDA, 54911}, {161, 156644, 3531, 0x12000, 0x1FCC7, 55364},
    {162, 119676, 2741, 0x22000, 0x2C8A2, 42015}, {163, 117747, 2712, 0x32000, 0x3C59A, 41239},
    {164, 91598, 2119, 0x42000, 0x4A196, 32019},  {165, 153124, 3505, 0x52000, 0x5F690, 53773},
    {166, 140287, 3194, 0x62000, 0x6E563, 49376}, {167, 120820, 2799, 0x72000, 0x7C965, 42210},
    {168, 93494, 2175, 0x82000, 0x8A3DE, 32603},  {169, 124976, 2847, 0x92000, 0x9D04B, 43976},
    {170, 132251, 2982, 0xA2000, 0xADB13, 46736}, {171, 99654, 2259, 0xB2000, 0xBADC4, 35137},
    {172, 149162, 3361, 0xC2000, 0xCF27B, 52728}, {173, 99744, 2261, 0xD2000, 0xDFFFF, 35169},
};

std::string TextOf(std::uint16_t id) {
  const auto bytes = FindBinaryResource(id);
  return bytes ? std::string(reinterpret_cast<const char*>(bytes->data()), bytes->size()) : std::string();
}

// A strict reader of the form the firmware texts must have: upper-case records, CR LF,
// type 0 records, then ":00000001FF" as the last line. Fails the test on anything else.
struct ParsedText {
  std::size_t records = 0;
  std::vector<std::uint32_t> recordAddresses;  // in text order
  std::map<std::uint32_t, std::uint8_t> bytes;
};

int Nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // lower case is not the firmware's form either
}

ParsedText ParseStrict(const std::string& text, std::uint32_t base) {
  ParsedText parsed;
  std::size_t pos = 0;
  bool ended = false;
  while (pos < text.size()) {
    const std::size_t eol = text.find("\r\n", pos);
    EXPECT_NE(eol, std::string::npos) << "line without CR LF at " << pos;
    if (eol == std::string::npos) break;
    const std::string line = text.substr(pos, eol - pos);
    pos = eol + 2;
    EXPECT_FALSE(ended) << "text after the end record";
    if (line == ":00000001FF") {
      ended = true;
      continue;
    }
    EXPECT_TRUE(line.size() >= 11 && line.size() % 2 == 1 && line[0] == ':') << line;
    std::vector<int> b;
    for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
      const int hi = Nibble(line[i]), lo = Nibble(line[i + 1]);
      EXPECT_TRUE(hi >= 0 && lo >= 0) << line;
      b.push_back(hi * 16 + lo);
    }
    if (b.size() < 5) return parsed;
    EXPECT_EQ(static_cast<std::size_t>(b[0]) + 5, b.size()) << line;
    EXPECT_EQ(b[3], 0) << "only data records: " << line;
    int sum = 0;
    for (int v : b) sum += v;
    EXPECT_EQ(sum % 256, 0) << "checksum: " << line;
    const std::uint32_t address = base + static_cast<std::uint32_t>(b[1] * 256 + b[2]);
    parsed.records++;
    parsed.recordAddresses.push_back(address);
    for (int i = 0; i < b[0]; ++i) {
      const bool fresh = parsed.bytes.emplace(address + i, static_cast<std::uint8_t>(b[4 + i])).second;
      EXPECT_TRUE(fresh) << "address stored twice: " << std::hex << address + i;
    }
  }
  EXPECT_TRUE(ended) << "no end record";
  return parsed;
}

class EmbeddedText : public ::testing::TestWithParam<TextFigures> {};

TEST_P(EmbeddedText, HasTheFirmwareShape) {
  const auto& f = GetParam();
  const std::uint32_t base = (f.id - 160u) * 0x10000u;
  const std::string text = TextOf(f.id);
  EXPECT_EQ(text.size(), f.textSize);
  const auto parsed = ParseStrict(text, base);
  EXPECT_EQ(parsed.records, f.records);
  EXPECT_EQ(parsed.bytes.size(), f.dataBytes);
  ASSERT_FALSE(parsed.bytes.empty());
  EXPECT_EQ(parsed.bytes.begin()->first, f.lowest);
  EXPECT_EQ(*std::min_element(parsed.recordAddresses.begin(), parsed.recordAddresses.end()), f.lowest);
  EXPECT_EQ(parsed.bytes.rbegin()->first, f.highest);
  EXPECT_EQ(parsed.recordAddresses.front(), base + 0x221C) << "each text begins at offset 0x221C";
  EXPECT_FALSE(std::is_sorted(parsed.recordAddresses.begin(), parsed.recordAddresses.end()));

  // The reader agrees with the plain parser, byte for byte.
  CFlashImage image;
  EXPECT_TRUE(image.LoadHexResource(f.id, base));
  EXPECT_EQ(test::StoredBytes(image), parsed.bytes);
}

INSTANTIATE_TEST_SUITE_P(Resources, EmbeddedText, ::testing::ValuesIn(kTable),
                         [](const auto& row) { return std::to_string(row.param.id); });

struct Block {
  std::uint32_t address;
  std::uint32_t length;
  bool operator==(const Block&) const = default;
};

class EmbeddedImage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_image = new CFlashImage;
    for (std::uint16_t bank = 0; bank < 14; ++bank) s_image->LoadHexResource(160 + bank, bank * 0x10000u);
  }
  static void TearDownTestSuite() {
    delete s_image;
    s_image = nullptr;
  }

  // The download's walk: from each next stored address, a block while bytes follow, at
  // most 246; stop when the search wraps below the next address.
  static std::vector<Block> Blocks() {
    std::vector<Block> blocks;
    std::uint32_t next = 0;
    for (;;) {
      const std::uint32_t start = s_image->NextSetAddress(next - 1);
      if (start < next) return blocks;
      std::uint32_t end = start;
      while (end - start < 245 && s_image->IsSet(end + 1)) ++end;
      blocks.push_back({start, end - start + 1});
      next = end + 1;
    }
  }

  static inline CFlashImage* s_image = nullptr;
};

TEST_F(EmbeddedImage, CountAndEnds) {
  EXPECT_EQ(s_image->GetCount(), 617256u);
  EXPECT_EQ(s_image->NextSetAddress(0xFFFFFFFF), 0x02000u);
  EXPECT_EQ(s_image->NextSetAddress(0xDFFFF), 0x02000u);
  EXPECT_FALSE(s_image->IsSet(0x01FFF));
  EXPECT_FALSE(s_image->IsSet(0xE0000));
}

TEST_F(EmbeddedImage, RunsBlocksAndPages) {
  std::size_t runs = 0;
  std::set<std::uint32_t> pages;
  std::bitset<256> values;
  for (const auto& [address, value] : test::StoredBytes(*s_image)) {
    if (address == 0 || !s_image->IsSet(address - 1)) ++runs;
    pages.insert(address >> 8);
    values.set(value);
  }
  EXPECT_EQ(runs, 296u);
  EXPECT_EQ(pages.size(), 2426u);
  EXPECT_TRUE(values.all()) << "every byte value 0x00-0xFF occurs";

  const auto blocks = Blocks();
  EXPECT_EQ(blocks.size(), 2783u);
  ASSERT_GE(blocks.size(), 4u);
  EXPECT_EQ(std::vector<Block>(blocks.begin(), blocks.begin() + 4),
            (std::vector<Block>{{0x02000, 22}, {0x0201B, 3}, {0x02023, 3}, {0x0202B, 246}}));
  std::size_t sent = 0;
  for (const auto& b : blocks) sent += b.length;
  EXPECT_EQ(sent, 617256u);
}

TEST(EmbeddedFirmware, TotalTextSize) {
  std::size_t total = 0;
  for (const auto& f : kTable) total += TextOf(f.id).size();
  EXPECT_EQ(total, 1757177u);
}

// The generator uses a fixed seed: two runs write the same texts, and a build with the
// synthetic image embeds exactly those.
TEST(FirmwareGenerator, WritesTheSameTextsEveryTime) {
  if (*CVM6_FWGEN_PATH == '\0') GTEST_SKIP() << "cvm6-fwgen runs on the build machine, not under Wine";
  test::ScratchDir first, second;
  for (const auto* dir : {&first, &second}) {
    const std::string command = std::string("'") + CVM6_FWGEN_PATH + "' '" + dir->path().string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  for (const auto& f : kTable) {
    char name[16];
    std::snprintf(name, sizeof name, "cvm6.H%02d", f.id - 159);
    auto read = [&](const test::ScratchDir& dir) {
      std::ifstream in(dir.path() / name, std::ios::binary);
      return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string text = read(first);
    EXPECT_EQ(text.size(), f.textSize) << name;
    EXPECT_EQ(text, read(second)) << name;
    if (res::IsSyntheticFirmware()) {
      EXPECT_EQ(text, TextOf(f.id)) << name;
    }
  }
}

// Asked for help, or given something that looks like an option, the generator prints
// its usage and writes nothing: no folder named "--help" fills with fourteen texts.
TEST(FirmwareGenerator, HelpAndOptionLikeArgumentsWriteNothing) {
  if (*CVM6_FWGEN_PATH == '\0') GTEST_SKIP() << "cvm6-fwgen runs on the build machine, not under Wine";
  for (const auto& [args, status] : {std::pair{"--help", 0}, {"-h", 0}, {"--out", 2}, {"", 2}}) {
    test::ScratchDir cwd;
    const std::string command = "cd '" + cwd.path().string() + "' && '" + CVM6_FWGEN_PATH + "' " + args + " >said 2>&1";
    const int result = std::system(command.c_str());
    EXPECT_EQ(result == 0 ? 0 : 2, status) << args;
    std::ifstream in(cwd.path() / "said");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}).rfind("usage: cvm6-fwgen OUTDIR", 0), 0u) << args;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(cwd.path()), {}), 1) << args << ": only what it said";
  }
}

}  // namespace
}  // namespace cvm6
