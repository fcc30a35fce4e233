#include "run_plan.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "bank_shape.h"

namespace fwgen {
namespace {

// Splits `total` into parts of at least mins[i] and at most `most`, at random. Early picks
// take large steps, so the parts come out uneven: some long runs, some short, as in code.
std::vector<std::uint32_t> Compose(std::uint32_t total, std::vector<std::uint32_t> parts, std::uint32_t most,
                                   SplitMix& rng) {
  std::uint64_t floor = 0;
  for (auto p : parts) floor += p;
  if (parts.empty() || floor > total || total > std::uint64_t(most) * parts.size())
    throw std::logic_error("cannot split " + std::to_string(total) + " into " + std::to_string(parts.size()));
  auto rest = static_cast<std::uint32_t>(total - floor);
  while (rest > 0) {
    auto& part = parts[rng.Below(static_cast<std::uint32_t>(parts.size()))];
    if (part >= most) continue;
    const std::uint32_t step = 1 + rng.Below(std::min(rest, most - part));
    part += step;
    rest -= step;
  }
  return parts;
}

}  // namespace

std::vector<Run> PlanRuns(int bank, SplitMix& rng) {
  const BankShape& shape = kBankShapes[bank];
  const auto runs = static_cast<std::uint32_t>(shape.runs);

  // A run of L bytes goes out as q full blocks and a last block of m bytes (1..246), so the
  // block count is the sum of (q + 1) and the data is 246 * sum(q) + sum(m). Over the image,
  // 2,783 blocks in 296 runs fix sum(q) = 2,487 and sum(m) = 5,454; one extra 246 on top of
  // each bank's remainder modulo 246 is exactly that, and leaves every bank room for short runs.
  const std::uint32_t lastBlocks = shape.dataBytes % kBlockLimit + kBlockLimit;
  const std::uint32_t fullBlocks = (shape.dataBytes - lastBlocks) / kBlockLimit;

  // Bank 0 opens with three small runs (22, 3 and 3 bytes, five-byte gaps) before its code;
  // the code run of every bank reaches past kEntryOffset.
  std::vector<std::uint32_t> front, frontGaps;
  if (bank == 0) front = {22, 3, 3}, frontGaps = {5, 5, 5};
  std::uint32_t frontBytes = 0;
  for (auto f : front) frontBytes += f;

  const auto freeRuns = runs - static_cast<std::uint32_t>(front.size());
  std::vector<std::uint32_t> qMins(freeRuns, 0);
  qMins[0] = 3;  // 3 * 246 > kEntryOffset - kFirstOffset: the code run holds the entry record
  auto q = Compose(fullBlocks, qMins, 0xFFFF, rng);
  auto m = Compose(lastBlocks - frontBytes, std::vector<std::uint32_t>(freeRuns, 1), kBlockLimit, rng);
  std::vector<std::uint32_t> lengths(freeRuns);
  for (std::uint32_t i = 0; i < freeRuns; ++i) lengths[i] = q[i] * kBlockLimit + m[i];

  // The last gap is the hole of empty pages; it ends where the last run starts. Pick as last
  // run the one that leaves the shortest partial page above the hole, so the hole fits.
  const std::uint32_t top = shape.highestOffset + 1;
  auto tail = [&](std::uint32_t len) { return (top - len) % kPageSize; };
  auto last = std::min_element(lengths.begin() + 1, lengths.end(),
                               [&](auto a, auto b) { return tail(a) < tail(b); });
  std::iter_swap(last, lengths.end() - 1);

  const std::uint32_t span = shape.highestOffset - kFirstOffset + 1;
  const std::uint32_t gapBytes = span - shape.dataBytes;
  std::uint32_t frontGapBytes = 0;
  for (auto g : frontGaps) frontGapBytes += g;
  const auto smallGaps = runs - 2 - static_cast<std::uint32_t>(frontGaps.size());
  // A hole of tail + 256 * pages + y bytes (y < 256) ending at the last run empties exactly
  // `holePages` whole pages; every other gap is below 256 bytes and empties none.
  const std::uint32_t holeMin = tail(lengths.back()) + kPageSize * static_cast<std::uint32_t>(shape.holePages);
  if (holeMin + frontGapBytes + smallGaps > gapBytes)
    throw std::logic_error("bank " + std::to_string(bank) + ": no room for the hole");
  const std::uint32_t slack = std::min<std::uint32_t>(kPageSize - 1, gapBytes - holeMin - frontGapBytes - smallGaps);
  const std::uint32_t hole = holeMin + rng.Below(slack + 1);
  auto gaps = Compose(gapBytes - hole - frontGapBytes, std::vector<std::uint32_t>(smallGaps, 1), kPageSize - 1, rng);
  gaps.insert(gaps.begin(), frontGaps.begin(), frontGaps.end());
  gaps.push_back(hole);
  lengths.insert(lengths.begin(), front.begin(), front.end());

  std::vector<Run> plan;
  std::uint32_t offset = kFirstOffset;
  for (std::uint32_t i = 0; i < runs; ++i) {
    plan.push_back({offset, lengths[i]});
    offset += lengths[i] + (i + 1 < runs ? gaps[i] : 0);
  }
  if (offset != top) throw std::logic_error("bank " + std::to_string(bank) + ": runs do not end at the top");
  return plan;
}

}  // namespace fwgen
