#pragma once
// The Win32 side of a dialog: carries out the window operations of DialogHost on the
// real controls of a dialog that Windows made from its template, found by their ids.
//
// Threading rule: like the dialog procedure, every call belongs to the thread that owns
// the window.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "win32app/port_choices.h"

#include "win32app/windows_api.h"

namespace cvm6 {

// A message box as the window asks for it: what MessageBoxW is given.
struct MessageBoxRequest {
  std::wstring caption;
  std::wstring text;
  UINT flags;
};

class CWin32DialogHost : public DialogHost {
 public:
  explicit CWin32DialogHost(HWND dialog);
  ~CWin32DialogHost() override;
  CWin32DialogHost(const CWin32DialogHost&) = delete;
  CWin32DialogHost& operator=(const CWin32DialogHost&) = delete;

  HWND Window() const { return m_dialog; }
  // Shows a message box and returns the button pressed (IDOK, IDYES, IDNO). The default
  // is MessageBoxW, modal to the window; tests put in one that reads and answers it.
  void SetMessageBoxRunner(std::function<int(const MessageBoxRequest&)> runner) { m_boxRunner = std::move(runner); }
  int WaitDepth() const { return m_waitDepth; }
  // Replaces the items that follow the template's in list `id`: each shows its text and
  // is opened by its name, which GetListItemText gives. The list sorts them itself when
  // the template says so.
  void SetAddedListItems(int id, const std::vector<PortChoice>& items);
  // WM_SETCURSOR: while a wait cursor is shown it stays, wherever the mouse goes. True
  // when the message was taken.
  bool OnSetCursor();
  // The caption of every message box: the program file's name without its extension.
  static std::wstring MessageBoxCaption();

  // DialogHost
  void SetControlText(int id, const std::string& text) override;
  std::string GetControlText(int id) override;
  void SetListSelection(int id, int index) override;
  int GetListSelection(int id) override;
  std::string GetListItemText(int id, int index) override;
  void EnableControl(int id, bool enable) override;
  bool IsControlEnabled(int id) override;
  void SetProgressRange(int id, int lower, int upper) override;
  void SetProgressPos(int id, int pos) override;
  int GetProgressPos(int id) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
  int MessageBox(const std::string& text, MsgIcon icon, MsgButtons buttons) override;
  void EndDialog(int result) override;
  void PumpMessages() override;
  bool HandlesMessagesWhileWaiting() override { return !m_destroying; }
  void WaitHandlingMessages(std::uint32_t timeoutMs) override;
  void Wake() override;
  void HoldSession(bool hold) override;

  // The window is being destroyed: its messages are no longer handled in waits.
  void SetDestroying() { m_destroying = true; }
  // WM_QUERYENDSESSION: whether Windows may end the session now.
  bool SessionMayEnd() const { return !m_sessionHeld; }
  static constexpr const wchar_t* kSessionHoldReason = L"Updating the unit's firmware: do not turn off the computer.";

 private:
  // False once a WM_QUIT was put back for the modal loop: it stays first in the queue.
  bool Pump();
  HWND Control(int id) const { return GetDlgItem(m_dialog, id); }

  HWND m_dialog;
  int m_waitDepth = 0;
  HCURSOR m_cursorBeforeWait = nullptr;
  std::function<int(const MessageBoxRequest&)> m_boxRunner;
  std::map<int, std::vector<std::string>> m_itemNames;  // by list: item data n is name n - 1
  HANDLE m_wake;  // auto-reset: set by Wake, taken by the wait it ends
  bool m_destroying = false;
  bool m_sessionHeld = false;
};

// The text of a window (a control's text, a dialog's caption).
std::wstring WindowText(HWND window);

}  // namespace cvm6
