// How an image is cut into write-flash blocks: the count cvm6-flash shows before it writes
// must be the count the download sends (and the unit reports at the end).
#include "update/block_plan.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "image/flash_image.h"

namespace cvm6::test {
namespace {

struct PlanCase {
  const char* name;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> runs;    // first address, length
  std::vector<std::pair<std::uint32_t, std::uint32_t>> blocks;  // start, length
};

class BlockPlan : public ::testing::TestWithParam<PlanCase> {};

TEST_P(BlockPlan, CutsRunsIntoBlocksOfAtMost246) {
  CFlashImage image;
  for (const auto& [first, length] : GetParam().runs)
    for (std::uint32_t i = 0; i < length; ++i) image.SetByte(first + i, static_cast<std::uint8_t>(i));
  std::vector<std::pair<std::uint32_t, std::uint32_t>> blocks;
  std::uint32_t next = 0;
  while (image.GetCount() != 0 && blocks.size() < 100) {
    const auto block = NextBlock(image, next);
    if (!block) break;
    blocks.emplace_back(block->start, block->end - block->start + 1);
    next = block->end + 1;
    if (next == 0) break;
  }
  EXPECT_EQ(blocks, GetParam().blocks);
  EXPECT_EQ(CountBlocks(image), GetParam().blocks.size());
}

INSTANTIATE_TEST_SUITE_P(
    Images, BlockPlan,
    ::testing::Values(PlanCase{"Empty", {}, {}}, PlanCase{"Exactly246", {{0x100, 246}}, {{0x100, 246}}},
                      PlanCase{"Run247", {{0x100, 247}}, {{0x100, 246}, {0x100 + 246, 1}}},
                      PlanCase{"Thousand", {{0, 1000}}, {{0, 246}, {246, 246}, {492, 246}, {738, 246}, {984, 16}}},
                      PlanCase{"AOneByteGapEndsABlock", {{0x10, 3}, {0x14, 2}}, {{0x10, 3}, {0x14, 2}}},
                      // No block runs past the top of the address space into address 0.
                      PlanCase{"TopAndBottom", {{0, 2}, {0xFFFFFFFE, 2}}, {{0, 2}, {0xFFFFFFFE, 2}}},
                      PlanCase{"OnlyTheTop", {{0xFFFFFF00, 256}}, {{0xFFFFFF00, 246}, {0xFFFFFFF6, 10}}}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace cvm6::test
