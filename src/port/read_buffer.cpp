#include "port/read_buffer.h"

#include <unistd.h>

#include <cstring>

namespace cvm6 {

ssize_t CReadBuffer::Read(int fd, std::uint8_t* out, std::uint32_t count) {
  if (Size() == 0) {
    m_begin = m_end = 0;
    const ssize_t n = ::read(fd, m_bytes, kCapacity);
    if (n <= 0) return n;
    m_end = static_cast<std::uint32_t>(n);
  }
  const std::uint32_t moved = count < Size() ? count : Size();
  std::memcpy(out, m_bytes + m_begin, moved);
  m_begin += moved;
  return moved;
}

}  // namespace cvm6
