#include "image/flash_image.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "scratch.h"

namespace cvm6 {
namespace {

TEST(FlashImage, NewImageIsEmptyAndReadsFill) {
  CFlashImage image;
  EXPECT_EQ(image.GetCount(), 0u);
  for (std::uint32_t a : {0x0u, 0x2000u, 0x12345678u, 0xFFFFFFFFu}) {
    EXPECT_EQ(image.GetByte(a), 0xFF);
    EXPECT_FALSE(image.IsSet(a));
  }
}

TEST(FlashImage, StoringTwiceKeepsOneCountAndTheLastValue) {
  CFlashImage image;
  image.SetByte(0x4321, 0x12);
  image.SetByte(0x4321, 0x34);
  EXPECT_EQ(image.GetCount(), 1u);
  EXPECT_EQ(image.GetByte(0x4321), 0x34);
}

TEST(FlashImage, StoredFFIsSetAndCounted) {
  CFlashImage image;
  image.SetByte(0x777, 0xFF);
  EXPECT_EQ(image.GetByte(0x777), 0xFF);
  EXPECT_TRUE(image.IsSet(0x777));
  EXPECT_EQ(image.GetCount(), 1u);
}

TEST(FlashImage, OnlyTheStoredOffsetsOfAPageAreSet) {
  CFlashImage image;
  for (std::uint32_t o = 0x10; o <= 0x1F; ++o) image.SetByte(0x12300 + o, static_cast<std::uint8_t>(o));
  for (std::uint32_t o = 0; o < 256; ++o) {
    const bool stored = o >= 0x10 && o <= 0x1F;
    EXPECT_EQ(image.IsSet(0x12300 + o), stored) << o;
    EXPECT_EQ(image.GetByte(0x12300 + o), stored ? o : 0xFF) << o;
  }
  EXPECT_EQ(image.GetCount(), 16u);
}

TEST(FlashImage, TopAddressIsStoredReadAndFound) {
  CFlashImage image;
  image.SetByte(0x100, 1);
  image.SetByte(0xFFFFFFFF, 0x5A);
  EXPECT_TRUE(image.IsSet(0xFFFFFFFF));
  EXPECT_EQ(image.GetByte(0xFFFFFFFF), 0x5A);
  EXPECT_EQ(image.NextSetAddress(0xFFFFFFFE), 0xFFFFFFFFu);
  EXPECT_EQ(image.NextSetAddress(0x100), 0xFFFFFFFFu);
  EXPECT_EQ(image.NextSetAddress(0xFFFFFFFF), 0x100u);  // wraps to the lowest
}

TEST(FlashImage, WrapsFromTheHighestToTheLowest) {
  CFlashImage image;
  image.SetByte(0x00100, 1);
  image.SetByte(0xDFFFF, 2);
  EXPECT_EQ(image.NextSetAddress(0xFFFFFFFF), 0x00100u);
  EXPECT_EQ(image.NextSetAddress(0x00100), 0xDFFFFu);
  EXPECT_EQ(image.NextSetAddress(0xDFFFF), 0x00100u);
}

TEST(FlashImage, SkipsAnEmptyBankAndRestartsLowerIndexesAtZero) {
  CFlashImage image;
  image.SetByte(0x00005, 1);
  image.SetByte(0x0FF00, 1);  // last page of bank 0
  image.SetByte(0x20000, 2);
  image.SetByte(0x20400, 3);
  EXPECT_EQ(image.NextSetAddress(0x0FF00), 0x20000u);
  EXPECT_EQ(image.NextSetAddress(0x0FFFF), 0x20000u);
  EXPECT_EQ(image.NextSetAddress(0x20000), 0x20400u);
}

TEST(FlashImage, AGapOfOneByteEndsARun) {
  CFlashImage image;
  for (std::uint32_t a = 0x500; a < 0x510; ++a)
    if (a != 0x505) image.SetByte(a, 0);
  EXPECT_EQ(image.NextSetAddress(0x503), 0x504u);
  EXPECT_EQ(image.NextSetAddress(0x504), 0x506u);
}

TEST(FlashImage, CrossesMiddleAndTopTables) {
  CFlashImage image;
  const std::uint32_t stored[] = {0x00FFFFFF, 0x01000000, 0x7F000080, 0xFE000000};
  for (auto a : stored) image.SetByte(a, 0);
  EXPECT_EQ(image.NextSetAddress(0x00FFFFFF), 0x01000000u);
  EXPECT_EQ(image.NextSetAddress(0x01000000), 0x7F000080u);
  EXPECT_EQ(image.NextSetAddress(0x7F000080), 0xFE000000u);
  EXPECT_EQ(image.NextSetAddress(0xFE000000), 0x00FFFFFFu);
}

class FlashImageSingleAddress : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(FlashImageSingleAddress, EveryQuestionFindsIt) {
  const std::uint32_t x = GetParam();
  CFlashImage image;
  image.SetByte(x, 0x42);
  for (std::uint32_t from : {x, x - 1, x + 1, x - 256, x + 256, 0u, 0xFFFFFFFFu, x ^ 0x80000000u})
    EXPECT_EQ(image.NextSetAddress(from), x) << std::hex << from;
}

INSTANTIATE_TEST_SUITE_P(Addresses, FlashImageSingleAddress,
                         ::testing::Values(0x0u, 0xFFu, 0x100u, 0x2000u, 0xDFFFFu, 0x12345678u, 0x80000000u,
                                           0xFFFFFFFFu));

// An empty image has nothing to find: NextSetAddress answers with its argument, which a
// caller stopping on "not above my argument" takes as the end of the walk.
class FlashImageEmpty : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(FlashImageEmpty, NextSetAddressReturnsTheArgument) {
  CFlashImage image;
  EXPECT_EQ(image.NextSetAddress(GetParam()), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Addresses, FlashImageEmpty, ::testing::Values(0x0u, 0x2000u, 0x80000000u, 0xFFFFFFFFu));

// Many scattered addresses against a plain ordered set: the walk must visit each stored
// address once, in ascending order, and then wrap.
TEST(FlashImage, WalkMatchesAnOrderedSet) {
  std::mt19937 random(6);
  std::set<std::uint32_t> expected;
  CFlashImage image;
  for (int i = 0; i < 4000; ++i) {
    // Clustered low addresses (shared pages and runs) and a few anywhere in 32 bits.
    const std::uint32_t a = (i % 8 == 0) ? static_cast<std::uint32_t>(random()) : random() % 0x30000;
    expected.insert(a);
    image.SetByte(a, static_cast<std::uint8_t>(a * 7));
  }
  ASSERT_EQ(image.GetCount(), expected.size());
  std::vector<std::uint32_t> walked;
  std::uint32_t next = 0;
  for (;;) {
    const std::uint32_t found = image.NextSetAddress(next - 1);
    if (found < next || walked.size() > expected.size()) break;
    walked.push_back(found);
    EXPECT_EQ(image.GetByte(found), static_cast<std::uint8_t>(found * 7));
    if (found == 0xFFFFFFFF) break;
    next = found + 1;
  }
  EXPECT_EQ(walked, std::vector<std::uint32_t>(expected.begin(), expected.end()));
  EXPECT_EQ(image.NextSetAddress(*expected.rbegin()), *expected.begin());
}

}  // namespace
}  // namespace cvm6
