// cvm6-updater.exe: the desktop updater's one window, a native Win32 dialog.
#include "win32app/updater_app.h"

namespace {
cvm6::CUpdaterApp theApp;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  theApp.InitInstance(instance);
  return 0;
}
