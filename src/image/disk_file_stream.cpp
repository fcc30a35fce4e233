#include "image/disk_file_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "image/image_read_error.h"
#include "platform/file_open.h"

namespace cvm6 {

std::unique_ptr<CDiskFileStream> CDiskFileStream::Open(const std::string& windowsPath) {
  std::string path;
  std::FILE* file = OpenRegularFile(windowsPath, path);
  if (!file) return nullptr;
  return std::unique_ptr<CDiskFileStream>(new CDiskFileStream(file, path));
}

CDiskFileStream::~CDiskFileStream() { std::fclose(m_file); }

std::size_t CDiskFileStream::Read(std::uint8_t* buffer, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    if (m_next == m_limit) {
      if (!m_buffer) m_buffer = std::make_unique<std::uint8_t[]>(kBufferSize);
      const std::size_t count = std::fread(m_buffer.get(), 1, kBufferSize, m_file);
      m_next = m_buffer.get();
      m_limit = m_next + count;
      // Bytes read before an error are handed out first; the error, which stays set on
      // the file, is reported by the next fill, which then reads nothing.
      if (count == 0) {
        if (std::ferror(m_file)) {
          const int error = errno;
          throw CImageReadError("cannot read " + m_path + ": " + std::strerror(error));
        }
        break;
      }
    }
    const std::size_t count = std::min(n - done, static_cast<std::size_t>(m_limit - m_next));
    std::memcpy(buffer + done, m_next, count);
    m_next += count;
    done += count;
  }
  return done;
}

}  // namespace cvm6
