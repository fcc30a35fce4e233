#pragma once
// The low steps of the Intel HEX reader, one character at a time.
#include <cstdint>

namespace cvm6 {

class CByteStream;

// Byte that stands for the end of the input (and a 0xFF byte in it: no text holds one).
inline constexpr std::uint8_t kHexEndMarker = 0xFF;
// What ReadHexDigit returns for a NUL byte. Returning the byte itself would read as
// "a digit was read" (0) and hand on a stale value; DEL means nothing to any caller.
inline constexpr std::uint8_t kHexNulStandIn = 0x7F;

// Reads one character. A hexadecimal digit (either case): stores its value in `digit`
// and returns 0. End of input: returns kHexEndMarker. Anything else is returned as read
// (NUL as kHexNulStandIn), `digit` untouched.
std::uint8_t ReadHexDigit(CByteStream& stream, std::uint8_t& digit);

// Codes of ReadHexByte.
enum : std::uint8_t {
  kHexByteRead = 0,    // two digits, the first the upper four bits
  kHexLineEnd = 1,     // first character LF or CR
  kHexEndOfInput = 2,  // first character the end marker
  kHexLetterS = 3,     // first character "S" (a Motorola record)
  kHexColon = 4,       // first character ":"
  kHexNotDigit = 5,    // any other first character, or a digit followed by a non-digit
};

// Reads two characters as one byte into `byte`; returns one of the codes above.
std::uint8_t ReadHexByte(CByteStream& stream, std::uint8_t& byte);

}  // namespace cvm6
