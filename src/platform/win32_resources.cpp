// The program's own resources on Windows, compiled into the .exe from the resource
// script that the build writes from src/res's tables.
#include <windows.h>

#include <vector>

#include "platform/resources.h"

namespace cvm6 {

std::optional<std::string> LoadResString(std::uint32_t id) {
  // LoadStringA gives no length up front; a text that fills the buffer may have been cut.
  std::vector<char> buffer(512);
  for (;;) {
    const int length = LoadStringA(GetModuleHandleA(nullptr), id, buffer.data(), static_cast<int>(buffer.size()));
    if (length <= 0) return std::nullopt;  // no such entry (the table holds no empty texts)
    if (static_cast<std::size_t>(length) + 1 < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 4);
  }
}

std::optional<std::span<const std::uint8_t>> FindBinaryResource(std::uint16_t id) {
  const HMODULE module = GetModuleHandleA(nullptr);
  const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), "Binary");
  if (!found) return std::nullopt;
  const HGLOBAL loaded = LoadResource(module, found);
  if (!loaded) return std::nullopt;
  const DWORD size = SizeofResource(module, found);
  // Resources stay mapped for the life of the module: the view needs no release.
  const void* bytes = LockResource(loaded);
  if (!bytes) return std::nullopt;
  return std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(bytes), size);
}

}  // namespace cvm6
