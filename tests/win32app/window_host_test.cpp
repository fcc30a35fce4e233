// The window operations of the procedure on the real controls of the running dialog:
// message boxes, the nested wait cursor, the pump, progress, lists, enabling, and the
// close refusal while a command runs.
#include "update/control_ids.h"
#include "window_fixture.h"

namespace cvm6::test {
namespace {

std::wstring ProgramName() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name = path;
  name = name.substr(name.find_last_of(L"\\/") + 1);
  return name.substr(0, name.rfind(L'.'));
}

TEST_F(Win32WindowTest, MessageBoxesHaveTheProgramNameAsCaptionAndTheAskedIcon) {
  answer = [](const MessageBoxRequest& request) { return (request.flags & MB_TYPEMASK) == MB_YESNO ? IDCANCEL : IDOK; };
  Run([&] {
    CWin32DialogHost& host = *window->Host();
    EXPECT_EQ(host.MessageBox("stop", MsgIcon::Stop, MsgButtons::Ok), IDOK);
    EXPECT_EQ(host.MessageBox("plain", MsgIcon::None, MsgButtons::Ok), IDOK);
    EXPECT_EQ(host.MessageBox("noisy", MsgIcon::Warning, MsgButtons::Ok), IDOK);
    // A question closed without an answer is a no.
    EXPECT_EQ(host.MessageBox("erase?", MsgIcon::Question, MsgButtons::YesNo), IDNO);
    answer = [](const MessageBoxRequest&) { return IDYES; };
    EXPECT_EQ(host.MessageBox("erase?", MsgIcon::Question, MsgButtons::YesNo), IDYES);
    Click(IDC_CLOSE);
  });
  ASSERT_EQ(boxes.size(), 5u);
  EXPECT_EQ(ProgramName(), L"cvm6_win32app_tests");
  for (const auto& box : boxes) EXPECT_EQ(box.caption, ProgramName());
  EXPECT_EQ(boxes[0].text, L"stop");
  EXPECT_EQ(boxes[0].flags & (MB_TYPEMASK | MB_ICONMASK), static_cast<UINT>(MB_OK | MB_ICONSTOP));
  EXPECT_EQ(boxes[1].flags & (MB_TYPEMASK | MB_ICONMASK), static_cast<UINT>(MB_OK));
  EXPECT_EQ(boxes[2].flags & (MB_TYPEMASK | MB_ICONMASK), static_cast<UINT>(MB_OK | MB_ICONWARNING));
  // The one question asks before erasing a unit: No is its default button.
  EXPECT_EQ(boxes[3].flags & (MB_TYPEMASK | MB_DEFMASK), static_cast<UINT>(MB_YESNO | MB_DEFBUTTON2));
}

TEST_F(Win32WindowTest, TheWaitCursorNestsAndGivesWayToAMessageBox) {
  const HCURSOR waitCursor = LoadCursorA(nullptr, IDC_WAIT);
  int depthInBox = -1;
  HCURSOR cursorInBox = nullptr;
  answer = [&](const MessageBoxRequest&) {
    depthInBox = window->Host()->WaitDepth();
    cursorInBox = GetCursor();
    return IDOK;
  };
  Run([&] {
    CWin32DialogHost& host = *window->Host();
    const auto setCursor = [&] {
      return SendMessageW(Dialog(), WM_SETCURSOR, reinterpret_cast<WPARAM>(Dialog()), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    };
    host.BeginWaitCursor();
    host.BeginWaitCursor();
    EXPECT_EQ(GetCursor(), waitCursor);
    host.EndWaitCursor();
    EXPECT_EQ(GetCursor(), waitCursor) << "one end undoes one begin";
    // Wherever the mouse goes meanwhile, the window keeps the wait cursor.
    EXPECT_TRUE(setCursor());
    host.MessageBox("note", MsgIcon::None, MsgButtons::Ok);
    EXPECT_EQ(host.WaitDepth(), 1) << "the wait cursor comes back after the box";
    EXPECT_EQ(GetCursor(), waitCursor);
    host.EndWaitCursor();
    EXPECT_NE(GetCursor(), waitCursor);
    EXPECT_FALSE(setCursor()) << "without a wait the dialog manager sets the cursor";
    host.EndWaitCursor();  // one end too many changes nothing
    EXPECT_EQ(host.WaitDepth(), 0);
    Click(IDC_CLOSE);
  });
  EXPECT_EQ(depthInBox, 0);
  EXPECT_NE(cursorInBox, waitCursor);
}

TEST_F(Win32WindowTest, ProgressListsTextsAndEnablingWorkOnTheRealControls) {
  Run([&] {
    CWin32DialogHost& host = *window->Host();
    host.SetProgressRange(IDC_BLOCK_PROGRESS, 0, 2783);
    host.SetProgressPos(IDC_BLOCK_PROGRESS, 1000);
    EXPECT_EQ(host.GetProgressPos(IDC_BLOCK_PROGRESS), 1000);
    EXPECT_EQ(SendMessageW(Control(IDC_BLOCK_PROGRESS), PBM_GETRANGE, FALSE, 0), 2783) << "a range past 16 bits";
    host.SetProgressPos(IDC_BLOCK_PROGRESS, 5000);
    EXPECT_EQ(host.GetProgressPos(IDC_BLOCK_PROGRESS), 2783) << "kept inside the range";

    host.SetListSelection(IDC_PORT_LIST, 2);
    EXPECT_EQ(host.GetListSelection(IDC_PORT_LIST), 2);
    EXPECT_EQ(Text(Control(IDC_PORT_LIST)), L"COM3");
    host.SetListSelection(IDC_PORT_LIST, 999);
    EXPECT_EQ(host.GetListSelection(IDC_PORT_LIST), -1);
    EXPECT_EQ(host.GetListItemText(IDC_PORT_LIST, 999), "");
    EXPECT_EQ(host.GetListItemText(IDC_PORT_LIST, -1), "");

    host.SetControlText(IDC_STATUS, "Updating Digital Board. \xC2\xB5");  // UTF-8 in, UTF-16 on screen
    EXPECT_EQ(Text(Control(IDC_STATUS)), L"Updating Digital Board. \u00B5");
    EXPECT_EQ(host.GetControlText(IDC_STATUS), "Updating Digital Board. \xC2\xB5");
    EXPECT_EQ(host.GetControlText(4242), "") << "no such control";

    // A control that loses its enabled state while it has the focus hands the focus on,
    // so the keyboard still reaches the window.
    ASSERT_EQ(GetFocus(), Control(IDC_CLOSE));
    host.EnableControl(IDC_CLOSE, false);
    EXPECT_FALSE(host.IsControlEnabled(IDC_CLOSE));
    EXPECT_NE(GetFocus(), Control(IDC_CLOSE));
    EXPECT_NE(GetFocus(), nullptr);
    host.EnableControl(IDC_CLOSE, true);
    Click(IDC_CLOSE);
  });
}

TEST_F(Win32WindowTest, PumpMessagesHandlesWhatIsWaitingAndNeverWaits) {
  Run([&] {
    CWin32DialogHost& host = *window->Host();
    host.PumpMessages();  // nothing waiting: returns at once
    // A press of Connect's keyboard shortcut is no part of this; a Tab is: the dialog
    // manager moves the focus when the pump hands it the key.
    ASSERT_EQ(GetFocus(), Control(IDC_CLOSE));
    PressKey(VK_TAB);
    EXPECT_EQ(GetFocus(), Control(IDC_PORT_LIST));
    // A quit request is not the pump's to take: it stays for the loop that runs the window.
    PostQuitMessage(3);
    host.PumpMessages();
    MSG message;
    EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 3u);
    Click(IDC_CLOSE);
  });
}

TEST_F(Win32WindowTest, CloseEscapeAndTheCloseBoxAreRefusedWhileACommandRuns) {
  bool refusedInside = false;
  bool runningInside = false;
  int answered = 0;
  answer = [&](const MessageBoxRequest&) {
    // Connect is running (it reports the port it could not open): every way of closing,
    // and Connect and the device list, which must not start a command inside it.
    runningInside = window->Dialog().IsCommandRunning();
    if (answered++ == 0) {
      Click(IDC_CONNECT);
      SendMessageW(Dialog(), WM_COMMAND, MAKEWPARAM(IDC_DEVICE_LIST, CBN_SELCHANGE), 0);
    }
    Click(IDC_CLOSE);
    SendMessageW(Dialog(), WM_COMMAND, IDCANCEL, 0);  // Escape
    SendMessageW(Dialog(), WM_CLOSE, 0, 0);           // Alt+F4, the close box
    // The dialog manager posts WM_CLOSE on as IDCANCEL; the message box's own loop
    // would hand it over meanwhile.
    window->Host()->PumpMessages();
    refusedInside = IsWindowVisible(Dialog()) != FALSE;
    return IDOK;
  };
  const INT_PTR result = Run([&] {
    // A port that no driver has: Connect fails with prompt 61513.
    SendDlgItemMessageW(Dialog(), IDC_PORT_LIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"COM249"));
    const auto index = SendDlgItemMessageW(Dialog(), IDC_PORT_LIST, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                           reinterpret_cast<LPARAM>(L"COM249"));
    SendDlgItemMessageW(Dialog(), IDC_PORT_LIST, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    Click(IDC_CONNECT);
    EXPECT_TRUE(IsWindowVisible(Dialog())) << "the window outlived the refused closes";
    EXPECT_FALSE(window->Dialog().IsCommandRunning());
    // Once the command has ended, the window closes again.
    SendMessageW(Dialog(), WM_CLOSE, 0, 0);
    window->Host()->PumpMessages();
  });
  EXPECT_TRUE(runningInside);
  EXPECT_TRUE(refusedInside);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, L"Failed to open Com Port, make sure that your selections is correct and try again.");
  EXPECT_EQ(boxes[0].flags & MB_ICONMASK, static_cast<UINT>(MB_ICONSTOP));
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_FALSE(window->Dialog().HasPort());
}

}  // namespace
}  // namespace cvm6::test
