// cvm6-fwgen OUTDIR: writes the fourteen synthetic firmware texts cvm6.H01..cvm6.H14.
//
// The unit's real firmware is not ours to ship, but the updater, its tests and the
// simulator need an image shaped exactly like it. The texts come from a fixed seed, so
// every build embeds the same bytes. Before writing, the tool checks its own output
// against the firmware's figures and fails (exit 1) rather than write a wrong image.
#include <array>
#include <bitset>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "bank_shape.h"
#include "hex_text.h"
#include "record_plan.h"
#include "run_plan.h"
#include "split_mix.h"

namespace {

using namespace fwgen;

constexpr std::uint64_t kSeed = 0x43564D36;  // "CVM6"

struct Totals {
  std::uint32_t bytes = 0;
  int runs = 0;
  int blocks = 0;
  int pages = 0;
  std::bitset<256> values;
};

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::logic_error(what);
}

std::string MakeBankText(int bank, SplitMix& rng, Totals& totals) {
  const BankShape& shape = kBankShapes[bank];
  const auto runs = PlanRuns(bank, rng);
  const auto records = PlanRecords(runs, shape.records, rng);

  std::array<std::uint8_t, kBankSize> bytes{};
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng.Next() >> 56);

  std::string text;
  text.reserve(shape.textSize);
  std::set<std::uint32_t> pages;
  std::uint32_t stored = 0;
  for (const Record& r : records) {
    Check(r.count >= 1 && r.count <= 255 && r.offset + r.count <= kBankSize, "record out of range");
    AppendRecord(text, static_cast<std::uint16_t>(r.offset), 0, {bytes.data() + r.offset, r.count});
    for (std::uint32_t o = r.offset; o < r.offset + r.count; ++o) {
      pages.insert(o / kPageSize);
      totals.values.set(bytes[o]);
    }
    stored += r.count;
  }
  AppendEndRecord(text);

  const std::string name = "bank " + std::to_string(bank);
  Check(records.front().offset == kEntryOffset, name + ": text does not begin at the entry offset");
  Check(records.size() == shape.records, name + ": record count");
  Check(stored == shape.dataBytes, name + ": data bytes");
  Check(text.size() == shape.textSize, name + ": text size");
  Check(runs.front().offset == kFirstOffset, name + ": lowest address");
  Check(runs.back().offset + runs.back().length - 1 == shape.highestOffset, name + ": highest address");
  for (const Run& run : runs) totals.blocks += static_cast<int>(BlocksOf(run.length));
  totals.runs += static_cast<int>(runs.size());
  totals.pages += static_cast<int>(pages.size());
  totals.bytes += stored;
  return text;
}

}  // namespace

constexpr const char* kUsage =
    "usage: cvm6-fwgen OUTDIR\n"
    "Writes the fourteen synthetic firmware texts cvm6.H01..cvm6.H14 into OUTDIR (made when missing).\n";

int main(int argc, char** argv) {
  const std::string first = argc > 1 ? argv[1] : "";
  if (first == "--help" || first == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // A folder named like an option is a slip: nothing is written for it.
  if (argc != 2 || first.empty() || first[0] == '-') {
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    SplitMix rng(kSeed);
    Totals totals;
    std::vector<std::string> texts;
    for (int bank = 0; bank < kBankCount; ++bank) texts.push_back(MakeBankText(bank, rng, totals));
    Check(totals.bytes == kTotalBytes, "total bytes");
    Check(totals.runs == kTotalRuns, "total runs");
    Check(totals.blocks == kTotalBlocks, "total blocks " + std::to_string(totals.blocks));
    Check(totals.pages == kTotalPages, "total pages " + std::to_string(totals.pages));
    Check(totals.values.all(), "not every byte value occurs");

    for (int bank = 0; bank < kBankCount; ++bank) {
      char name[16];
      std::snprintf(name, sizeof name, "cvm6.H%02d", bank + 1);
      std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
      out.write(texts[bank].data(), static_cast<std::streamsize>(texts[bank].size()));
      out.close();
      if (!out) throw std::runtime_error("cannot write " + (dir / name).string());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cvm6-fwgen: %s\n", e.what());
    return 1;
  }
  return 0;
}
