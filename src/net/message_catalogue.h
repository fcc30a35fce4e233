#pragma once
// The fixed table of every message the unit's control protocol defines: identifier,
// payload length bounds (identifier bytes included) and the string id of its name.
// The node uses it for two things only: the length check of received messages and the
// names in its trace lines. Nothing limits what the updater sends.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace cvm6 {

struct MessageRow {
  std::uint16_t id;
  std::uint16_t minLength;
  std::uint16_t maxLength;
  std::uint32_t nameStringId;
};

constexpr std::size_t kMessageCount = 121;

// In the unit's own order: rising identifiers, except that 0x24 (the write-flash
// acknowledgement) stands right after 0x19, the write-flash request it answers.
extern const std::array<MessageRow, kMessageCount> MessageCatalogue;

// The row with this identifier, or null. Searches from the first row on.
const MessageRow* FindMessage(std::uint16_t id);

// The length rule for received payloads: `length` is the payload size in bytes (1..256,
// a length byte of 0 already read as 256).
constexpr bool PassesLengthCheck(const MessageRow& row, std::uint32_t length) {
  return row.minLength <= length && length <= row.maxLength;
}

// The row's name, loaded from the string table each time ("" if the table lacks it).
std::string MessageName(const MessageRow& row);

}  // namespace cvm6
