// cvm6-window-probe: looks at another program's windows from inside the same Wine
// prefix, for the tests that drive the updater's window with the keyboard from outside
// (xdotool reads no control texts).
//
//   cvm6-window-probe --title TITLE [--control ID] [--text TEXT] [--timeout MS]
//
// Waits until a visible top-level window captioned exactly TITLE exists whose control ID
// (or, without --control, any of whose controls) holds a text containing TEXT, then
// prints the window's rectangle on the screen as "window<TAB>left<TAB>top<TAB>right<TAB>
// bottom" and every control of that window as "id<TAB>enabled|disabled<TAB>text", with
// "<TAB>focused" after the one that has the keyboard focus (line ends in texts written
// as \n), and exits 0. Exits 1 with what it last saw when the time runs
// out (default 30 s), 2 on bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Query {
  std::wstring title;
  int control = -1;
  bool anyControl = true;
  std::wstring text;
};

struct Child {
  int id;
  bool enabled;
  std::wstring text;
  HWND window;
};

std::wstring Widen(const char* text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
  wide.resize(wcslen(wide.c_str()));
  return wide;
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, narrow.data(), length, nullptr, nullptr);
  narrow.resize(std::strlen(narrow.c_str()));
  for (const char c : narrow) {
    if (c == '\n') out += "\\n";
    else if (c != '\r') out += c;
  }
  return out;
}

// Another process's control: WM_GETTEXT crosses the process boundary, with a limit so
// that a hung window cannot hang the probe.
std::wstring TextOf(HWND window) {
  wchar_t buffer[2048] = {};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, sizeof buffer / sizeof buffer[0], reinterpret_cast<LPARAM>(buffer),
                           SMTO_ABORTIFHUNG, 2000, &copied))
    return L"";
  return buffer;
}

BOOL CALLBACK AddChild(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<Child>*>(list)->push_back(
      {GetDlgCtrlID(window), IsWindowEnabled(window) != FALSE, TextOf(window), window});
  return TRUE;
}

std::vector<Child> ChildrenOf(HWND window) {
  std::vector<Child> children;
  EnumChildWindows(window, &AddChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

struct Search {
  const Query* query = nullptr;
  HWND found = nullptr;
  HWND last = nullptr;
  std::vector<Child> seen;
};

bool Matches(const Query& query, const std::vector<Child>& children) {
  if (query.text.empty() && query.anyControl) return true;
  for (const Child& child : children) {
    if (!query.anyControl && child.id != query.control) continue;
    if (child.text.find(query.text) != std::wstring::npos) return true;
  }
  return false;
}

BOOL CALLBACK Look(HWND window, LPARAM data) {
  auto& search = *reinterpret_cast<Search*>(data);
  if (!IsWindowVisible(window) || TextOf(window) != search.query->title) return TRUE;
  search.seen = ChildrenOf(window);
  search.last = window;
  if (!Matches(*search.query, search.seen)) return TRUE;
  search.found = window;
  return FALSE;
}

void Print(HWND window, const std::vector<Child>& children) {
  GUITHREADINFO thread{};
  thread.cbSize = sizeof thread;
  const HWND focus = window && GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &thread) ? thread.hwndFocus
                                                                                                  : nullptr;
  RECT rect{};
  if (window && GetWindowRect(window, &rect)) {
    std::printf("window\t%ld\t%ld\t%ld\t%ld\n", rect.left, rect.top, rect.right, rect.bottom);
  }
  for (const Child& child : children)
    std::printf("%d\t%s\t%s%s\n", child.id, child.enabled ? "enabled" : "disabled", Narrow(child.text).c_str(),
                child.window == focus ? "\tfocused" : "");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  Query query;
  DWORD timeoutMs = 30000;
  bool titled = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--title")) query.title = Widen(argv[i + 1]), titled = true;
    else if (!std::strcmp(argv[i], "--control")) query.control = std::atoi(argv[i + 1]), query.anyControl = false;
    else if (!std::strcmp(argv[i], "--text")) query.text = Widen(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--timeout")) timeoutMs = static_cast<DWORD>(std::strtoul(argv[i + 1], nullptr, 10));
    else titled = false, i = argc;
  }
  if (!titled || argc % 2 == 0) {
    std::fprintf(stderr, "usage: cvm6-window-probe --title TITLE [--control ID] [--text TEXT] [--timeout MS]\n");
    return 2;
  }
  const DWORD started = GetTickCount();
  Search search;
  search.query = &query;
  for (;;) {
    search.found = nullptr;
    EnumWindows(&Look, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      Print(search.found, search.seen);
      return 0;
    }
    if (GetTickCount() - started > timeoutMs) break;
    Sleep(100);
  }
  std::printf("no window \"%s\" with that text within %lu ms; last seen:\n", Narrow(query.title).c_str(),
              static_cast<unsigned long>(timeoutMs));
  Print(search.last && IsWindow(search.last) ? search.last : nullptr, search.seen);
  return 1;
}
