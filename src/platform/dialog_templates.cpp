#include "platform/dialog_template.h"
#include "platform/resource_tables.h"

namespace cvm6 {

// The same data on every platform: the hosts build their windows from it.
const DialogTemplate* FindDialogTemplate(std::uint16_t id) {
  for (std::size_t i = 0; i < res::kDialogTemplateCount; ++i)
    if (res::kDialogTemplates[i].id == id) return &res::kDialogTemplates[i];
  return nullptr;
}

}  // namespace cvm6
