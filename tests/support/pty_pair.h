#pragma once
// A pseudo-terminal pair for tests: the slave is opened by the code under test as a
// serial port by SlavePath(); the test plays the far end on the master with raw bytes.
//
// POSIX makes the pair itself. Under Wine (a Windows build) the pair lives in
// cvm6-pty-agent beside Wine, which links the slave to a COM port of the test's Wine
// prefix; SlavePath() is then that port's name ("COM12") and the master's bytes travel
// over a local socket to the agent, which closes the master when the socket closes.
//
// Threading: one thread may read while another writes; CloseMaster may come from either.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cvm6::test {

class PtyPair {
 public:
  PtyPair();   // raw mode on both sides; throws std::runtime_error on failure
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return m_slavePath; }

  void Write(const std::vector<std::uint8_t>& bytes);
  void Write(const std::uint8_t* bytes, std::size_t count);
  // Reads up to `count` bytes, giving up after timeoutMs; returns what came.
  std::vector<std::uint8_t> Read(std::size_t count, int timeoutMs);
  // Reads whatever arrives until the line has been quiet for quietMs (or maxMs passed).
  std::vector<std::uint8_t> ReadUntilQuiet(int quietMs, int maxMs);
  // What is there or comes within timeoutMs, at most `capacity` bytes: the count read,
  // 0 when nothing came, -1 once the master is closed.
  int ReadSome(std::uint8_t* out, std::size_t capacity, int timeoutMs);
  // The far end goes away, as an unplugged adapter does.
  void CloseMaster();
  bool IsMasterOpen() const;

 private:
  struct Master;  // the platform's end: a descriptor, or the socket to the agent
  std::unique_ptr<Master> m_master;
  std::string m_slavePath;
};

}  // namespace cvm6::test
