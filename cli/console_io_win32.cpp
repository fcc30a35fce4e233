// Ctrl-C and the console on Windows. The system calls the console's control handler on a
// thread of its own for Ctrl-C, Ctrl-Break, the closing of the console window, log-off
// and shutdown, so the handling runs as ordinary code: it sets an event, which a question
// waiting on the console waits on beside the console's input, and runs the wakes. The
// event is never reset: once set, it stays so.
//
// Once the handler returns from a close, log-off or shutdown, Windows ends the process
// (and it does so anyway 5 s after the event): the handler stops the units as Ctrl-C does
// and returns only when the run has written its end lines, its log and its JSON result,
// or after 4.5 s. The log then says that the unit's flash is incomplete.
#include <windows.h>

#include <cstdint>
#include <mutex>

#include "console_io.h"
#include "interrupt_wakes.h"
#include "run_end.h"

namespace cvm6 {

const char* const kInterruptCauses = "Ctrl-C, Ctrl-Break or a hang-up: the console closed, a log-off or a shutdown";

namespace {

// Windows ends the process 5 s after a close, log-off or shutdown event.
constexpr std::uint32_t kLastWordsMs = 4500;

HANDLE g_interruptEvent = nullptr;
BOOL WINAPI OnConsoleControl(DWORD event) {
  const bool ending = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && !ending) return FALSE;
  if (ending) {
    // Whether or not a Ctrl-C came before: the process ends when this returns.
    MarkInterrupted();
    RunInterruptWakes();
    if (g_interruptEvent) SetEvent(g_interruptEvent);
    WaitForRunEnd(kLastWordsMs);
    return TRUE;
  }
  if (!MarkInterrupted()) LeaveAtOnce();
  RunInterruptWakes();
  if (g_interruptEvent) SetEvent(g_interruptEvent);
  return TRUE;  // handled: the procedure ends itself, the unit's link and port cleanly
}

void Write(HANDLE console, const std::string& text) {
  DWORD written = 0;
  WriteConsoleA(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Reads an answer line from the console's key presses, echoing them, until Enter. False
// when an interrupt came first.
bool ReadAnswer(HANDLE input, HANDLE output, std::string& line) {
  for (;;) {
    const HANDLE objects[2] = {input, g_interruptEvent};
    const DWORD waited = WaitForMultipleObjects(g_interruptEvent ? 2 : 1, objects, FALSE, INFINITE);
    if (InterruptRequested() || waited == WAIT_OBJECT_0 + 1) return false;
    if (waited != WAIT_OBJECT_0) return true;  // the console went away: what was typed stands
    INPUT_RECORD records[16];
    DWORD count = 0;
    if (!ReadConsoleInputA(input, records, 16, &count)) return true;
    for (DWORD i = 0; i < count; ++i) {
      if (records[i].EventType != KEY_EVENT || !records[i].Event.KeyEvent.bKeyDown) continue;
      const char c = records[i].Event.KeyEvent.uChar.AsciiChar;
      for (WORD repeat = 0; repeat < records[i].Event.KeyEvent.wRepeatCount; ++repeat) {
        if (c == '\r' || c == '\n') {
          Write(output, "\r\n");
          return true;
        }
        if (c == '\b') {
          if (!line.empty()) {
            line.pop_back();
            Write(output, "\b \b");
          }
        } else if (static_cast<unsigned char>(c) >= 0x20) {
          line += c;
          Write(output, std::string(1, c));
        }
      }
    }
  }
}

}  // namespace

void WriteErrorNow(const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void InstallInterruptHandling() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_interruptEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  });
}

TerminalAnswer AskOnTerminal(const std::string& question) {
  // The console itself, whatever standard input and output were redirected to.
  const HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
  const HANDLE output = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD mode = 0;
  TerminalAnswer answer = TerminalAnswer::kNoTerminal;
  if (input != INVALID_HANDLE_VALUE && output != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode)) {
    Write(output, question + " [y/N] ");
    std::string line;
    if (!ReadAnswer(input, output, line)) {
      Write(output, "\r\n");
      answer = TerminalAnswer::kInterrupted;
    } else {
      const auto first = line.find_first_not_of(" \t");
      answer = first != std::string::npos && (line[first] == 'y' || line[first] == 'Y') ? TerminalAnswer::kYes
                                                                                        : TerminalAnswer::kNo;
    }
  }
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  return answer;
}

}  // namespace cvm6

namespace cvm6 {

bool IsLiveTerminal(std::FILE* out, bool cursorMoves) {
  const HANDLE handle = GetStdHandle(fileno(out) == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return false;  // a file or a pipe
  if (!cursorMoves || (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)) return true;
  // Consoles before Windows 10 know no escape sequences: their live lines would be noise.
  return SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace cvm6
