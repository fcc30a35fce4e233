#include "image/image_digest.h"

#include "image/sha256.h"

namespace cvm6 {

void ForEachStored(const CFlashImage& image, const std::function<void(std::uint32_t, std::uint8_t)>& visit) {
  if (image.GetCount() == 0) return;
  std::uint32_t address = image.IsSet(0) ? 0 : image.NextSetAddress(0);
  for (;;) {
    visit(address, image.GetByte(address));
    const std::uint32_t next = image.NextSetAddress(address);
    if (next <= address) return;  // the search wrapped: nothing stored above
    address = next;
  }
}

std::string FlashDigest(const CFlashImage& image) {
  CSha256 sha;
  ForEachStored(image, [&](std::uint32_t address, std::uint8_t value) {
    const std::uint8_t pair[5] = {static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8),
                                  static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 24),
                                  value};
    sha.Update(pair, sizeof pair);
  });
  return sha.FinishHex();
}

}  // namespace cvm6
