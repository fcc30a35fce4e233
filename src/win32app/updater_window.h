#pragma once
// The updater's window on Windows: CUpdaterDlg (the procedure) in the modal dialog that
// Windows builds from dialog resource 102, with the window's messages routed to the
// procedure's handlers as its message map describes.
//
// Threading rule: the object, the dialog and the procedure belong to the thread that
// calls Run.
#include <memory>
#include <string>
#include <vector>

#include "update/updater_dlg.h"
#include "win32app/win32_dialog_host.h"
#include "win32app/windows_api.h"

namespace cvm6 {

class CWin32UpdaterWindow {
 public:
  explicit CWin32UpdaterWindow(HINSTANCE instance, UpdateLimits limits = {}, LinkLimits linkLimits = {});
  ~CWin32UpdaterWindow();
  CWin32UpdaterWindow(const CWin32UpdaterWindow&) = delete;
  CWin32UpdaterWindow& operator=(const CWin32UpdaterWindow&) = delete;

  // Runs the dialog modally until it ends, then the window is destroyed (the link stops,
  // the port closes). Returns the dialog's result: IDOK after a completed update,
  // IDCANCEL after Close, -1 when the dialog could not be made.
  INT_PTR Run();

  CUpdaterDlg& Dialog() { return m_dlg; }
  // The running dialog and its host; null outside Run.
  HWND Window() const { return m_window; }
  CWin32DialogHost* Host() const { return m_host.get(); }
  HICON Icon() const { return m_icon; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  BOOL OnInitDialog();
  void OnCommand(int id, int notification);
  void OnPaint();
  void OnDestroy();
  void CentreOnCursorScreen();

 public:
  // Reads the port list again (on drop-down and when an adapter comes or goes).
  void RefreshPortList();

 private:

  HINSTANCE m_instance;
  CUpdaterDlg m_dlg;
  HICON m_icon;  // icon 128 at the system's large icon size
  HICON m_smallIcon;
  HWND m_window = nullptr;
  std::unique_ptr<CWin32DialogHost> m_host;
  std::vector<std::string> m_templatePorts;  // the port list's items from the template
};

}  // namespace cvm6
