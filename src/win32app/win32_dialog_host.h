#pragma once
// The Win32 side of a dialog: carries out the window operations of DialogHost on the
// real controls of a dialog that Windows made from its template, found by their ids.
//
// Threading rule: like the dialog procedure, every call belongs to the thread that owns
// the window.
#include <functional>
#include <string>

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
  explicit CWin32DialogHost(HWND dialog) : m_dialog(dialog) {}
  ~CWin32DialogHost() override;
  CWin32DialogHost(const CWin32DialogHost&) = delete;
  CWin32DialogHost& operator=(const CWin32DialogHost&) = delete;

  HWND Window() const { return m_dialog; }
  // Shows a message box and returns the button pressed (IDOK, IDYES, IDNO). The default
  // is MessageBoxW, modal to the window; tests put in one that reads and answers it.
  void SetMessageBoxRunner(std::function<int(const MessageBoxRequest&)> runner) { m_boxRunner = std::move(runner); }
  int WaitDepth() const { return m_waitDepth; }
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

 private:
  HWND Control(int id) const { return GetDlgItem(m_dialog, id); }

  HWND m_dialog;
  int m_waitDepth = 0;
  HCURSOR m_cursorBeforeWait = nullptr;
  std::function<int(const MessageBoxRequest&)> m_boxRunner;
};

// The text of a window (a control's text, a dialog's caption).
std::wstring WindowText(HWND window);

}  // namespace cvm6
