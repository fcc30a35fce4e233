#include "image/hex_reader.h"

#include <array>
#include <memory>

#include "image/byte_stream.h"
#include "image/disk_file_stream.h"
#include "image/flash_image.h"
#include "platform/resources.h"

namespace cvm6 {

namespace {

constexpr std::uint8_t kNotADigit = 0xFF;

// Value of each character as a hexadecimal digit, kNotADigit for the others: one look-up
// instead of three range tests on each of the million characters of a release.
constexpr auto kDigitValues = [] {
  std::array<std::uint8_t, 256> values{};
  values.fill(kNotADigit);
  for (int c = '0'; c <= '9'; ++c) values[c] = static_cast<std::uint8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) values[c] = values[c + ('a' - 'A')] = static_cast<std::uint8_t>(c - 'A' + 10);
  return values;
}();

// The bodies of ReadHexDigit and ReadHexByte, inlined into the record loop.
inline std::uint8_t NextDigit(CByteStream& stream, std::uint8_t& digit) {
  std::uint8_t c = 0;
  if (!stream.ReadByte(c)) return kHexEndMarker;
  const std::uint8_t value = kDigitValues[c];
  if (value != kNotADigit) {
    digit = value;
    return 0;
  }
  return c == 0 ? kHexNulStandIn : c;
}

inline std::uint8_t NextByte(CByteStream& stream, std::uint8_t& byte) {
  std::uint8_t high = 0, low = 0;
  switch (NextDigit(stream, high)) {
    case 0:
      if (NextDigit(stream, low) != 0) return kHexNotDigit;
      byte = static_cast<std::uint8_t>(high << 4 | low);
      return kHexByteRead;
    case '\n':
    case '\r':
      return kHexLineEnd;
    case kHexEndMarker:
      return kHexEndOfInput;
    case 'S':
      return kHexLetterS;
    case ':':
      return kHexColon;
    default:
      return kHexNotDigit;
  }
}

}  // namespace

std::uint8_t ReadHexDigit(CByteStream& stream, std::uint8_t& digit) { return NextDigit(stream, digit); }

std::uint8_t ReadHexByte(CByteStream& stream, std::uint8_t& byte) { return NextByte(stream, byte); }

bool CFlashImage::ReadHex(CByteStream& stream, std::uint32_t base) {
  for (;;) {
    // Everything up to the next ":" is skipped: blank lines, notes, other record formats.
    std::uint8_t ignored = 0;
    for (std::uint8_t c = NextDigit(stream, ignored); c != ':'; c = NextDigit(stream, ignored))
      if (c == kHexEndMarker) return false;

    std::uint8_t count = 0, upper = 0, lower = 0, type = 0;
    if (NextByte(stream, count) != kHexByteRead || NextByte(stream, upper) != kHexByteRead ||
        NextByte(stream, lower) != kHexByteRead || NextByte(stream, type) != kHexByteRead)
      return false;

    auto sum = static_cast<std::uint8_t>(count + upper + lower + type);
    // No wrap at 64 KiB: a record running past offset 0xFFFF goes on into the next bank.
    std::uint32_t address = base + (std::uint32_t{upper} << 8 | lower);
    for (unsigned i = 0; i < count; ++i) {
      std::uint8_t data = 0;
      if (NextByte(stream, data) != kHexByteRead) return false;
      SetByte(address++, data);
      sum = static_cast<std::uint8_t>(sum + data);
    }
    std::uint8_t checksum = 0;
    if (NextByte(stream, checksum) != kHexByteRead) return false;
    if (static_cast<std::uint8_t>(sum + checksum) != 0) return false;  // its bytes stay stored
    if (type == 1) return true;
    // Every other type is taken as data; the texts use no extended address records.
  }
}

bool CFlashImage::LoadHexFile(const std::string& path, std::uint32_t base) {
  const auto stream = CDiskFileStream::Open(path);
  return stream && ReadHex(*stream, base);
}

bool CFlashImage::LoadHexResource(std::uint16_t id, std::uint32_t base) {
  const auto bytes = FindBinaryResource(id);
  if (!bytes) return false;
  CMemoryStream stream(*bytes);
  return ReadHex(stream, base);
}

}  // namespace cvm6
