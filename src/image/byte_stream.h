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

  // One byte, as Read(&byte, 1) == 1 would give it. Bytes that the stream already holds
  // in memory are taken inline: the reader asks for millions of single bytes.
  bool ReadByte(std::uint8_t& byte) {
    if (m_next != m_limit) {
      byte = *m_next++;
      return true;
    }
    return Read(&byte, 1) == 1;
  }

 protected:
  // The bytes in memory that come next, consumed by ReadByte; a stream that sets them
  // hands them out first in Read as well.
  const std::uint8_t* m_next = nullptr;
  const std::uint8_t* m_limit = nullptr;
};

// A read-only view of bytes that live elsewhere (the embedded texts); nothing is copied.
class CMemoryStream final : public CByteStream {
 public:
  explicit CMemoryStream(std::span<const std::uint8_t> bytes) {
    m_next = bytes.data();
    m_limit = bytes.data() + bytes.size();
  }

  std::size_t Read(std::uint8_t* buffer, std::size_t n) override {
    const std::size_t count = std::min(n, static_cast<std::size_t>(m_limit - m_next));
    if (count > 0) std::memcpy(buffer, m_next, count);
    m_next += count;
    return count;
  }
};

}  // namespace cvm6
