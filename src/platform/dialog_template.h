#pragma once
// Dialog templates as data: the window, its controls in template order (which is also
// the tab order) with positions in dialog units, and the items of its drop-down lists.
// A host turns a template into real controls; src/res holds the data, compiled in.
//
// Dialog units: one horizontal unit is a quarter of the dialog font's average character
// width, one vertical unit an eighth of its character height.
#include <cstdint>
#include <span>

namespace cvm6 {

enum class ControlKind { PushButton, GroupBox, Label, ComboBox, ProgressBar, Edit };

// Style flags of a control.
enum ControlStyle : std::uint32_t {
  kStyleNone = 0,
  kStyleDefault = 1u << 0,     // push button: the default button (Enter presses it)
  kStyleTabStop = 1u << 1,     // takes the focus on Tab
  kStyleSorted = 1u << 2,      // drop-down list: items kept in sorted order
  kStyleVScroll = 1u << 3,     // drop-down list: vertical scroll bar
  kStyleBorder = 1u << 4,      // bordered
  kStyleReadOnly = 1u << 5,    // text field: read-only
  kStyleAutoHScroll = 1u << 6, // text field: scrolls horizontally as text goes on
};

// Style flags of the window itself.
enum WindowStyle : std::uint32_t {
  kWindowPopup = 1u << 0,
  kWindowCaption = 1u << 1,
  kWindowSystemMenu = 1u << 2,
  kWindowModalFrame = 1u << 3,
  kWindowVisible = 1u << 4,
  kWindowAppWindow = 1u << 5,  // shown on the task bar
  kWindowMinimizeBox = 1u << 6,
  kWindowMaximizeBox = 1u << 7,
};

constexpr int kNoControlId = -1;  // labels and frames that nothing refers to

struct DialogControl {
  int id;
  ControlKind kind;
  const char* text;  // "" for none
  int x, y, width, height;  // dialog units
  std::uint32_t style;
  bool shown;
};

// Items added to a drop-down list when the dialog is created, in this order.
struct DialogListItems {
  int controlId;
  std::span<const char* const> items;
};

struct DialogTemplate {
  std::uint16_t id;
  const char* title;
  int width, height;  // dialog units
  const char* fontName;
  int fontPointSize;
  std::uint32_t style;
  std::span<const DialogControl> controls;
  std::span<const DialogListItems> lists;
};

// Template `id`, or null when the program has none.
const DialogTemplate* FindDialogTemplate(std::uint16_t id);

}  // namespace cvm6
