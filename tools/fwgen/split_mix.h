#pragma once
// A tiny generator of our own, so that the texts are the same bytes with every compiler
// and standard library (std:: distributions are not specified bit for bit).
#include <cstdint>

namespace fwgen {

class SplitMix {
 public:
  explicit SplitMix(std::uint64_t seed) : m_state(seed) {}

  std::uint64_t Next() {
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  // 0 .. n-1; n must be positive. The modulo bias is irrelevant for test data.
  std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(Next() % n); }

 private:
  std::uint64_t m_state;
};

}  // namespace fwgen
