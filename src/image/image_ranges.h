#pragma once
// The address ranges an image covers: its runs of consecutive stored addresses, merged
// however many records or files they came from. What a technician checks first when an
// image is not the one expected (a bank missing, a file read at the wrong base).
#include <cstdint>
#include <vector>

namespace cvm6 {

class CFlashImage;

struct AddressRange {
  std::uint32_t first;
  std::uint32_t last;  // inclusive
  bool operator==(const AddressRange&) const = default;
};

// In rising order; empty for an empty image.
std::vector<AddressRange> StoredRanges(const CFlashImage& image);

}  // namespace cvm6
