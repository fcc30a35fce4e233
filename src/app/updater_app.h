#pragma once
// The application object: creates the one window, runs it until it closes, and lets
// the program end. No arguments, no settings.
namespace cvm6 {

class CUpdaterApp {
 public:
  // Runs the window modally; returns false, so that no message loop of the
  // application's own follows and the program ends.
  bool InitInstance();
};

}  // namespace cvm6
