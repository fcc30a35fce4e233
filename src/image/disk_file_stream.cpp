#include "image/disk_file_stream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "image/image_read_error.h"
#include "platform/path_mapping.h"

namespace cvm6 {

std::unique_ptr<CDiskFileStream> CDiskFileStream::Open(const std::string& windowsPath) {
  const auto path = MapWindowsPath(windowsPath);
  if (!path) return nullptr;
  // O_NONBLOCK so that a FIFO without a writer cannot hang the open; regular files
  // ignore it.
  const int fd = ::open(path->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "rb");
  if (!file) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<CDiskFileStream>(new CDiskFileStream(file, *path));
}

CDiskFileStream::~CDiskFileStream() { std::fclose(m_file); }

std::size_t CDiskFileStream::Read(std::uint8_t* buffer, std::size_t n) {
  const std::size_t count = std::fread(buffer, 1, n, m_file);
  if (count < n && std::ferror(m_file)) {
    const int error = errno;
    throw CImageReadError("cannot read " + m_path + ": " + std::strerror(error));
  }
  return count;
}

}  // namespace cvm6
