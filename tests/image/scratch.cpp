#include "scratch.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

#include "support/process.h"

namespace cvm6::test {

ScratchDir::ScratchDir() {
  // A name nobody else has made: create_directory says whether it made the folder.
  static std::mt19937_64 names{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "cvm6-image-%012llx", static_cast<unsigned long long>(names() & 0xFFFFFFFFFFFF));
    const auto path = std::filesystem::temp_directory_path() / name;
    if (std::filesystem::create_directory(path)) {
      m_path = path;
      return;
    }
  }
  throw std::runtime_error("cannot make a scratch folder");
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::filesystem::path ScratchDir::Write(const std::string& relative, const std::string& bytes) const {
  const auto file = m_path / relative;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + file.string());
  return file;
}

CurrentDirGuard::CurrentDirGuard(const std::filesystem::path& dir) : m_saved(std::filesystem::current_path()) {
  std::filesystem::current_path(dir);
}

CurrentDirGuard::~CurrentDirGuard() {
  std::error_code ignored;
  std::filesystem::current_path(m_saved, ignored);
}

EnvGuard::EnvGuard(std::string name, const std::optional<std::string>& value) : m_name(std::move(name)) {
  if (const char* old = std::getenv(m_name.c_str())) m_saved = old;
  SetEnvironment(m_name, value);
}

EnvGuard::~EnvGuard() { SetEnvironment(m_name, m_saved); }

std::string HexRecord(std::uint16_t address, std::uint8_t type, const std::string& data) {
  std::string bytes;
  bytes += static_cast<char>(data.size());
  bytes += static_cast<char>(address >> 8);
  bytes += static_cast<char>(address & 0xFF);
  bytes += static_cast<char>(type);
  bytes += data;
  unsigned sum = 0;
  for (unsigned char c : bytes) sum += c;
  bytes += static_cast<char>((0x100 - (sum & 0xFF)) & 0xFF);
  std::string line = ":";
  char pair[3];
  for (unsigned char c : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", c);
    line += pair;
  }
  return line + "\r\n";
}

std::map<std::uint32_t, std::uint8_t> StoredBytes(const CFlashImage& image) {
  std::map<std::uint32_t, std::uint8_t> bytes;
  std::uint32_t address = 0xFFFFFFFF;
  for (std::uint32_t i = 0; i < image.GetCount(); ++i) {
    address = image.NextSetAddress(address);
    bytes[address] = image.GetByte(address);
  }
  return bytes;
}

}  // namespace cvm6::test
