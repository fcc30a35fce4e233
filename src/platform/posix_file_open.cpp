#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_open.h"
#include "platform/path_mapping.h"

namespace cvm6 {

std::FILE* OpenRegularFile(const std::string& windowsPath, std::string& systemPath) {
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
  systemPath = *path;
  return file;
}

bool IsDirectory(const std::string& windowsPath) {
  const auto path = MapWindowsPath(windowsPath);
  struct stat info {};
  return path && ::stat(path->c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace cvm6
