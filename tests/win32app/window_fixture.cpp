#include "window_fixture.h"

namespace cvm6::test {

Win32WindowTest* Win32WindowTest::s_running = nullptr;

void Win32WindowTest::SetUp() { boxes.clear(); }

void Win32WindowTest::TearDown() { window.reset(); }

std::wstring Win32WindowTest::Text(HWND control) const { return WindowText(control); }

void Win32WindowTest::Click(int id) {
  SendMessageW(Dialog(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
}

void Win32WindowTest::PressKey(WPARAM key) {
  PostMessageW(GetFocus(), WM_KEYDOWN, key, 1);
  PostMessageW(GetFocus(), WM_KEYUP, key, 1 | 3u << 30);
  window->Host()->PumpMessages();
}

void CALLBACK Win32WindowTest::OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  Win32WindowTest* self = s_running;
  if (!self || self->m_bodyRan) return;
  self->m_bodyRan = true;
  self->window->Host()->SetMessageBoxRunner([self](const MessageBoxRequest& request) {
    self->boxes.push_back(request);
    return self->answer ? self->answer(request) : IDOK;
  });
  self->m_body();
  // A body that failed before it closed the window must not leave the test waiting.
  // EndDialog hides the window at once; one still shown was not ended.
  if (IsWindowVisible(self->Dialog())) EndDialog(self->Dialog(), -2);
}

INT_PTR Win32WindowTest::Run(std::function<void()> body, UpdateLimits limits) {
  window = std::make_unique<CWin32UpdaterWindow>(GetModuleHandleW(nullptr), limits);
  m_body = std::move(body);
  m_bodyRan = false;
  s_running = this;
  SetTimer(nullptr, 0, 0, &OnTimer);
  const INT_PTR result = window->Run();
  s_running = nullptr;
  EXPECT_TRUE(m_bodyRan) << "the dialog's loop never ran the test";
  return result;
}

}  // namespace cvm6::test
