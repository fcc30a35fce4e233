#pragma once
// The application object on Windows: gives the controls the system's look, creates the
// one window, runs it until it closes and lets the program end. No arguments, no
// settings.
#include "win32app/windows_api.h"

namespace cvm6 {

class CUpdaterApp {
 public:
  // Runs the window modally; returns false, so that no message loop of the
  // application's own follows and the program ends.
  bool InitInstance(HINSTANCE instance);
};

}  // namespace cvm6
