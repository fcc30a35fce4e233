#include "icon_file.h"

namespace rcgen {

std::vector<std::uint8_t> IconFile(const std::vector<IconImage>& images) {
  std::vector<std::uint8_t> out;
  const auto word = [&](std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
  };
  const auto dword = [&](std::uint32_t value) {
    word(value & 0xFFFF);
    word(value >> 16);
  };
  constexpr std::uint32_t kHeaderSize = 6, kEntrySize = 16;
  word(0);  // reserved
  word(1);  // an icon, not a cursor
  word(static_cast<std::uint32_t>(images.size()));
  auto offset = static_cast<std::uint32_t>(kHeaderSize + kEntrySize * images.size());
  for (const auto& image : images) {
    const auto side = static_cast<std::uint8_t>(image.size >= 256 ? 0 : image.size);  // 0 stands for 256
    out.push_back(side);
    out.push_back(side);
    out.push_back(0);  // no palette
    out.push_back(0);
    word(1);   // planes
    word(32);  // bits per pixel
    dword(static_cast<std::uint32_t>(image.png.size()));
    dword(offset);
    offset += static_cast<std::uint32_t>(image.png.size());
  }
  for (const auto& image : images) out.insert(out.end(), image.png.begin(), image.png.end());
  return out;
}

}  // namespace rcgen
