// The Windows resources that no look-up of ours reads but the system and the window
// framework do: dialog template 102 with its list items, icon 128 and the version of
// cvm6-flash.exe. Each is read back the way Windows stores it and held against the
// tables it was written from.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/dialog_template.h"
#include "platform/resource_tables.h"

namespace cvm6 {
namespace {

std::vector<std::uint8_t> ResourceBytes(const char* type, int id) {
  const HMODULE module = GetModuleHandleA(nullptr);
  const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
  if (!found) return {};
  const auto* bytes = static_cast<const std::uint8_t*>(LockResource(LoadResource(module, found)));
  return std::vector<std::uint8_t>(bytes, bytes + SizeofResource(module, found));
}

// A reader of the little-endian words and UTF-16 texts of a dialog template.
class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<std::uint8_t>& bytes) : m_bytes(bytes) {}
  std::uint8_t Byte() {
    if (m_at >= m_bytes.size()) throw std::out_of_range("resource ends early");
    return m_bytes[m_at++];
  }
  std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
  std::uint32_t Dword() { return Word() | static_cast<std::uint32_t>(Word()) << 16; }
  std::string Text() {  // ASCII texts only, which is all the template holds
    std::string text;
    for (std::uint16_t c = Word(); c != 0; c = Word()) text += static_cast<char>(c);
    return text;
  }
  // A name or a number: 0xFFFF then the number, else a text.
  std::string NameOrNumber() {
    if (m_at + 1 < m_bytes.size() && m_bytes[m_at] == 0xFF && m_bytes[m_at + 1] == 0xFF) {
      Word();
      return "#" + std::to_string(Word());
    }
    return Text();
  }
  void AlignToDword() { m_at = (m_at + 3) & ~std::size_t{3}; }
  void Skip(std::size_t count) { m_at += count; }

 private:
  const std::vector<std::uint8_t>& m_bytes;
  std::size_t m_at = 0;
};

// The window class of a control kind, as a resource compiler stores it: the system's
// classes by number or by name, any other by name. Class names ignore case.
std::vector<std::string> ClassesOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::PushButton:
    case ControlKind::GroupBox: return {"#128", "BUTTON"};
    case ControlKind::Edit: return {"#129", "EDIT"};
    case ControlKind::Label: return {"#130", "STATIC"};
    case ControlKind::ComboBox: return {"#133", "COMBOBOX"};
    case ControlKind::ProgressBar: return {"MSCTLS_PROGRESS32"};
  }
  return {};
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

TEST(Win32Resources, DialogTemplate102HoldsTheTablesWindowAndControls) {
  const DialogTemplate* table = FindDialogTemplate(102);
  ASSERT_NE(table, nullptr);
  const auto bytes = ResourceBytes(MAKEINTRESOURCEA(5) /* RT_DIALOG */, 102);
  ASSERT_FALSE(bytes.empty());
  TemplateReader in(bytes);
  ASSERT_EQ(in.Word(), 1);       // version of the extended template
  ASSERT_EQ(in.Word(), 0xFFFF);  // its signature
  in.Dword();                    // help id
  EXPECT_EQ(in.Dword(), static_cast<DWORD>(WS_EX_APPWINDOW));
  const DWORD style = in.Dword();
  EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE),
            static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE));
  EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0u);
  const std::uint16_t count = in.Word();
  ASSERT_EQ(count, table->controls.size());
  in.Word();
  in.Word();
  EXPECT_EQ(in.Word(), table->width);
  EXPECT_EQ(in.Word(), table->height);
  EXPECT_EQ(in.NameOrNumber(), "");  // no menu
  EXPECT_EQ(in.NameOrNumber(), "");  // the system's dialog class
  EXPECT_EQ(in.Text(), table->title);
  ASSERT_TRUE(style & DS_SETFONT);
  EXPECT_EQ(in.Word(), table->fontPointSize);
  in.Word();  // weight
  in.Word();  // italic, character set
  EXPECT_EQ(in.Text(), table->fontName);

  for (const DialogControl& control : table->controls) {
    SCOPED_TRACE("control " + std::to_string(control.id) + " \"" + control.text + "\"");
    in.AlignToDword();
    in.Dword();  // help id
    in.Dword();  // extended style
    const DWORD controlStyle = in.Dword();
    EXPECT_EQ((controlStyle & WS_VISIBLE) != 0, control.shown);
    EXPECT_TRUE(controlStyle & WS_CHILD);
    EXPECT_EQ((controlStyle & WS_TABSTOP) != 0, (control.style & kStyleTabStop) != 0);
    EXPECT_EQ((controlStyle & WS_BORDER) != 0, (control.style & kStyleBorder) != 0);
    EXPECT_EQ(static_cast<std::int16_t>(in.Word()), control.x);
    EXPECT_EQ(static_cast<std::int16_t>(in.Word()), control.y);
    EXPECT_EQ(static_cast<std::int16_t>(in.Word()), control.width);
    EXPECT_EQ(static_cast<std::int16_t>(in.Word()), control.height);
    EXPECT_EQ(static_cast<std::int32_t>(in.Dword()), control.id == kNoControlId ? -1 : control.id);
    const std::string windowClass = Upper(in.NameOrNumber());
    const auto classes = ClassesOf(control.kind);
    EXPECT_NE(std::find(classes.begin(), classes.end(), windowClass), classes.end()) << windowClass;
    if (control.kind == ControlKind::PushButton) {
      EXPECT_EQ(controlStyle & 0xF, (control.style & kStyleDefault) ? DWORD{BS_DEFPUSHBUTTON} : DWORD{BS_PUSHBUTTON});
    }
    if (control.kind == ControlKind::ComboBox) {
      EXPECT_EQ((controlStyle & CBS_SORT) != 0, (control.style & kStyleSorted) != 0);
    }
    if (control.kind == ControlKind::Edit) {
      EXPECT_TRUE(controlStyle & ES_READONLY);
    }
    EXPECT_EQ(in.NameOrNumber(), control.text);
    in.Skip(in.Word());  // creation data
  }
}

// The list items as the dialog framework adds them when it creates the window: control
// id, the add-string message, the length with the NUL, the text.
TEST(Win32Resources, TheListItemsOfDialog102AreItsInitialisationData) {
  const DialogTemplate* table = FindDialogTemplate(102);
  ASSERT_NE(table, nullptr);
  const auto bytes = ResourceBytes(MAKEINTRESOURCEA(240), 102);
  ASSERT_FALSE(bytes.empty());
  TemplateReader in(bytes);
  for (const auto& list : table->lists) {
    for (const char* item : list.items) {
      SCOPED_TRACE(item);
      EXPECT_EQ(in.Word(), list.controlId);
      EXPECT_EQ(in.Word(), 0x0403);
      const std::uint32_t length = in.Dword();
      ASSERT_EQ(length, std::strlen(item) + 1);
      std::string text;
      for (std::uint32_t i = 0; i < length; ++i) text += static_cast<char>(in.Byte());
      EXPECT_EQ(text, std::string(item, length));
    }
  }
  EXPECT_EQ(in.Word(), 0);
}

TEST(Win32Resources, Icon128HoldsEverySizeOfTheApplicationIcon) {
  const auto group = ResourceBytes(MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */, 128);
  ASSERT_GE(group.size(), 6u);
  TemplateReader in(group);
  in.Word();
  EXPECT_EQ(in.Word(), 1);  // icons
  const std::uint16_t count = in.Word();
  ASSERT_EQ(count, 4);
  std::vector<int> sides;
  for (int i = 0; i < count; ++i) {
    const std::uint16_t widthHeight = in.Word();
    const int side = (widthHeight & 0xFF) == 0 ? 256 : (widthHeight & 0xFF);
    sides.push_back(side);
    in.Skip(10);
    const std::uint16_t iconId = in.Word();
    const auto image = ResourceBytes(MAKEINTRESOURCEA(3) /* RT_ICON */, iconId);
    ASSERT_GE(image.size(), 40u) << "icon image " << iconId;
    // The small sizes as 32-bit bitmaps with alpha, which every Windows draws; the
    // largest as PNG.
    if (side < 256) {
      TemplateReader header(image);
      EXPECT_EQ(header.Dword(), 40u) << side << " px: a BITMAPINFOHEADER";
      EXPECT_EQ(header.Dword(), static_cast<std::uint32_t>(side));
      EXPECT_EQ(header.Dword(), static_cast<std::uint32_t>(2 * side)) << "image and mask";
      header.Word();
      EXPECT_EQ(header.Word(), 32) << side << " px: bits per pixel";
    } else {
      EXPECT_EQ(std::memcmp(image.data(), "\x89PNG", 4), 0);
    }
  }
  EXPECT_EQ(sides, (std::vector<int>{16, 32, 48, 256}));
}

std::string VersionText(const std::vector<char>& info, const char* name) {
  char* text = nullptr;
  UINT length = 0;
  const std::string key = std::string("\\StringFileInfo\\040904b0\\") + name;
  if (!VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&text), &length) || !text) return "";
  return std::string(text);
}

TEST(Win32Resources, CvmFlashNamesItselfAndItsVersion) {
  const char* path = CVM6_FLASH_EXE;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  ASSERT_GT(size, 0u) << path;
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, info.data()));
  EXPECT_EQ(VersionText(info, "ProductName"), "cvm6-updater");
  EXPECT_EQ(VersionText(info, "InternalName"), "cvm6-flash");
  EXPECT_EQ(VersionText(info, "OriginalFilename"), "cvm6-flash.exe");
  EXPECT_EQ(VersionText(info, "FileVersion"), CVM6_VERSION);
  EXPECT_EQ(VersionText(info, "ProductVersion"), CVM6_VERSION);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

}  // namespace
}  // namespace cvm6
