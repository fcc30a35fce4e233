#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "platform/file_open.h"

namespace cvm6 {

std::FILE* OpenRegularFile(const std::string& windowsPath, std::string& systemPath) {
  if (windowsPath.empty() || windowsPath.find('\0') != std::string::npos) return nullptr;
  // Others may read the file meanwhile (an editor, a second updater); nobody may change
  // it under us. A directory does not open without FILE_FLAG_BACKUP_SEMANTICS.
  const HANDLE handle = CreateFileA(windowsPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  // "COM1", "CON", "NUL" and pipes open too: only files on a disk are read.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "rb");
  if (!file) {
    _close(fd);  // closes the handle too
    return nullptr;
  }
  systemPath = windowsPath;
  return file;
}

bool IsDirectory(const std::string& windowsPath) {
  if (windowsPath.empty() || windowsPath.find('\0') != std::string::npos) return false;
  const DWORD attributes = GetFileAttributesA(windowsPath.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace cvm6
