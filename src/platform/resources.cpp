#include "platform/resources.h"

#include "platform/resource_tables.h"

namespace cvm6 {

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

const DialogTemplate* FindDialogTemplate(std::uint16_t id) {
  for (std::size_t i = 0; i < res::kDialogTemplateCount; ++i)
    if (res::kDialogTemplates[i].id == id) return &res::kDialogTemplates[i];
  return nullptr;
}

}  // namespace cvm6
