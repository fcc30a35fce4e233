#pragma once
// Where a bank stores bytes: runs of consecutive offsets separated by gaps.
#include <cstdint>
#include <vector>

#include "split_mix.h"

namespace fwgen {

struct Run {
  std::uint32_t offset;  // first stored offset within the bank
  std::uint32_t length;  // stored bytes, all consecutive
};

// Runs of bank `bank` in ascending order, matching its figures in bank_shape.h: first byte
// at kFirstOffset, last at the highest offset, the bank's data bytes, its runs and empty
// pages, and a share of the image's block count. Throws std::logic_error if the figures
// cannot be met, so that a bad edit fails the build instead of shipping a wrong image.
std::vector<Run> PlanRuns(int bank, SplitMix& rng);

// Blocks the download sends for a run (at most kBlockLimit bytes each).
inline std::uint32_t BlocksOf(std::uint32_t length) { return (length + 245) / 246; }

}  // namespace fwgen
