#include "win32app/win32_dialog_host.h"

#include <algorithm>

#include "win32app/wide_text.h"

namespace cvm6 {
namespace {

// The procedure returns to the message loop only when its command ends: a change is
// painted at once, not when a wait next handles the messages.
void ShowNow(HWND control) { UpdateWindow(control); }

}  // namespace

std::wstring WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), length + 1)));
  return text;
}

CWin32DialogHost::CWin32DialogHost(HWND dialog)
    : m_dialog(dialog), m_wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

CWin32DialogHost::~CWin32DialogHost() {
  while (m_waitDepth > 0) EndWaitCursor();
  HoldSession(false);
  if (m_wake) CloseHandle(m_wake);
}

std::wstring CWin32DialogHost::MessageBoxCaption() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return L"";
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);  // a long path, cut short: try again with room
  }
  const std::size_t slash = path.find_last_of(L"\\/");
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos && dot > 0) name.resize(dot);
  return name;
}

void CWin32DialogHost::SetControlText(int id, const std::string& text) {
  const HWND control = Control(id);
  if (!control) return;
  const std::wstring value = Widen(text);
  if (WindowText(control) == value) return;  // no flicker for an unchanged text
  SetWindowTextW(control, value.c_str());
  ShowNow(control);
}

std::string CWin32DialogHost::GetControlText(int id) {
  const HWND control = Control(id);
  return control ? Narrow(WindowText(control)) : "";
}

void CWin32DialogHost::SetListSelection(int id, int index) {
  const HWND list = Control(id);
  if (!list) return;
  const auto count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
  SendMessageW(list, CB_SETCURSEL, index >= 0 && index < count ? static_cast<WPARAM>(index) : static_cast<WPARAM>(-1), 0);
  ShowNow(list);
}

int CWin32DialogHost::GetListSelection(int id) {
  const HWND list = Control(id);
  if (!list) return -1;
  const LRESULT index = SendMessageW(list, CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? -1 : static_cast<int>(index);
}

void CWin32DialogHost::SetAddedListItems(int id, const std::vector<PortChoice>& items) {
  const HWND list = Control(id);
  if (!list) return;
  for (auto i = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0)) - 1; i >= 0; --i)
    if (SendMessageW(list, CB_GETITEMDATA, static_cast<WPARAM>(i), 0) > 0)
      SendMessageW(list, CB_DELETESTRING, static_cast<WPARAM>(i), 0);
  std::vector<std::string>& names = m_itemNames[id];
  names.clear();
  int widest = 0;
  const HDC dc = GetDC(list);
  const HGDIOBJ font = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(list, WM_GETFONT, 0, 0)));
  for (const PortChoice& item : items) {
    const std::wstring text = Widen(item.text);
    const LRESULT index = SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (index < 0) continue;
    names.push_back(item.name);
    SendMessageW(list, CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(names.size()));
    SIZE size{};
    if (GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size)) widest = std::max(widest, static_cast<int>(size.cx));
  }
  SelectObject(dc, font);
  ReleaseDC(list, dc);
  // The closed field is narrower than a description: the open list shows it whole.
  const int needed = widest + 2 * GetSystemMetrics(SM_CXVSCROLL);
  if (needed > static_cast<int>(SendMessageW(list, CB_GETDROPPEDWIDTH, 0, 0)))
    SendMessageW(list, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(needed), 0);
}

std::string CWin32DialogHost::GetListItemText(int id, int index) {
  const HWND list = Control(id);
  if (!list || index < 0) return "";
  const LRESULT data = SendMessageW(list, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
  if (const auto names = m_itemNames.find(id); data > 0 && names != m_itemNames.end() &&
                                                 static_cast<std::size_t>(data) <= names->second.size())
    return names->second[static_cast<std::size_t>(data) - 1];
  const LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR || length <= 0) return "";
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT copied = SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  if (copied == CB_ERR) return "";
  text.resize(static_cast<std::size_t>(copied));
  return Narrow(text);
}

void CWin32DialogHost::EnableControl(int id, bool enable) {
  const HWND control = Control(id);
  if (!control || (IsWindowEnabled(control) != FALSE) == enable) return;
  // A disabled control cannot keep the focus; without this the keyboard would reach no
  // control until the user clicks one. The focus goes on to the next control that takes
  // it, as Tab would take it.
  if (!enable && GetFocus() == control) SendMessageW(m_dialog, WM_NEXTDLGCTL, 0, FALSE);
  EnableWindow(control, enable);
  ShowNow(control);
}

bool CWin32DialogHost::IsControlEnabled(int id) {
  const HWND control = Control(id);
  return control && IsWindowEnabled(control);
}

void CWin32DialogHost::SetProgressRange(int id, int lower, int upper) {
  const HWND bar = Control(id);
  if (!bar) return;
  SendMessageW(bar, PBM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(std::max(lower, upper)));
  ShowNow(bar);
}

void CWin32DialogHost::SetProgressPos(int id, int pos) {
  const HWND bar = Control(id);
  if (!bar) return;
  SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(pos), 0);  // the control keeps it inside its range
  ShowNow(bar);
}

int CWin32DialogHost::GetProgressPos(int id) {
  const HWND bar = Control(id);
  return bar ? static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0)) : 0;
}

void CWin32DialogHost::BeginWaitCursor() {
  const HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  if (m_waitDepth++ == 0) m_cursorBeforeWait = previous;
}

void CWin32DialogHost::EndWaitCursor() {
  if (m_waitDepth == 0) return;
  if (--m_waitDepth == 0) SetCursor(m_cursorBeforeWait ? m_cursorBeforeWait : LoadCursorA(nullptr, IDC_ARROW));
}

bool CWin32DialogHost::OnSetCursor() {
  if (m_waitDepth == 0) return false;
  SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  return true;
}

int CWin32DialogHost::MessageBox(const std::string& text, MsgIcon icon, MsgButtons buttons) {
  UINT flags = buttons == MsgButtons::YesNo ? MB_YESNO : MB_OK;
  // The one yes/no question asks before erasing a unit: a stray Enter must not say yes.
  if (buttons == MsgButtons::YesNo) flags |= MB_DEFBUTTON2;
  if (icon == MsgIcon::Stop) flags |= MB_ICONSTOP;
  if (icon == MsgIcon::Question) flags |= MB_ICONQUESTION;
  if (icon == MsgIcon::Warning) flags |= MB_ICONWARNING;
  const MessageBoxRequest request{MessageBoxCaption(), Widen(text), flags};
  // The user must see an ordinary pointer over a question, even in the middle of a command.
  const int depth = m_waitDepth;
  while (m_waitDepth > 0) EndWaitCursor();
  const int answer = m_boxRunner ? m_boxRunner(request)
                                 : MessageBoxW(m_dialog, request.text.c_str(), request.caption.c_str(), request.flags);
  while (m_waitDepth < depth) BeginWaitCursor();
  if (buttons == MsgButtons::YesNo) return answer == IDYES ? IDYES : IDNO;
  return IDOK;
}

void CWin32DialogHost::EndDialog(int result) { ::EndDialog(m_dialog, result); }

// Every message waiting for the window's thread, handled as the modal dialog's own loop
// would (Tab, Enter and Escape through the dialog manager); returns when none is left.
void CWin32DialogHost::PumpMessages() { (void)Pump(); }

bool CWin32DialogHost::Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Meant for the loop that runs the window: put back for it to see.
      PostQuitMessage(static_cast<int>(message.wParam));
      return false;
    }
    if (IsDialogMessageW(m_dialog, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return true;
}

// Sleeps in MsgWaitForMultipleObjectsEx, which ends for the wake and for every message
// that arrives (sent messages, the system's pings among them, are handled inside it);
// each is handled as the modal loop would. After a WM_QUIT (waiting for the modal loop
// to see it) only the wake can end the sleep: the queue is never empty again.
void CWin32DialogHost::WaitHandlingMessages(std::uint32_t timeoutMs) {
  const DWORD start = GetTickCount();
  bool messages = true;
  for (;;) {
    if (messages) messages = Pump();
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return;
    const DWORD left = timeoutMs - elapsed;
    const DWORD woke = messages ? MsgWaitForMultipleObjectsEx(1, &m_wake, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE)
                                : WaitForSingleObject(m_wake, left);
    if (woke != WAIT_OBJECT_0 + 1) return;  // the wake, the time-out, or a failed wait
  }
}

void CWin32DialogHost::Wake() {
  if (m_wake) SetEvent(m_wake);
}

void CWin32DialogHost::HoldSession(bool hold) {
  if (hold == m_sessionHeld) return;
  m_sessionHeld = hold;
  if (hold)
    ShutdownBlockReasonCreate(m_dialog, kSessionHoldReason);
  else
    ShutdownBlockReasonDestroy(m_dialog);
}

}  // namespace cvm6
