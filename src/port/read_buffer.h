#pragma once
// The bytes one read(2) brought in beyond what the caller asked for. A frame, or an
// acknowledgement followed by a reply, arrives in one piece; taking it with one system
// call instead of one per header, payload and CRC matters on a stop-and-wait line, and
// knowing what is already here lets the link's receiver tell whether its next read can
// wait. Used by one reading thread only.
#include <sys/types.h>

#include <cstdint>

namespace cvm6 {

class CReadBuffer {
 public:
  std::uint32_t Size() const { return m_end - m_begin; }

  // Moves up to `count` bytes to `out`: the buffered ones, or when there are none, what
  // one non-blocking read(2) of `fd` brings. Returns how many moved, or read(2)'s own
  // result when it brought nothing (0, or -1 with errno left for the caller).
  ssize_t Read(int fd, std::uint8_t* out, std::uint32_t count);

 private:
  static constexpr std::uint32_t kCapacity = 4096;
  std::uint8_t m_bytes[kCapacity];
  std::uint32_t m_begin = 0, m_end = 0;
};

}  // namespace cvm6
