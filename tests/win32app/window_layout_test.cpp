// The running dialog as Windows built it from resource 102: every control at the
// rectangle its dialog units give (converted by Windows, MapDialogRect), with its class,
// text, style and tab order; the window's own caption, size, style and icons.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "platform/dialog_template.h"
#include "update/control_ids.h"
#include "win32app/wide_text.h"
#include "window_fixture.h"

namespace cvm6::test {
namespace {

const wchar_t* ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::PushButton:
    case ControlKind::GroupBox: return L"Button";
    case ControlKind::Label: return L"Static";
    case ControlKind::ComboBox: return L"ComboBox";
    case ControlKind::ProgressBar: return L"msctls_progress32";
    case ControlKind::Edit: return L"Edit";
  }
  return L"";
}

std::wstring ClassName(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

// The dialog manager converts a control's position and its size each on its own, so
// the four are given to MapDialogRect as they stand, not as corners.
RECT DialogUnits(HWND dialog, int x, int y, int width, int height) {
  RECT units{x, y, width, height};
  MapDialogRect(dialog, &units);
  return {units.left, units.top, units.left + units.right, units.top + units.bottom};
}

// Bordered: WS_BORDER as the template has it, or the sunken edge that the dialog manager
// of a 3-D dialog gives a bordered field or bar in its place.
bool Bordered(HWND control) {
  return (GetWindowLongW(control, GWL_STYLE) & WS_BORDER) ||
         (GetWindowLongW(control, GWL_EXSTYLE) & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE));
}

RECT InDialog(HWND dialog, HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// The texts after the window's initialisation, which writes its variables over the
// template's ("Status" becomes the empty status line).
const std::map<int, std::wstring> kTextsAfterInit = {
    {IDC_PORT_LIST, L"COM1"}, {IDC_STATUS, L""}, {IDC_ONLINE_TEXT, L"Offline"},
    {IDC_DEVICE_LIST, L"Not Selected"}, {IDC_DEVICE_NAME, L"No Device"}};

TEST_F(Win32WindowTest, EveryControlSitsAtItsTemplateRectangleWithItsTextAndStyle) {
  const DialogTemplate* t = FindDialogTemplate(IDD_UPDATER);
  ASSERT_NE(t, nullptr);
  const INT_PTR result = Run([&] {
    const HWND dialog = Dialog();
    EXPECT_EQ(Text(dialog), Widen(t->title));
    RECT client;
    GetClientRect(dialog, &client);
    const RECT size = DialogUnits(dialog, 0, 0, t->width, t->height);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);
    const LONG style = GetWindowLongW(dialog, GWL_STYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
              static_cast<LONG>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME));
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    EXPECT_TRUE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_EQ(LOWORD(SendMessageW(dialog, DM_GETDEFID, 0, 0)), IDOK) << "Update is the default button";

    // The controls in template order, which is the order of the dialog's children.
    std::size_t index = 0;
    for (HWND control = GetWindow(dialog, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT), ++index) {
      ASSERT_LT(index, t->controls.size()) << "more controls than the template has";
      const DialogControl& c = t->controls[index];
      SCOPED_TRACE("control " + std::to_string(index) + " (" + std::to_string(c.id) + ")");
      EXPECT_EQ(static_cast<WORD>(GetDlgCtrlID(control)), static_cast<WORD>(c.id));
      EXPECT_EQ(ClassName(control), ClassOf(c.kind));
      const auto text = kTextsAfterInit.find(c.id);
      EXPECT_EQ(Text(control), text != kTextsAfterInit.end() ? text->second : Widen(c.text));

      const RECT expected = DialogUnits(dialog, c.x, c.y, c.width, c.height);
      const RECT actual = InDialog(dialog, control);
      EXPECT_EQ(actual.left, expected.left);
      EXPECT_EQ(actual.top, expected.top);
      EXPECT_EQ(actual.right, expected.right);
      if (c.kind == ControlKind::ComboBox) {
        // A drop-down list's template height is that of its open list, which holds
        // whole items only; closed, it is one line high.
        RECT dropped;
        SendMessageW(control, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&dropped), 2);
        EXPECT_EQ(dropped.top, expected.top);
        EXPECT_LE(dropped.bottom, expected.bottom);
        EXPECT_GT(dropped.bottom, actual.bottom);
      } else {
        EXPECT_EQ(actual.bottom, expected.bottom);
      }

      const LONG s = GetWindowLongW(control, GWL_STYLE);
      EXPECT_EQ((s & WS_VISIBLE) != 0, c.shown);
      EXPECT_EQ((s & WS_TABSTOP) != 0, (c.style & kStyleTabStop) != 0);
      if (c.kind != ControlKind::ComboBox) {
        EXPECT_EQ((s & WS_VSCROLL) != 0, (c.style & kStyleVScroll) != 0);
      }
      switch (c.kind) {
        case ControlKind::PushButton:
          EXPECT_EQ(s & BS_TYPEMASK, (c.style & kStyleDefault) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
          break;
        case ControlKind::GroupBox:
          EXPECT_EQ(s & BS_TYPEMASK, BS_GROUPBOX);
          break;
        case ControlKind::ComboBox:
          EXPECT_EQ(s & 3, CBS_DROPDOWNLIST);
          EXPECT_EQ((s & CBS_SORT) != 0, (c.style & kStyleSorted) != 0);
          // Its scroll bar goes to the list that drops down, which shows it only when the
          // items overflow: the resource test holds the template's WS_VSCROLL.
          break;
        case ControlKind::Edit:
          EXPECT_EQ((s & ES_READONLY) != 0, (c.style & kStyleReadOnly) != 0);
          EXPECT_EQ((s & ES_AUTOHSCROLL) != 0, (c.style & kStyleAutoHScroll) != 0);
          EXPECT_EQ(Bordered(control), (c.style & kStyleBorder) != 0);
          break;
        case ControlKind::ProgressBar:
          // In the visual style the bar draws its own frame, whatever the border style
          // was: the resource test holds the template's WS_BORDER.
          break;
        case ControlKind::Label:
          EXPECT_EQ(s & SS_TYPEMASK, SS_LEFT);
          break;
      }
    }
    EXPECT_EQ(index, t->controls.size()) << "fewer controls than the template has";
    Click(IDC_CLOSE);
  });
  EXPECT_EQ(result, IDCANCEL);
}

TEST_F(Win32WindowTest, OpensInItsStartStateWithItsListsIconsAndTabOrder) {
  const INT_PTR result = Run([&] {
    const HWND dialog = Dialog();
    EXPECT_FALSE(IsWindowEnabled(Control(IDC_UPDATE)));
    EXPECT_TRUE(IsWindowEnabled(Control(IDC_CLOSE)));
    EXPECT_TRUE(IsWindowEnabled(Control(IDC_CONNECT)));
    EXPECT_TRUE(IsWindowEnabled(Control(IDC_PORT_LIST)));
    EXPECT_EQ(SendMessageW(Control(IDC_BLOCK_PROGRESS), PBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(SendMessageW(Control(IDC_TOTAL_PROGRESS), PBM_GETRANGE, FALSE, 0), 159);
    EXPECT_EQ(SendMessageW(Control(IDC_TOTAL_PROGRESS), PBM_GETRANGE, TRUE, 0), 0);

    // The template's items, then the ports the serial drivers registered.
    CWin32DialogHost& host = *window->Host();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(host.GetListItemText(IDC_PORT_LIST, i), "COM" + std::to_string(i + 1));
    EXPECT_EQ(host.GetListSelection(IDC_PORT_LIST), 0);
    ASSERT_EQ(SendMessageW(Control(IDC_DEVICE_LIST), CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(host.GetListItemText(IDC_DEVICE_LIST, 0), "Not Selected");
    EXPECT_EQ(host.GetListItemText(IDC_DEVICE_LIST, 1), "Corvane M4/M4S");
    EXPECT_EQ(host.GetListItemText(IDC_DEVICE_LIST, 2), "");

    // Icon 128, large and small; the same icon is what a minimized window is dragged by.
    const auto big = reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0));
    EXPECT_NE(big, nullptr);
    EXPECT_NE(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_EQ(big, window->Icon());
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageW(dialog, WM_QUERYDRAGICON, 0, 0)), window->Icon());
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(window->Icon(), &info));
    BITMAP bitmap{};
    GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    EXPECT_EQ(bitmap.bmWidth, GetSystemMetrics(SM_CXICON)) << "the icon's own image at the system's size";
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);

    // The focus starts on the first control that can take it (Update is disabled) and
    // Tab goes on in template order, past what is hidden or disabled.
    const int order[] = {IDC_CLOSE, IDC_PORT_LIST, IDC_ONLINE_TEXT, IDC_CONNECT, IDC_DEVICE_NAME, IDC_CLOSE};
    EXPECT_EQ(GetFocus(), Control(order[0]));
    for (std::size_t i = 1; i < std::size(order); ++i) {
      PressKey(VK_TAB);
      EXPECT_EQ(GetFocus(), Control(order[i])) << "after tab " << i;
    }
    // Escape is the Close command.
    PressKey(VK_ESCAPE);
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_TRUE(boxes.empty());
  EXPECT_FALSE(window->Dialog().HasPort());
  EXPECT_FALSE(window->Dialog().Link().IsStarted());
}

}  // namespace
}  // namespace cvm6::test

namespace cvm6::test {
namespace {

// Every text a control of the window shows, beside its template text: the states'
// online and device texts, the list items, the status lines of the procedure.
const std::multimap<int, std::wstring> kTextsShown = {
    {IDC_ONLINE_TEXT, L"Offline"}, {IDC_ONLINE_TEXT, L"Online"}, {IDC_DEVICE_NAME, L"No Device"},
    {IDC_DEVICE_NAME, L"Corvane M6"}, {IDC_PORT_LIST, L"COM1"}, {IDC_PORT_LIST, L"COM4"},
    {IDC_DEVICE_LIST, L"Not Selected"}, {IDC_DEVICE_LIST, L"Corvane M4/M4S"},
    {IDC_STATUS, L"Loading program files"}, {IDC_STATUS, L"Erasing Digital Board Memory."},
    {IDC_STATUS, L"Updating Digital Board."}, {IDC_STATUS, L"Update Complete"}};

// Where a control draws its text, in its client area.
RECT TextRoom(HWND control, ControlKind kind, UINT dpi) {
  RECT room;
  GetClientRect(control, &room);
  switch (kind) {
    case ControlKind::Edit:
      SendMessageW(control, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&room));
      break;
    case ControlKind::ComboBox: {
      COMBOBOXINFO info{};
      info.cbSize = sizeof info;
      GetComboBoxInfo(control, &info);
      room = info.rcItem;
      break;
    }
    case ControlKind::PushButton:
      // The button's frame and its focus rectangle inside it.
      InflateRect(&room, -2 * GetSystemMetricsForDpi(SM_CXEDGE, dpi), -2 * GetSystemMetricsForDpi(SM_CYEDGE, dpi));
      break;
    default:
      break;
  }
  return room;
}

// At the screen's scale (the tests run at 96, 144 and 192 dpi) the window's font is the
// template's face and size where that face has the size, else a TrueType face of the
// template's size; and every text a control shows fits inside it, as GDI measures it.
TEST_F(Win32WindowTest, EveryTextFitsItsControlInAFontOfTheTemplatesSize) {
  const DialogTemplate* t = FindDialogTemplate(IDD_UPDATER);
  ASSERT_NE(t, nullptr);
  Run([&] {
    const UINT dpi = GetDpiForWindow(Dialog());
    if (const char* asked = std::getenv("CVM6_WINE_DPI")) {
      EXPECT_EQ(dpi, std::strtoul(asked, nullptr, 10)) << "the prefix's scale";
    }
    const auto font = reinterpret_cast<HFONT>(SendMessageW(Dialog(), WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    const HDC dc = GetDC(Dialog());
    const HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    const int pixels = MulDiv(t->fontPointSize, static_cast<int>(dpi), 72);
    SCOPED_TRACE(Narrow(face) + " at " + std::to_string(dpi) + " dpi");
    if (metrics.tmPitchAndFamily & TMPF_TRUETYPE) {
      EXPECT_EQ(metrics.tmHeight - metrics.tmInternalLeading, pixels) << "a TrueType face of the template's size";
    } else {
      EXPECT_EQ(Narrow(face), t->fontName);
      EXPECT_EQ(metrics.tmHeight - metrics.tmInternalLeading, pixels) << "a size the raster face has";
    }
    std::printf("[ font     ] %s, %ld px (%ld with leading), at %u dpi\n", Narrow(face).c_str(),
                metrics.tmHeight - metrics.tmInternalLeading, metrics.tmHeight, dpi);

    // The controls are the dialog's children in template order (the test above).
    HWND control = GetWindow(Dialog(), GW_CHILD);
    for (std::size_t i = 0; i < t->controls.size() && control; ++i, control = GetWindow(control, GW_HWNDNEXT)) {
      const DialogControl& c = t->controls[i];
      std::vector<std::wstring> texts;
      if (*c.text && c.id != IDC_STATUS) texts.push_back(Widen(c.text));
      for (auto [at, end] = kTextsShown.equal_range(c.id); at != end; ++at) texts.push_back(at->second);
      const RECT room = TextRoom(control, c.kind, dpi);
      for (const std::wstring& text : texts) {
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        EXPECT_LE(size.cx, room.right - room.left) << "\"" << Narrow(text) << "\" is too wide for control " << c.id;
        EXPECT_LE(size.cy, room.bottom - room.top) << "\"" << Narrow(text) << "\" is too high for control " << c.id;
      }
    }
    SelectObject(dc, old);
    ReleaseDC(Dialog(), dc);
    Click(IDC_CLOSE);
  });
}

}  // namespace
}  // namespace cvm6::test
