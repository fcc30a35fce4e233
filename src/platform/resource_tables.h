#pragma once
// The layout in which src/res hands its compiled-in data to the look-up functions of
// resources.h. Only src/res defines these tables; only resources.cpp reads them.
#include <cstddef>
#include <cstdint>

#include "platform/dialog_template.h"

namespace cvm6::res {

struct StringEntry {
  std::uint32_t id;
  const char* text;
};

struct BinaryEntry {
  std::uint16_t id;
  const std::uint8_t* data;
  std::size_t size;
};

extern const StringEntry kStringTable[];
extern const std::size_t kStringTableSize;
extern const BinaryEntry kBinaryResources[];
extern const std::size_t kBinaryResourceCount;
extern const DialogTemplate kDialogTemplates[];
extern const std::size_t kDialogTemplateCount;

}  // namespace cvm6::res
