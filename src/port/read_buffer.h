#pragma once
// The bytes one read(2) brought in beyond what the caller asked for. A frame, or an
// acknowledgement followed by a reply, arrives in one piece; taking it with one system
// call instead of one per header, payload and CRC matters on a stop-and-wait line, and
// knowing what is already here lets the link's receiver tell whether its next read can
// wait. Used by one reading thread only.
#include <sys/types.h>

#include <cstdint>
#include <cstring>

namespace cvm6 {

class CReadBuffer {
 public:
  std::uint32_t Size() const { return m_end - m_begin; }

  // Moves up to `count` buffered bytes to `out`; returns how many.
  std::uint32_t Take(std::uint8_t* out, std::uint32_t count) {
    const std::uint32_t n = count < Size() ? count : Size();
    std::memcpy(out, m_bytes + m_begin, n);
    m_begin += n;
    return n;
  }

  // One non-blocking read(2) of `fd` into the empty buffer; its result as read(2)
  // gives it (errno is left for the caller).
  ssize_t Fill(int fd);

 private:
  static constexpr std::uint32_t kCapacity = 4096;
  std::uint8_t m_bytes[kCapacity];
  std::uint32_t m_begin = 0, m_end = 0;
};

}  // namespace cvm6
