#pragma once
// How a bank's runs are cut into data records, and the order the records appear in.
#include <cstdint>
#include <vector>

#include "run_plan.h"
#include "split_mix.h"

namespace fwgen {

struct Record {
  std::uint32_t offset;  // offset within the bank of the first data byte
  std::uint32_t count;   // data bytes, 1..255
};

// Exactly `recordCount` records covering the runs, each byte once, in text order: first
// the records from kEntryOffset to the end of its run, then the other stretches in a
// shuffled order, each stretch ascending. Throws std::logic_error if it cannot be done.
std::vector<Record> PlanRecords(const std::vector<Run>& runs, std::uint32_t recordCount, SplitMix& rng);

}  // namespace fwgen
