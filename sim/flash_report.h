#pragma once
// What the summary says about a flash image: its digest, where it first differs from
// the image the updater should have written, and an Intel HEX copy for a closer look.
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "image/flash_image.h"
#include "image/image_digest.h"  // FlashDigest and ForEachStored, shared with cvm6-flash

namespace cvm6 {

// The lowest address at which the two differ (stored in one only, or stored in both with
// different values); nothing when they hold the same bytes at the same addresses.
std::optional<std::uint32_t> FirstDifference(const CFlashImage& actual, const CFlashImage& expected);

// The firmware image compiled into the program (resources 160-173, one 64 KiB bank each).
bool LoadEmbeddedFirmware(CFlashImage& image);

// Intel HEX: data records of up to 16 bytes of one run, extended linear address records
// where the upper 16 address bits change (none while they are 0, so a dump of the first
// 64 KiB reads back with the updater's own reader), and the end-of-file record.
void WriteIntelHex(const CFlashImage& image, std::ostream& out);

}  // namespace cvm6
