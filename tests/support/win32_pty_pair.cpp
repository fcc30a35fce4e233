// The far end of a test's serial port under Wine: a pseudo-terminal held by
// cvm6-pty-agent on the build machine, reached over a local socket. The agent links the
// slave to a COM port of the test's Wine prefix and names it in its first line; from
// then on the socket carries the master's bytes both ways, and closing it closes the
// master, which the port sees as an unplugged adapter.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "support/pty_pair.h"

namespace cvm6::test {
namespace {

struct Winsock {
  Winsock() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("no Winsock");
  }
};

}  // namespace

struct PtyPair::Master {
  SOCKET socket = INVALID_SOCKET;
  std::atomic<bool> open{false};
};

PtyPair::PtyPair() : m_master(std::make_unique<Master>()) {
  static Winsock winsock;
  const char* agent = std::getenv("CVM6_PTY_AGENT");
  if (!agent || !*agent)
    throw std::runtime_error("CVM6_PTY_AGENT is not set: run the test through run-under-wine");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(std::atoi(agent)));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) throw std::runtime_error("no socket");
  m_master->socket = s;
  if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    throw std::runtime_error(std::string("cannot reach cvm6-pty-agent at port ") + agent);
  BOOL noDelay = TRUE;  // each test byte goes out at once, as on a line
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  // The first line names the port: "COM12\n", or "ERROR reason\n". An agent that does
  // not answer fails the test instead of hanging it.
  DWORD limitMs = 10000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limitMs), sizeof limitMs);
  std::string line;
  char c = 0;
  while (line.size() < 200 && ::recv(s, &c, 1, 0) == 1 && c != '\n') line += c;
  if (line.rfind("COM", 0) != 0) throw std::runtime_error("cvm6-pty-agent did not name a port: " + line);
  limitMs = 0;  // from here on ReadSome waits with select()
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limitMs), sizeof limitMs);
  m_slavePath = line;
  m_master->open = true;
}

PtyPair::~PtyPair() {
  CloseMaster();
  closesocket(m_master->socket);
}

bool PtyPair::IsMasterOpen() const { return m_master->open; }

void PtyPair::Write(const std::uint8_t* bytes, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const int n = ::send(m_master->socket, reinterpret_cast<const char*>(bytes + done), static_cast<int>(count - done), 0);
    if (n <= 0) throw std::runtime_error("pty write failed");
    done += static_cast<std::size_t>(n);
  }
}

int PtyPair::ReadSome(std::uint8_t* out, std::size_t capacity, int timeoutMs) {
  if (!m_master->open) return -1;
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(m_master->socket, &readable);
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int ready = ::select(0, &readable, nullptr, nullptr, &limit);
  if (!m_master->open) return -1;
  if (ready <= 0) return 0;
  const int n = ::recv(m_master->socket, reinterpret_cast<char*>(out), static_cast<int>(capacity), 0);
  return n > 0 ? n : -1;
}

void PtyPair::CloseMaster() {
  // The socket itself stays until the destructor: another thread may be reading it.
  if (m_master->open.exchange(false)) ::shutdown(m_master->socket, SD_BOTH);
}

}  // namespace cvm6::test
