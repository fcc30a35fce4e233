// cvm6-console-event: runs a program on a console window of its own, as a technician
// starts cvm6-flash.exe on Windows, and closes that console under it the way Windows
// does, for the tests of the program's live line and of its last words.
//
//   cvm6-console-event [--columns N] [--close-when FILE TEXT] -- PROGRAM [ARGS...]
//
// The console is the tool's own: its buffer 160 columns wide, its window N (default 80),
// as a console whose window shows less than its buffer holds. The program's standard
// handles are the console. With --close-when, once FILE holds TEXT, the tool does what
// Windows' console host does when the window is closed: it starts the system's control
// routine (kernelbase's CtrlRoutine) on a new thread of the program with
// CTRL_CLOSE_EVENT, which calls the program's handlers, and ends the program once they
// have returned or 5 s have passed. (Wine's console host ends the programs of a closed
// console window at once, without the event: closing its window tests nothing of ours.)
//
// Afterwards it prints how long the handlers took, then every row of the console's
// buffer up to the cursor as "|ROW|" (trailing blanks cut). Exits with the program's
// status; with --close-when 0 when the handlers returned within the 5 s, 1 when the
// program had to be ended before; 2 on bad arguments or a failed start.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr DWORD kWindowsGivesMs = 5000;
constexpr DWORD kLongestWaitMs = 120000;  // for TEXT to appear
constexpr SHORT kBufferColumns = 160;

bool Holds(const char* path, const char* text) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str().find(text) != std::string::npos;
}

HANDLE OpenConsole(const char* name) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                     OPEN_EXISTING, 0, nullptr);
}

void Print(HANDLE out, const std::string& text) {
  DWORD written = 0;
  WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void PrintScreen(HANDLE out, HANDLE console) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(console, &info)) return Print(out, "no console to read\n");
  Print(out, "console: " + std::to_string(info.srWindow.Right - info.srWindow.Left + 1) + " columns shown of " +
                 std::to_string(info.dwSize.X) + "\n");
  for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
    std::string text(static_cast<std::size_t>(info.dwSize.X), ' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterA(console, text.data(), static_cast<DWORD>(text.size()), COORD{0, row}, &read);
    text.resize(text.find_last_not_of(' ') == std::string::npos ? 0 : text.find_last_not_of(' ') + 1);
    Print(out, "|" + text + "|\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  SHORT columns = 80;
  const char* file = nullptr;
  const char* text = nullptr;
  int at = 1;
  for (; at < argc && std::strcmp(argv[at], "--") != 0; ++at) {
    if (!std::strcmp(argv[at], "--columns") && at + 1 < argc) {
      columns = static_cast<SHORT>(std::atoi(argv[++at]));
    } else if (!std::strcmp(argv[at], "--close-when") && at + 2 < argc) {
      file = argv[++at], text = argv[++at];
    } else {
      break;
    }
  }
  if (at + 1 >= argc || std::strcmp(argv[at], "--") != 0 || columns < 20 || columns > kBufferColumns) {
    std::fprintf(stderr, "usage: cvm6-console-event [--columns N] [--close-when FILE TEXT] -- PROGRAM [ARGS...]\n");
    return 2;
  }
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);  // where the test reads
  FreeConsole();
  if (!AllocConsole()) return Print(out, "cvm6-console-event: no console\n"), 2;
  const HANDLE console = OpenConsole("CONOUT$"), input = OpenConsole("CONIN$");
  SMALL_RECT window{0, 0, static_cast<SHORT>(columns - 1), 24};
  if (!SetConsoleScreenBufferSize(console, COORD{kBufferColumns, 300}) ||
      !SetConsoleWindowInfo(console, TRUE, &window)) {
    return Print(out, "cvm6-console-event: the console's size was not taken\n"), 2;
  }

  std::string command;
  // The tests' arguments hold no quotes and end in no backslash.
  for (int i = at + 1; i < argc; ++i) command += std::string(i > at + 1 ? " \"" : "\"") + argv[i] + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = startup.hStdError = console;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    return Print(out, "cvm6-console-event: cannot start " + std::string(argv[at + 1]) + "\n"), 2;
  }

  int status = 0;
  if (file) {
    const ULONGLONG started = GetTickCount64();
    while (!Holds(file, text)) {
      if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0 || GetTickCount64() - started > kLongestWaitMs) {
        Print(out, "cvm6-console-event: \"" + std::string(text) + "\" never came into " + file + "\n");
        TerminateProcess(process.hProcess, 1);
        PrintScreen(out, console);
        return 2;
      }
    }
    // System libraries sit at the same address in every process of a session.
    const auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernelbase.dll"), "CtrlRoutine")));
    const ULONGLONG closed = GetTickCount64();
    const HANDLE handlers = routine ? CreateRemoteThread(process.hProcess, nullptr, 0, routine,
                                                         reinterpret_cast<void*>(CTRL_CLOSE_EVENT), 0, nullptr)
                                    : nullptr;
    const bool returned = handlers && WaitForSingleObject(handlers, kWindowsGivesMs) == WAIT_OBJECT_0;
    const auto tookMs = std::to_string(GetTickCount64() - closed);
    // Whatever the handlers answered: the console is gone, and so is the program.
    TerminateProcess(process.hProcess, STATUS_CONTROL_C_EXIT);
    WaitForSingleObject(process.hProcess, INFINITE);
    Print(out, !handlers  ? "console closed: the control routine did not start\n"
               : returned ? "console closed: the handlers returned after " + tookMs + " ms\n"
                          : "console closed: the handlers had not returned after " + tookMs + " ms\n");
    status = returned ? 0 : 1;
  } else {
    DWORD code = 0;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    status = static_cast<int>(code);
  }
  PrintScreen(out, console);
  return status;
}
