#include <windows.h>

#include <cstdio>

#include "terminal_width.h"

namespace cvm6 {

// The console window's visible width, not its buffer's (which is often 120 or more
// columns wider than what shows).
int TerminalColumns(std::FILE* out) {
  const HANDLE handle = GetStdHandle(fileno(out) == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (handle == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(handle, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace cvm6
