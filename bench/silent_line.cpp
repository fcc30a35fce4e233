// A serial line with nobody at the other end: opens a pseudo-terminal, prints the port to
// open, and takes in whatever is written to it without ever answering, until its
// standard input closes. scripts/bench times a Connect against it.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

int main() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    std::fprintf(stderr, "no pseudo-terminal\n");
    return 1;
  }
  // Held open so that the port's close does not hang the master up between runs.
  const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  if (slave >= 0 && tcgetattr(slave, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
  }
  std::printf("%s\n", name);
  std::fflush(stdout);
  for (;;) {
    pollfd fds[2] = {{master, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    char buffer[4096];
    if (fds[1].revents != 0 && read(STDIN_FILENO, buffer, sizeof buffer) <= 0) return 0;
    if (fds[0].revents != 0) (void)!read(master, buffer, sizeof buffer);
  }
}
