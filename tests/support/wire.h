#pragma once
// The far end's view of the wire, written apart from the product's codec (a bitwise
// CRC instead of the table, its own parser) so that a shared mistake cannot pass.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace cvm6::test {

using Bytes = std::vector<std::uint8_t>;

inline std::uint8_t BitwiseCrc8(const Bytes& bytes, std::size_t count) {
  std::uint8_t crc = 0xFF;
  for (std::size_t i = 0; i < count; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<std::uint8_t>((crc >> 1) ^ 0x8C) : crc >> 1;
  }
  return crc;
}

// A frame as the far end builds it by hand.
inline Bytes WireFrame(std::uint8_t dest, std::uint8_t src, std::optional<std::uint8_t> sequence, const Bytes& payload) {
  Bytes out{dest, static_cast<std::uint8_t>(sequence ? (src | 0x80) : src)};
  if (sequence) out.push_back(*sequence);
  out.push_back(static_cast<std::uint8_t>(payload.size() & 0xFF));
  out.insert(out.end(), payload.begin(), payload.end());
  out.push_back(BitwiseCrc8(out, out.size()));
  return out;
}

struct WireUnit {
  bool control = false;
  std::uint8_t byte = 0;   // the control byte
  Bytes raw;               // every byte of a frame as it came
  std::uint8_t dest = 0, src = 0, sequence = 0;
  bool ackWanted = false, crcGood = false;
  Bytes payload;
};

// Splits a byte stream into units; an incomplete frame at the end is left out.
inline std::vector<WireUnit> ParseUnits(const Bytes& stream) {
  std::vector<WireUnit> units;
  std::size_t i = 0;
  while (i < stream.size()) {
    WireUnit unit;
    if (stream[i] & 0x80) {
      unit.control = true;
      unit.byte = stream[i++];
      units.push_back(unit);
      continue;
    }
    const std::size_t start = i;
    if (i + 2 > stream.size()) break;
    unit.dest = stream[i++];
    const std::uint8_t srcByte = stream[i++];
    unit.ackWanted = srcByte & 0x80;
    unit.src = srcByte & 0x7F;
    if (unit.ackWanted) {
      if (i >= stream.size()) break;
      unit.sequence = stream[i++];
    }
    if (i >= stream.size()) break;
    const std::size_t n = stream[i] == 0 ? 256 : stream[i];
    ++i;
    if (i + n + 1 > stream.size()) break;
    unit.payload.assign(stream.begin() + static_cast<long>(i), stream.begin() + static_cast<long>(i + n));
    i += n;
    unit.raw.assign(stream.begin() + static_cast<long>(start), stream.begin() + static_cast<long>(i + 1));
    unit.crcGood = BitwiseCrc8(unit.raw, unit.raw.size() - 1) == stream[i];
    ++i;
    units.push_back(unit);
  }
  return units;
}

}  // namespace cvm6::test
