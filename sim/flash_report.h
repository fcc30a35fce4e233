#pragma once
// What the summary says about a flash image: its digest, where it first differs from
// the image the updater should have written, and an Intel HEX copy for a closer look.
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "image/flash_image.h"

namespace cvm6 {

// Calls `visit` for every stored byte, in rising address order.
void ForEachStored(const CFlashImage& image, const std::function<void(std::uint32_t, std::uint8_t)>& visit);

// SHA-256 over the stored bytes in address order, each fed as its 32-bit little-endian
// address followed by the byte, so that where a byte lies counts as much as its value.
std::string FlashDigest(const CFlashImage& image);

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
