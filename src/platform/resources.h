#pragma once
// The program's own resources, looked up by numeric id as the window and the image
// loader expect: the string table and the "Binary" texts. The data is compiled into
// the program by src/res; nothing is read from disk.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace cvm6 {

// Text of string-table entry `id`, or nothing when the table has no such entry.
std::optional<std::string> LoadResString(std::uint32_t id);

// Bytes of the resource of type "Binary" with this id, viewed in place (no copy),
// or nothing when there is none.
std::optional<std::span<const std::uint8_t>> FindBinaryResource(std::uint16_t id);

}  // namespace cvm6
