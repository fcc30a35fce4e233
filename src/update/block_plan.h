#pragma once
// How an image goes out as write-flash blocks: each block a run of 1 to 246 consecutive
// stored addresses, in rising address order; a gap of even one unstored byte ends a block.
// The download cuts its blocks here, and cvm6-flash counts them here before it writes,
// so the count it shows is the count the unit must report at the end.
#include <cstdint>
#include <optional>

namespace cvm6 {

class CFlashImage;

// The most data bytes one write-flash message carries (with its 8-byte head, 254 of the
// 256 bytes the message may hold).
inline constexpr std::uint32_t kMaxBlockBytes = 246;

struct BlockSpan {
  std::uint32_t start;
  std::uint32_t end;  // last address, inclusive
};

// The block of a pass that has sent every stored byte below `nextAddress`: nothing when no
// stored byte lies at or above it. The image must not be empty. A block never runs past
// the top of the address space into address 0.
std::optional<BlockSpan> NextBlock(const CFlashImage& image, std::uint32_t nextAddress);

// The number of blocks a whole pass sends; 0 for an empty image.
std::uint32_t CountBlocks(const CFlashImage& image);

}  // namespace cvm6
