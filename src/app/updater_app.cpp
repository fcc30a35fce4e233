#include "app/updater_app.h"

#include "app/updater_window.h"

namespace cvm6 {

bool CUpdaterApp::InitInstance() {
  // The result (1 after an update, 2 after Close, -1 without a window) changes nothing:
  // the program ends either way.
  CUpdaterWindow window;
  window.Run();
  return false;
}

}  // namespace cvm6
