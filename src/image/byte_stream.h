#pragma once
// The reader's input: something that hands out bytes. The reader asks for one byte at a
// time and stores each data byte as soon as it has it, so no record or line is buffered.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace cvm6 {

class CByteStream {
 public:
  virtual ~CByteStream() = default;
  // Reads up to `n` bytes into `buffer`; returns how many, 0 at the end of the input.
  virtual std::size_t Read(std::uint8_t* buffer, std::size_t n) = 0;
};

// A read-only view of bytes that live elsewhere (the embedded texts); nothing is copied.
class CMemoryStream final : public CByteStream {
 public:
  explicit CMemoryStream(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

  std::size_t Read(std::uint8_t* buffer, std::size_t n) override {
    const std::size_t count = std::min(n, m_bytes.size() - m_position);
    if (count > 0) std::memcpy(buffer, m_bytes.data() + m_position, count);
    m_position += count;
    return count;
  }

 private:
  std::span<const std::uint8_t> m_bytes;
  std::size_t m_position = 0;
};

}  // namespace cvm6
