// The far end's reads and writes that do not depend on the platform.
#include <algorithm>
#include <chrono>

#include "support/pty_pair.h"

namespace cvm6::test {

std::vector<std::uint8_t> PtyPair::Read(std::size_t count, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::vector<std::uint8_t> out;
  while (out.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    std::uint8_t buf[512];
    const int n = ReadSome(buf, std::min(sizeof buf, count - out.size()), static_cast<int>(left));
    if (n < 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

std::vector<std::uint8_t> PtyPair::ReadUntilQuiet(int quietMs, int maxMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(maxMs);
  std::vector<std::uint8_t> out;
  while (Clock::now() < deadline) {
    std::uint8_t buf[512];
    const int n = ReadSome(buf, sizeof buf, quietMs);
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

void PtyPair::Write(const std::vector<std::uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }

}  // namespace cvm6::test
