#include "flash_log.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

namespace cvm6 {

std::unique_ptr<CFlashLog> CFlashLog::Open(const std::string& path, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (!file) {
    error = std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<CFlashLog>(new CFlashLog(file));
}

CFlashLog::~CFlashLog() { std::fclose(m_file); }

void CFlashLog::Write(const std::string& port, const std::string& text) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::lock_guard<std::mutex> guard(m_lock);
  // localtime's buffer is shared: the log's lock is the only one that uses it.
  char stamp[40] = "";
  if (const std::tm* local = std::localtime(&seconds)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", local);
  const std::string prefix =
      std::string(stamp) + "." + std::to_string(1000 + ms).substr(1) + " " + (port.empty() ? "" : "[" + port + "] ");
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    if (end > begin) {
      const std::string line = prefix + text.substr(begin, end - begin) + "\n";
      std::fwrite(line.data(), 1, line.size(), m_file);
    }
    begin = end + 1;
  }
  std::fflush(m_file);
}

}  // namespace cvm6
