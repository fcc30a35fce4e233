#pragma once
// The shape of the unit's firmware, bank by bank. The synthetic texts copy it exactly so
// that everything downstream (memory use, block count, progress, the device's block
// counter, text sizes) behaves as with the real firmware, whose bytes we do not ship.
#include <array>
#include <cstdint>

namespace fwgen {

inline constexpr int kBankCount = 14;
inline constexpr std::uint32_t kBankSize = 0x10000;
inline constexpr std::uint32_t kFirstOffset = 0x2000;   // every bank starts storing here
inline constexpr std::uint32_t kEntryOffset = 0x221C;   // each text begins with this record
inline constexpr std::uint32_t kBlockLimit = 246;       // bytes per write-flash block
inline constexpr std::uint32_t kPageSize = 256;

struct BankShape {
  std::uint32_t textSize;       // bytes of the whole text, CR LF included
  std::uint32_t records;        // data records
  std::uint32_t highestOffset;  // offset of the highest stored byte
  std::uint32_t dataBytes;      // stored bytes
  int runs;                     // runs of consecutive stored addresses
  int holePages;                // whole 256-byte pages left empty inside the bank's span
};

// Runs and empty pages are not per-bank figures of the firmware; they are spread here so
// that the totals hold: 296 runs, 2,783 blocks and 2,426 pages over the fourteen banks.
inline constexpr std::array<BankShape, kBankCount> kBankShapes = {{
    {158000, 3705, 0xFFDA, 54911, 22, 8},
    {156644, 3531, 0xFCC7, 55364, 21, 4},
    {119676, 2741, 0xC8A2, 42015, 21, 4},
    {117747, 2712, 0xC59A, 41239, 21, 4},
    {91598, 2119, 0xA196, 32019, 21, 4},
    {153124, 3505, 0xF690, 53773, 21, 4},
    {140287, 3194, 0xE563, 49376, 21, 4},
    {120820, 2799, 0xC965, 42210, 21, 4},
    {93494, 2175, 0xA3DE, 32603, 21, 4},
    {124976, 2847, 0xD04B, 43976, 21, 4},
    {132251, 2982, 0xDB13, 46736, 21, 4},
    {99654, 2259, 0xADC4, 35137, 21, 4},
    {149162, 3361, 0xF27B, 52728, 21, 4},
    {99744, 2261, 0xFFFF, 35169, 22, 85},
}};

inline constexpr std::uint32_t kTotalBytes = 617256;
inline constexpr int kTotalRuns = 296;
inline constexpr int kTotalBlocks = 2783;
inline constexpr int kTotalPages = 2426;

}  // namespace fwgen
