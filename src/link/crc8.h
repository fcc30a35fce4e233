#pragma once
// The frame check: the Dallas/Maxim 1-Wire CRC-8 table (x^8 + x^5 + x^4 + 1, reflected
// 0x8C), run from the start value 0xFF with no final XOR.
#include <array>
#include <cstddef>
#include <cstdint>

namespace cvm6 {

constexpr std::uint8_t kCrcStart = 0xFF;

constexpr std::array<std::uint8_t, 256> MakeCrc8Table() {
  std::array<std::uint8_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0x8C : crc >> 1;
    table[i] = static_cast<std::uint8_t>(crc);
  }
  return table;
}

inline constexpr std::array<std::uint8_t, 256> kCrc8Table = MakeCrc8Table();

constexpr std::uint8_t Crc8Update(std::uint8_t crc, std::uint8_t byte) { return kCrc8Table[crc ^ byte]; }

constexpr std::uint8_t Crc8(const std::uint8_t* data, std::size_t size, std::uint8_t crc = kCrcStart) {
  for (std::size_t i = 0; i < size; ++i) crc = Crc8Update(crc, data[i]);
  return crc;
}

}  // namespace cvm6
