#include <sys/ioctl.h>
#include <unistd.h>

#include "terminal_width.h"

namespace cvm6 {

int TerminalColumns(std::FILE* out) {
  winsize size{};
  if (ioctl(fileno(out), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

}  // namespace cvm6
