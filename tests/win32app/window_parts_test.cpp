// The parts of the window that need no window: the list items and the font of the
// dialog resource, read from bytes that may be damaged, the ports added after the template's, and what
// the manifest asks of Windows.
#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "update/control_ids.h"
#include "win32app/dialog_font.h"
#include "win32app/dialog_init.h"
#include "win32app/port_choices.h"
#include "win32app/wide_text.h"

#include <cwctype>

namespace cvm6::test {
namespace {

void Word(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Item(std::vector<std::uint8_t>& out, int id, std::uint16_t message, const std::string& text, bool nul = true) {
  Word(out, static_cast<std::uint32_t>(id));
  Word(out, message);
  const std::uint32_t length = static_cast<std::uint32_t>(text.size() + (nul ? 1 : 0));
  Word(out, length & 0xFFFF);
  Word(out, length >> 16);
  out.insert(out.end(), text.begin(), text.end());
  if (nul) out.push_back(0);
}

TEST(DialogInitData, ItemsComeInOrderWithTodaysMessages) {
  std::vector<std::uint8_t> data;
  Item(data, 1000, 0x0403, "COM1");
  Item(data, 1000, 0x0403, "COM2");
  Item(data, 1003, 0x0401, "Not Selected");
  Item(data, 1003, 0x0403, "no NUL", false);
  Word(data, 0);
  const auto items = ParseDialogInit(data);
  ASSERT_TRUE(items);
  ASSERT_EQ(items->size(), 4u);
  EXPECT_EQ((*items)[0].controlId, 1000);
  EXPECT_EQ((*items)[0].message, static_cast<std::uint32_t>(CB_ADDSTRING));
  EXPECT_EQ((*items)[1].text, "COM2");
  EXPECT_EQ((*items)[2].message, static_cast<std::uint32_t>(LB_ADDSTRING));
  EXPECT_EQ((*items)[2].text, "Not Selected");
  EXPECT_EQ((*items)[3].text, "no NUL");
  EXPECT_TRUE(ParseDialogInit(std::vector<std::uint8_t>{0, 0})->empty());
}

TEST(DialogInitData, DamagedDataIsRefusedWithoutReadingPastIt) {
  std::vector<std::uint8_t> whole;
  Item(whole, 1000, 0x0403, "COM1");
  Word(whole, 0);
  // Every cut short of the end mark is damaged: no item may come out of it.
  for (std::size_t size = 0; size + 2 < whole.size(); ++size)
    EXPECT_FALSE(ParseDialogInit(std::span(whole.data(), size))) << size << " bytes";
  // A length beyond the data.
  std::vector<std::uint8_t> tooLong;
  Word(tooLong, 1000);
  Word(tooLong, 0x0403);
  Word(tooLong, 0xFFFF);
  Word(tooLong, 0x7FFF);
  tooLong.insert(tooLong.end(), {'C', 'O', 'M', 0, 0, 0});
  EXPECT_FALSE(ParseDialogInit(tooLong));
}

TEST(PortChoices, OtherRegisteredPortsFollowEachOnceWhateverTheirCase) {
  const std::vector<std::string> listed = {"COM1", "COM2", "COM3", "COM4"};
  const std::vector<SerialPortInfo> found = {
      {"COM1", "\\Device\\Serial0"}, {"COM5", "\\Device\\VCP0"},  {"com3", "\\Device\\Serial2"},
      {"", "\\Device\\Broken"},      {"COM12", "\\Device\\BthModem0"}, {"Com5", "\\Device\\VCP1"}};
  std::vector<std::string> names;
  for (const PortChoice& choice : PortsToAdd(listed, found)) names.push_back(choice.name);
  EXPECT_EQ(names, (std::vector<std::string>{"COM5", "COM12"}));
  EXPECT_TRUE(PortsToAdd(listed, {}).empty());
}

// The font of template 102 as the resource compiler wrote it, and put in another face
// (the window's tests at 144 and 192 dpi run the dialog made from that); a template cut
// short before its face has ended has no font, and nothing is read past its end.
TEST(DialogFont, ReadsAndReplacesTheTemplatesFaceAndRefusesACutTemplate) {
  const HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(IDD_UPDATER), MAKEINTRESOURCEW(5));
  ASSERT_NE(found, nullptr);
  const std::span<const std::uint8_t> dialog(static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, found))),
                                             SizeofResource(nullptr, found));
  const auto font = ReadDialogFont(dialog);
  ASSERT_TRUE(font);
  EXPECT_EQ(Narrow(font->face), "Small Fonts");
  EXPECT_EQ(font->points, 7);
  const auto other = WithFontFace(dialog, L"Microsoft Sans Serif");
  ASSERT_TRUE(other);
  EXPECT_EQ(Narrow(ReadDialogFont(*other).value_or(DialogFont{}).face), "Microsoft Sans Serif");
  for (std::size_t length = 0; length < font->faceEnd; ++length) EXPECT_FALSE(ReadDialogFont(dialog.first(length)));
}

// What the list shows of a port: its name, then the adapter's description, which may
// not garble the list with control characters; a port without one shows its name.
TEST(PortChoices, ShowTheNameThenTheAdaptersDescription) {
  const auto added = PortsToAdd({}, {{"COM7", "USB Serial Port"}, {"COM8", ""}, {"COM9", "bad\r\ntext"},
                                     {"COM10", "USB Serial Port", 0x0403, 0x6001, "A50285BI"}});
  ASSERT_EQ(added.size(), 4u);
  EXPECT_EQ(added[3].text, "COM10 - USB Serial Port (A50285BI)");  // two of a kind differ by it
  EXPECT_EQ(added[0].text, "COM7 - USB Serial Port");
  EXPECT_EQ(added[0].name, "COM7");
  EXPECT_EQ(added[1].text, "COM8");
  EXPECT_EQ(added[2].text, "COM9 - bad  text");
  EXPECT_TRUE(SamePort("com7", "COM7"));
  EXPECT_FALSE(SamePort("COM7", "COM77"));
}

}  // namespace
}  // namespace cvm6::test

namespace cvm6::test {
namespace {

// The program's manifest (the test program carries the same one): version 6 of the
// common controls, and the dialog told the monitor's own scale.
TEST(Win32Manifest, GivesCommonControls6AndPerMonitorDpiAwareness) {
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  ASSERT_TRUE(InitCommonControlsEx(&controls));
  const HMODULE commonControls = GetModuleHandleW(L"comctl32.dll");
  ASSERT_NE(commonControls, nullptr);
  // Without the manifest the common controls come from the system folder; with it, from
  // the side-by-side assembly of version 6 (Wine's DllGetVersion says 5.81 for either).
  wchar_t path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(commonControls, path, MAX_PATH), 0u);
  std::wstring folded = path;
  for (wchar_t& c : folded) c = static_cast<wchar_t>(std::towlower(c));
  EXPECT_NE(folded.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0."), std::wstring::npos)
      << "comctl32 loaded from " << Narrow(path);
  EXPECT_EQ(GetAwarenessFromDpiAwarenessContext(GetThreadDpiAwarenessContext()), DPI_AWARENESS_PER_MONITOR_AWARE);
}

}  // namespace
}  // namespace cvm6::test
