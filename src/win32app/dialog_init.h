#pragma once
// The dialog-initialisation data of a dialog resource (resource type 240, the dialog's
// id): the items of its lists, added when the dialog is created. Windows' dialog manager
// does not read this data; the dialog framework did, right after the controls were made,
// and so does the window here.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "win32app/windows_api.h"

namespace cvm6 {

struct DialogInitItem {
  int controlId;
  std::uint32_t message;  // as today's Windows knows it (CB_ADDSTRING, LB_ADDSTRING)
  std::string text;
};

// The items of `data`, in order. The data carries the add-string messages of 16-bit
// Windows (0x0401 list box, 0x0403 drop-down list), which become today's. Nothing when
// the data is damaged (an item longer than what is left, no end mark): a window with a
// damaged resource must not read past it.
std::optional<std::vector<DialogInitItem>> ParseDialogInit(std::span<const std::uint8_t> data);

// Finds the data of dialog `templateId` in `module` and sends its items to the controls
// of `dialog`. False when the data is there but damaged; a dialog without data has
// nothing to add and is fine.
bool RunDialogInit(HWND dialog, HMODULE module, int templateId);

}  // namespace cvm6
