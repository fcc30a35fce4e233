// cvm6-pty-agent DOSDEVICES PORTFILE: pseudo-terminals for Windows test programs that
// run under Wine, which cannot make them themselves.
//
// The agent listens on a local TCP port, which it writes to PORTFILE. For each
// connection it makes a pseudo-terminal in raw mode, links its slave to the first free
// COM port of the Wine prefix (DOSDEVICES/comN, N from 10 up, so the prefix's own COM1..
// stay as they are), answers "COMN\n" and from then on carries bytes between the
// connection and the master both ways. When the connection closes, the master closes:
// the program's open COM port sees what an unplugged adapter looks like. The agent holds
// the slave open meanwhile, so that bytes sent before the program opens the port wait
// for it instead of being lost to a hang-up.
//
// It ends when its parent (run-under-wine) ends, or on SIGTERM, and removes its links.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

constexpr int kFirstCom = 10;
constexpr int kLastCom = 250;

std::string g_dosdevices;
// Links this agent made, for the signal handler: unlink() is safe there.
char g_links[kLastCom + 1][512];

void RemoveLinks(int) {
  for (int n = kFirstCom; n <= kLastCom; ++n)
    if (g_links[n][0]) unlink(g_links[n]);
  _exit(0);
}

void MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return;
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tcsetattr(fd, TCSANOW, &tio);
}

bool WriteAll(int fd, const char* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 100);
      continue;
    }
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

void Serve(int connection) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char slaveName[128] = {};
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
      ptsname_r(master, slaveName, sizeof slaveName) != 0) {
    const std::string error = std::string("ERROR no pseudo-terminal: ") + std::strerror(errno) + "\n";
    WriteAll(connection, error.data(), error.size());
    close(connection);
    return;
  }
  const int slave = open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC);
  MakeRaw(master);
  MakeRaw(slave);

  int com = 0;
  for (int n = kFirstCom; n <= kLastCom && com == 0; ++n) {
    const std::string link = g_dosdevices + "/com" + std::to_string(n);
    if (symlink(slaveName, link.c_str()) == 0) {
      com = n;
      std::snprintf(g_links[n], sizeof g_links[n], "%s", link.c_str());
    }
  }
  const std::string answer = com ? "COM" + std::to_string(com) + "\n" : "ERROR no free COM port\n";
  if (com == 0 || !WriteAll(connection, answer.data(), answer.size())) {
    close(connection);
    close(master);
    if (slave >= 0) close(slave);
    return;
  }

  // The master's writes wait in poll(); a short write is finished before reading more.
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  char buffer[4096];
  for (;;) {
    pollfd fds[2] = {{connection, POLLIN, 0}, {master, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents) {
      const ssize_t n = read(connection, buffer, sizeof buffer);
      if (n <= 0) break;  // the test closed its end: unplug
      if (!WriteAll(master, buffer, static_cast<std::size_t>(n))) break;
    }
    if (fds[1].revents & POLLIN) {
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0 && !WriteAll(connection, buffer, static_cast<std::size_t>(n))) break;
    }
  }
  close(master);  // first: the program's port sees the hang-up at once
  if (slave >= 0) close(slave);
  unlink(g_links[com]);
  g_links[com][0] = 0;
  close(connection);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: cvm6-pty-agent DOSDEVICES PORTFILE\n");
    return 2;
  }
  g_dosdevices = argv[1];
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  std::signal(SIGTERM, RemoveLinks);
  std::signal(SIGINT, RemoveLinks);
  std::signal(SIGPIPE, SIG_IGN);
  if (getppid() == 1) return 0;  // the parent was already gone

  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 16) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    std::perror("cvm6-pty-agent");
    return 1;
  }
  // Written whole and then renamed, so that a reader never sees half a number.
  const std::string portFile = argv[2], temporary = portFile + ".tmp";
  if (FILE* out = std::fopen(temporary.c_str(), "w")) {
    std::fprintf(out, "%d\n", ntohs(address.sin_port));
    std::fclose(out);
    std::rename(temporary.c_str(), portFile.c_str());
  }
  for (;;) {
    const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) {
      if (errno == EINTR) continue;
      std::perror("cvm6-pty-agent: accept");
      return 1;
    }
    int one = 1;
    setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::thread(Serve, connection).detach();
  }
}
