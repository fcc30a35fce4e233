#include "rc_script.h"

#include <cstdio>

namespace rcgen {
namespace {

using cvm6::ControlKind;

std::string Styles(std::initializer_list<std::pair<bool, const char*>> flags) {
  std::string out;
  for (const auto& [on, name] : flags)
    if (on) out += (out.empty() ? "" : " | ") + std::string(name);
  return out;
}

// The window class and the class-specific style of a control kind.
std::pair<const char*, std::string> ClassOf(const cvm6::DialogControl& control) {
  const auto has = [&](std::uint32_t flag) { return (control.style & flag) != 0; };
  switch (control.kind) {
    case ControlKind::PushButton:
      return {"Button", has(cvm6::kStyleDefault) ? "BS_DEFPUSHBUTTON" : "BS_PUSHBUTTON"};
    case ControlKind::GroupBox: return {"Button", "BS_GROUPBOX"};
    case ControlKind::Label: return {"Static", "SS_LEFT"};
    case ControlKind::ComboBox:
      return {"ComboBox", Styles({{true, "CBS_DROPDOWNLIST"}, {has(cvm6::kStyleSorted), "CBS_SORT"}})};
    case ControlKind::ProgressBar: return {"msctls_progress32", ""};
    case ControlKind::Edit:
      return {"Edit", Styles({{true, "ES_LEFT"},
                              {has(cvm6::kStyleReadOnly), "ES_READONLY"},
                              {has(cvm6::kStyleAutoHScroll), "ES_AUTOHSCROLL"}})};
  }
  return {"Static", ""};
}

}  // namespace

std::string QuoteRc(const std::string& text) {
  std::string out = "\"";
  for (const unsigned char c : text) {
    if (c == '"') {
      out += "\"\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\%03o", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string StringTableRc(const cvm6::res::StringEntry* entries, std::size_t count) {
  std::string out = "STRINGTABLE\nBEGIN\n";
  for (std::size_t i = 0; i < count; ++i)
    out += "  " + std::to_string(entries[i].id) + ", " + QuoteRc(entries[i].text) + "\n";
  return out + "END\n";
}

std::string DialogRc(const cvm6::DialogTemplate& dialog, const std::string& dlginitFile) {
  const auto window = [&](std::uint32_t flag) { return (dialog.style & flag) != 0; };
  std::string out = std::to_string(dialog.id) + " DIALOGEX 0, 0, " + std::to_string(dialog.width) + ", " +
                    std::to_string(dialog.height) + "\n";
  out += "STYLE " + Styles({{window(cvm6::kWindowModalFrame), "DS_MODALFRAME"},
                            {window(cvm6::kWindowPopup), "WS_POPUP"},
                            {window(cvm6::kWindowCaption), "WS_CAPTION"},
                            {window(cvm6::kWindowSystemMenu), "WS_SYSMENU"},
                            {window(cvm6::kWindowMinimizeBox), "WS_MINIMIZEBOX"},
                            {window(cvm6::kWindowMaximizeBox), "WS_MAXIMIZEBOX"},
                            {window(cvm6::kWindowVisible), "WS_VISIBLE"}}) +
         "\n";
  if (window(cvm6::kWindowAppWindow)) out += "EXSTYLE WS_EX_APPWINDOW\n";
  out += "CAPTION " + QuoteRc(dialog.title) + "\n";
  out += "FONT " + std::to_string(dialog.fontPointSize) + ", " + QuoteRc(dialog.fontName) + "\n";
  out += "BEGIN\n";
  for (const auto& control : dialog.controls) {
    const auto [windowClass, classStyle] = ClassOf(control);
    // Spelled out whole, visibility included: the script compiler's defaults for a
    // CONTROL statement play no part.
    std::string style = Styles({{true, "WS_CHILD"},
                                {control.shown, "WS_VISIBLE"},
                                {(control.style & cvm6::kStyleTabStop) != 0, "WS_TABSTOP"},
                                {(control.style & cvm6::kStyleBorder) != 0, "WS_BORDER"},
                                {(control.style & cvm6::kStyleVScroll) != 0, "WS_VSCROLL"},
                                {!classStyle.empty(), classStyle.c_str()}});
    if (!control.shown) style += " | NOT WS_VISIBLE";
    out += "  CONTROL " + QuoteRc(control.text) + ", " + std::to_string(control.id) + ", " + QuoteRc(windowClass) +
           ", " + style + ", " + std::to_string(control.x) + ", " + std::to_string(control.y) + ", " +
           std::to_string(control.width) + ", " + std::to_string(control.height) + "\n";
  }
  out += "END\n";
  if (!dialog.lists.empty()) out += std::to_string(dialog.id) + " 240 " + QuoteRc(dlginitFile) + "\n";
  return out;
}

std::vector<std::uint8_t> DialogInitData(const cvm6::DialogTemplate& dialog) {
  std::vector<std::uint8_t> out;
  const auto word = [&](std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
  };
  constexpr std::uint16_t kAddString = 0x0403;
  for (const auto& list : dialog.lists) {
    for (const char* item : list.items) {
      const std::string text(item);
      const auto length = static_cast<std::uint32_t>(text.size() + 1);
      word(static_cast<std::uint16_t>(list.controlId));
      word(kAddString);
      word(length & 0xFFFF);
      word(length >> 16);
      out.insert(out.end(), text.begin(), text.end());
      out.push_back(0);
    }
  }
  word(0);
  return out;
}

}  // namespace rcgen
