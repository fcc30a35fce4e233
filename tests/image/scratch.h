#pragma once
// Temporary directories, current directory and environment for tests of the image
// sources. Each guard puts back what it changed, so tests do not leak into one another.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "image/flash_image.h"

namespace cvm6::test {

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  // Writes `bytes` to `relative` under the directory, creating folders on the way.
  std::filesystem::path Write(const std::string& relative, const std::string& bytes) const;

 private:
  std::filesystem::path m_path;
};

class CurrentDirGuard {
 public:
  explicit CurrentDirGuard(const std::filesystem::path& dir);
  ~CurrentDirGuard();

 private:
  std::filesystem::path m_saved;
};

class EnvGuard {
 public:
  // Sets `name` to `value`, or removes it when `value` is empty.
  EnvGuard(std::string name, const std::optional<std::string>& value);
  ~EnvGuard();

 private:
  std::string m_name;
  std::optional<std::string> m_saved;
};

// One Intel HEX record line with CR LF, checksum computed here.
std::string HexRecord(std::uint16_t address, std::uint8_t type, const std::string& data);
inline constexpr const char* kEndRecord = ":00000001FF\r\n";

// Every stored byte of `image`, by address, found by walking NextSetAddress.
std::map<std::uint32_t, std::uint8_t> StoredBytes(const CFlashImage& image);

}  // namespace cvm6::test
