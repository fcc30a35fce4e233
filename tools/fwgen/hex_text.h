#pragma once
// Intel HEX text as the unit's tool chain writes it: upper-case digits, CR LF line ends.
#include <cstdint>
#include <span>
#include <string>

namespace fwgen {

// Appends one record ":" count, offset, type, data, checksum and CR LF.
void AppendRecord(std::string& text, std::uint16_t offset, std::uint8_t type, std::span<const std::uint8_t> data);

// Appends the end-of-file record ":00000001FF" and CR LF.
void AppendEndRecord(std::string& text);

}  // namespace fwgen
