#include "platform/resource_tables.h"
#include "platform/resources.h"

namespace cvm6 {

// Linux has no resources in its executables: the tables of src/res are compiled in.
std::optional<std::string> LoadResString(std::uint32_t id) {
  for (std::size_t i = 0; i < res::kStringTableSize; ++i)
    if (res::kStringTable[i].id == id) return std::string(res::kStringTable[i].text);
  return std::nullopt;
}

std::optional<std::span<const std::uint8_t>> FindBinaryResource(std::uint16_t id) {
  for (std::size_t i = 0; i < res::kBinaryResourceCount; ++i)
    if (res::kBinaryResources[i].id == id)
      return std::span<const std::uint8_t>(res::kBinaryResources[i].data, res::kBinaryResources[i].size);
  return std::nullopt;
}

}  // namespace cvm6
