#include "image/image_ranges.h"

#include "image/image_digest.h"

namespace cvm6 {

std::vector<AddressRange> StoredRanges(const CFlashImage& image) {
  std::vector<AddressRange> ranges;
  ForEachStored(image, [&](std::uint32_t address, std::uint8_t) {
    if (!ranges.empty() && ranges.back().last + 1 == address && address != 0)
      ranges.back().last = address;
    else
      ranges.push_back({address, address});
  });
  return ranges;
}

}  // namespace cvm6
