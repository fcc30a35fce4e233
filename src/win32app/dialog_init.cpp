#include "win32app/dialog_init.h"

namespace cvm6 {
namespace {

constexpr std::uint16_t kListAddString16 = 0x0401;
constexpr std::uint16_t kComboAddString16 = 0x0403;
constexpr WORD kDialogInitType = 240;

}  // namespace

std::optional<std::vector<DialogInitItem>> ParseDialogInit(std::span<const std::uint8_t> data) {
  std::vector<DialogInitItem> items;
  std::size_t at = 0;
  const auto word = [&](std::uint32_t& value) {
    if (data.size() - at < 2) return false;
    value = data[at] | static_cast<std::uint32_t>(data[at + 1]) << 8;
    at += 2;
    return true;
  };
  for (;;) {
    std::uint32_t id = 0, message = 0, low = 0, high = 0;
    if (!word(id)) return std::nullopt;  // no end mark
    if (id == 0) return items;
    if (!word(message) || !word(low) || !word(high)) return std::nullopt;
    const std::uint32_t length = low | high << 16;
    if (length > data.size() - at) return std::nullopt;
    std::string text(reinterpret_cast<const char*>(data.data() + at), length);
    at += length;
    // The text is stored with its NUL; anything after a NUL is not part of it.
    if (const auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    if (message == kComboAddString16) message = CB_ADDSTRING;
    else if (message == kListAddString16) message = LB_ADDSTRING;
    items.push_back({static_cast<int>(id), message, std::move(text)});
  }
}

bool RunDialogInit(HWND dialog, HMODULE instance, int templateId) {
  const HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(templateId), MAKEINTRESOURCEW(kDialogInitType));
  if (!found) return true;
  const void* bytes = LockResource(LoadResource(instance, found));
  if (!bytes) return false;
  const auto items = ParseDialogInit({static_cast<const std::uint8_t*>(bytes), SizeofResource(instance, found)});
  if (!items) return false;
  for (const DialogInitItem& item : *items) {
    // Only the add-string messages: the data must not be able to send a window any
    // message it likes.
    if (item.message != CB_ADDSTRING && item.message != LB_ADDSTRING) continue;
    // The texts are in the system's code page, as the resource compiler wrote them.
    SendDlgItemMessageA(dialog, item.controlId, item.message, 0,
                        reinterpret_cast<LPARAM>(item.text.c_str()));
  }
  return true;
}

}  // namespace cvm6
