#include "update/block_plan.h"

#include "image/flash_image.h"

namespace cvm6 {

std::optional<BlockSpan> NextBlock(const CFlashImage& image, std::uint32_t nextAddress) {
  // With nextAddress 0 the search starts from 0xFFFFFFFF and wraps to address 0.
  const std::uint32_t start = image.NextSetAddress(nextAddress - 1);
  if (start < nextAddress) return std::nullopt;  // the search wrapped: every stored byte is sent
  std::uint32_t end = start;
  while (end - start < kMaxBlockBytes - 1 && end != 0xFFFFFFFF && image.IsSet(end + 1)) ++end;
  return BlockSpan{start, end};
}

std::uint32_t CountBlocks(const CFlashImage& image) {
  if (image.GetCount() == 0) return 0;
  std::uint32_t blocks = 0, nextAddress = 0;
  while (const auto block = NextBlock(image, nextAddress)) {
    ++blocks;
    nextAddress = block->end + 1;
    if (nextAddress == 0) break;  // the block ended at the top of the address space
  }
  return blocks;
}

}  // namespace cvm6
