#pragma once
// A pseudo-terminal pair for tests: the slave path is opened by the code under test as
// a serial port; the test plays the far end on the master with raw bytes.
#include <cstddef>
#include <cstdint>
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
  int MasterFd() const { return m_master; }

  void Write(const std::vector<std::uint8_t>& bytes);
  void Write(const std::uint8_t* bytes, std::size_t count);
  // Reads up to `count` bytes, giving up after timeoutMs; returns what came.
  std::vector<std::uint8_t> Read(std::size_t count, int timeoutMs);
  // Reads whatever arrives until the line has been quiet for quietMs (or maxMs passed).
  std::vector<std::uint8_t> ReadUntilQuiet(int quietMs, int maxMs);
  void CloseMaster();

 private:
  int m_master = -1;
  int m_holdSlave = -1;  // keeps the slave side alive until the code under test opens it
  std::string m_slavePath;
};

}  // namespace cvm6::test
