#pragma once
// An icon file (.ico) holding PNG images as they are, which every Windows since Vista
// reads; the resource compiler splits it into the icon group of icon resource 128.
#include <cstdint>
#include <string>
#include <vector>

namespace rcgen {

struct IconImage {
  int size;                         // width and height in pixels, 1..256
  std::vector<std::uint8_t> png;    // the PNG file's bytes
};

std::vector<std::uint8_t> IconFile(const std::vector<IconImage>& images);

}  // namespace rcgen
