// Ctrl-C and the controlling terminal on POSIX. SIGINT, SIGTERM and SIGHUP (the terminal
// closed under the program) are blocked in every thread and taken with sigwait() by one
// thread of their own, so the handling runs as ordinary code: it sets events and writes a
// byte to a pipe that a question waiting on the terminal polls beside it. The pipe is
// never drained: once readable, it stays so. SIGPIPE is ignored: output into a pipe whose
// reader went away (`cvm6-flash ... | head`) fails with EPIPE, and the units go on.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>

#include "console_io.h"
#include "interrupt_wakes.h"

namespace cvm6 {

const char* const kInterruptCauses = "Ctrl-C, SIGTERM or a hang-up";

namespace {

int g_interruptPipe[2] = {-1, -1};
void SignalThread(sigset_t signals) {
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (!MarkInterrupted()) LeaveAtOnce();
    RunInterruptWakes();
    const char byte = 1;
    (void)!write(g_interruptPipe[1], &byte, 1);
  }
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

void WriteErrorNow(const std::string& text) { (void)WriteAll(STDERR_FILENO, text); }

void InstallInterruptHandling() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (pipe2(g_interruptPipe, O_CLOEXEC) != 0) g_interruptPipe[0] = g_interruptPipe[1] = -1;
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    std::thread(SignalThread, signals).detach();
  });
}

TerminalAnswer AskOnTerminal(const std::string& question) {
  const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) return TerminalAnswer::kNoTerminal;
  TerminalAnswer answer = TerminalAnswer::kNo;
  if (WriteAll(tty, question + " [y/N] ")) {
    std::string line;
    for (;;) {
      pollfd fds[2] = {{tty, POLLIN, 0}, {g_interruptPipe[0], POLLIN, 0}};
      if (poll(fds, g_interruptPipe[0] >= 0 ? 2 : 1, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (InterruptRequested() || fds[1].revents != 0) {
        answer = TerminalAnswer::kInterrupted;
        (void)WriteAll(tty, "\n");
        break;
      }
      char c = 0;
      const ssize_t n = read(tty, &c, 1);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0 || c == '\n') break;  // end of input, or the answer is complete
      line += c;
    }
    const auto first = line.find_first_not_of(" \t");
    if (answer != TerminalAnswer::kInterrupted && first != std::string::npos &&
        (line[first] == 'y' || line[first] == 'Y'))
      answer = TerminalAnswer::kYes;
  }
  close(tty);
  return answer;
}

}  // namespace cvm6

namespace cvm6 {

// A terminal on POSIX takes the cursor movements as it is.
bool IsLiveTerminal(std::FILE* out, bool) { return isatty(fileno(out)) != 0; }

}  // namespace cvm6
