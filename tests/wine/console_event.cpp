// cvm6-console-event: closes the console under a program the way Windows does, for the
// test of cvm6-flash.exe's last words.
//
//   cvm6-console-event --close-when FILE TEXT -- PROGRAM [ARGS...]
//
// Starts PROGRAM on a console of its own and waits until FILE holds TEXT. Then it does
// what Windows' console host does when the console window is closed: it starts the
// system's control routine (kernelbase's CtrlRoutine) on a new thread of the program with
// CTRL_CLOSE_EVENT, which calls the program's handlers, and ends the program once they
// have returned or 5 s have passed. (Wine's console host ends the programs of a closed
// console window at once, without the event: closing its window tests nothing of ours.)
// Prints how long the handlers took; exits 0 when they returned within the 5 s, 1 when
// the program had to be ended before, 2 on bad arguments or a failed start.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr DWORD kWindowsGivesMs = 5000;
constexpr DWORD kLongestWaitMs = 120000;  // for TEXT to appear

// The argument quoted as CommandLineToArgvW reads it back.
std::string Quoted(const std::string& argument) {
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, '\\');
  return out + "\"";
}

bool Holds(const char* path, const char* text) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str().find(text) != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6 || std::strcmp(argv[1], "--close-when") != 0 || std::strcmp(argv[4], "--") != 0) {
    std::fprintf(stderr, "usage: cvm6-console-event --close-when FILE TEXT -- PROGRAM [ARGS...]\n");
    return 2;
  }
  std::string command;
  for (int i = 5; i < argc; ++i) command += (i > 5 ? " " : "") + Quoted(argv[i]);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "cvm6-console-event: cannot start %s (error %lu)\n", argv[5], GetLastError());
    return 2;
  }
  const ULONGLONG started = GetTickCount64();
  while (!Holds(argv[2], argv[3])) {
    if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0 || GetTickCount64() - started > kLongestWaitMs) {
      std::fprintf(stderr, "cvm6-console-event: \"%s\" never came into %s\n", argv[3], argv[2]);
      TerminateProcess(process.hProcess, 1);
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
  if (!handlers) {
    std::fprintf(stderr, "cvm6-console-event: cannot start the control routine (error %lu)\n", GetLastError());
    TerminateProcess(process.hProcess, 1);
    return 2;
  }
  const bool returned = WaitForSingleObject(handlers, kWindowsGivesMs) == WAIT_OBJECT_0;
  const auto tookMs = static_cast<unsigned long>(GetTickCount64() - closed);
  // Whatever the handlers answered: the console is gone, and so is the program.
  TerminateProcess(process.hProcess, STATUS_CONTROL_C_EXIT);
  WaitForSingleObject(process.hProcess, INFINITE);
  if (!returned) {
    std::printf("console closed: the handlers had not returned after %lu ms; the program was ended\n", tookMs);
    return 1;
  }
  std::printf("console closed: the handlers returned after %lu ms\n", tookMs);
  return 0;
}
