#pragma once
// Runs the updater's Win32 window modally, as the program does, and a test body inside
// its modal loop: a thread timer set before the dialog starts fires once the dialog
// manager's loop runs, and the body works the real dialog from there.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "win32app/updater_window.h"

namespace cvm6::test {

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the window with `body` inside its modal loop; the body ends the dialog (or the
  // test does it after the body) and Run returns the dialog's result.
  INT_PTR Run(std::function<void()> body, UpdateLimits limits = {});

  HWND Dialog() const { return window->Window(); }
  HWND Control(int id) const { return GetDlgItem(Dialog(), id); }
  std::wstring Text(HWND control) const;
  // Presses a button the way a click does.
  void Click(int id);
  // Sends a key to the control with the focus, through the message queue, and lets the
  // host's pump handle it (the dialog manager's keyboard handling included).
  void PressKey(WPARAM key);

  std::unique_ptr<CWin32UpdaterWindow> window;
  std::vector<MessageBoxRequest> boxes;  // every message box asked for, in order
  std::function<int(const MessageBoxRequest&)> answer;  // default: IDOK

 private:
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD);
  static Win32WindowTest* s_running;
  std::function<void()> m_body;
  bool m_bodyRan = false;
};

}  // namespace cvm6::test
