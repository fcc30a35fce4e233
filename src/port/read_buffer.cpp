#include "port/read_buffer.h"

#include <unistd.h>

namespace cvm6 {

ssize_t CReadBuffer::Fill(int fd) {
  m_begin = m_end = 0;
  const ssize_t n = ::read(fd, m_bytes, kCapacity);
  if (n > 0) m_end = static_cast<std::uint32_t>(n);
  return n;
}

}  // namespace cvm6
