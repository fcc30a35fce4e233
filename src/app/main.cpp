// cvm6-updater: the desktop updater's one window.
#include <QApplication>

#include "app/updater_app.h"
#include "app/updater_window.h"

namespace {
cvm6::CUpdaterApp theApp;
}

int main(int argc, char** argv) {
  // Qt takes its own options (-platform, -style, ...); the program has none.
  QApplication application(argc, argv);
  QApplication::setWindowIcon(cvm6::UpdaterIcon());
  theApp.InitInstance();
  return 0;
}
