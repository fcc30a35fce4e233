#include "hex_text.h"

namespace fwgen {
namespace {

void AppendByte(std::string& text, std::uint8_t byte, std::uint8_t& sum) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  text += kDigits[byte >> 4];
  text += kDigits[byte & 15];
  sum = static_cast<std::uint8_t>(sum + byte);
}

}  // namespace

void AppendRecord(std::string& text, std::uint16_t offset, std::uint8_t type, std::span<const std::uint8_t> data) {
  std::uint8_t sum = 0;
  text += ':';
  AppendByte(text, static_cast<std::uint8_t>(data.size()), sum);
  AppendByte(text, static_cast<std::uint8_t>(offset >> 8), sum);
  AppendByte(text, static_cast<std::uint8_t>(offset), sum);
  AppendByte(text, type, sum);
  for (std::uint8_t byte : data) AppendByte(text, byte, sum);
  std::uint8_t ignored = 0;
  AppendByte(text, static_cast<std::uint8_t>(-sum), ignored);
  text += "\r\n";
}

void AppendEndRecord(std::string& text) { AppendRecord(text, 0, 1, {}); }

}  // namespace fwgen
