#pragma once
// An image named by its contents: the digest that cvm6-flash prints before it writes an
// image (and for --dry-run) and that the simulator reports for its flash, so that what
// was meant and what a unit holds can be compared by eye or by script.
#include <cstdint>
#include <functional>
#include <string>

#include "image/flash_image.h"

namespace cvm6 {

// Calls `visit` for every stored byte, in rising address order.
void ForEachStored(const CFlashImage& image, const std::function<void(std::uint32_t, std::uint8_t)>& visit);

// SHA-256 over the stored bytes in address order, each fed as its 32-bit little-endian
// address followed by the byte, so that where a byte lies counts as much as its value.
// Lower-case hex.
std::string FlashDigest(const CFlashImage& image);

}  // namespace cvm6
