// The Intel HEX reader on arbitrary text: it must neither crash nor read out of bounds,
// and the image it leaves must agree with itself (the stored-byte count equals the
// bytes a walk over NextSetAddress finds).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "image/byte_stream.h"
#include "image/flash_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte picks a base, so that records land near the top of the address
  // space too (the walk below must then wrap correctly).
  std::uint32_t base = 0;
  if (size > 0) {
    base = static_cast<std::uint32_t>(data[0] & 3) << 30;
    if ((data[0] & 4) != 0) base = 0xFFFF0000u;
    ++data, --size;
  }
  cvm6::CFlashImage image;
  cvm6::CMemoryStream stream(std::span<const std::uint8_t>(data, size));
  image.ReadHex(stream, base);

  if (image.GetCount() == 0) return 0;
  const std::uint32_t first = image.NextSetAddress(0xFFFFFFFFu);
  if (!image.IsSet(first)) std::abort();
  std::uint32_t found = 1;
  for (std::uint32_t at = first;;) {
    const std::uint32_t next = image.NextSetAddress(at);
    if (next <= at) break;  // wrapped: every stored byte was found
    if (!image.IsSet(next)) std::abort();
    at = next;
    if (++found > image.GetCount()) std::abort();
  }
  if (found != image.GetCount()) std::abort();
  return 0;
}
