#include "record_plan.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "bank_shape.h"

namespace fwgen {
namespace {

using Stretch = std::vector<Record>;  // records of consecutive bytes, ascending

// Records end on 16-byte boundaries, the way linkers write hex files.
Stretch CutAligned(std::uint32_t begin, std::uint32_t end) {
  Stretch stretch;
  while (begin < end) {
    const std::uint32_t next = std::min(end, (begin | 15u) + 1);
    stretch.push_back({begin, next - begin});
    begin = next;
  }
  return stretch;
}

std::size_t CountRecords(const std::vector<Stretch>& stretches) {
  std::size_t n = 0;
  for (const auto& s : stretches) n += s.size();
  return n;
}

// One more record: a record of two bytes or more is cut at a random point.
bool SplitOne(std::vector<Stretch>& stretches, SplitMix& rng) {
  auto& s = stretches[rng.Below(static_cast<std::uint32_t>(stretches.size()))];
  const auto i = rng.Below(static_cast<std::uint32_t>(s.size()));
  if (s[i].count < 2) return false;
  const std::uint32_t head = 1 + rng.Below(s[i].count - 1);
  const Record tail{s[i].offset + head, s[i].count - head};
  s[i].count = head;
  s.insert(s.begin() + i + 1, tail);
  return true;
}

// One record fewer: two neighbours of one stretch become one record.
bool MergeOne(std::vector<Stretch>& stretches, SplitMix& rng) {
  auto& s = stretches[rng.Below(static_cast<std::uint32_t>(stretches.size()))];
  if (s.size() < 2) return false;
  const auto i = rng.Below(static_cast<std::uint32_t>(s.size() - 1));
  if (s[i].count + s[i + 1].count > 255) return false;
  s[i].count += s[i + 1].count;
  s.erase(s.begin() + i + 1);
  return true;
}

}  // namespace

std::vector<Record> PlanRecords(const std::vector<Run>& runs, std::uint32_t recordCount, SplitMix& rng) {
  // The stretch that starts at kEntryOffset goes first; the run holding it is cut there.
  std::vector<Stretch> stretches;
  std::size_t entry = runs.size();
  for (const Run& run : runs) {
    const std::uint32_t end = run.offset + run.length;
    if (run.offset < kEntryOffset && kEntryOffset < end) {
      stretches.push_back(CutAligned(run.offset, kEntryOffset));
      entry = stretches.size();
      stretches.push_back(CutAligned(kEntryOffset, end));
    } else {
      if (run.offset == kEntryOffset) entry = stretches.size();
      stretches.push_back(CutAligned(run.offset, end));
    }
  }
  if (entry == runs.size()) throw std::logic_error("no run holds the entry offset");

  for (int tries = 0; CountRecords(stretches) != recordCount; ++tries) {
    if (tries > 10'000'000) throw std::logic_error("cannot reach the record count");
    if (CountRecords(stretches) < recordCount)
      SplitOne(stretches, rng);
    else
      MergeOne(stretches, rng);
  }

  std::swap(stretches[0], stretches[entry]);
  for (std::size_t i = stretches.size() - 1; i > 1; --i)  // shuffle all but the first
    std::swap(stretches[i], stretches[1 + rng.Below(static_cast<std::uint32_t>(i))]);

  std::vector<Record> records;
  for (const auto& s : stretches) records.insert(records.end(), s.begin(), s.end());
  return records;
}

}  // namespace fwgen
