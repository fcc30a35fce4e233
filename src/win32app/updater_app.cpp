#include "win32app/updater_app.h"

#include "win32app/updater_window.h"

namespace cvm6 {

bool CUpdaterApp::InitInstance(HINSTANCE instance) {
  // The common controls of the manifest's version 6 draw in the system's visual style
  // (the progress bar is theirs); the buttons, lists and fields follow with it.
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  // The result (IDOK after an update, IDCANCEL after Close, -1 without a window)
  // changes nothing: the program ends either way.
  CWin32UpdaterWindow window(instance);
  window.Run();
  return false;
}

}  // namespace cvm6
