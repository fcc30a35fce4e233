#include "image/hex_reader.h"

#include <algorithm>
#include <array>
#include <memory>

#include "image/byte_stream.h"
#include "image/disk_file_stream.h"
#include "image/flash_image.h"
#include "platform/file_open.h"
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

namespace {

constexpr std::uint8_t kEndOfFileRecord = 1;

// Whether a text holding this record can still be placed at its base. The unit's own
// texts hold data records and one end record only. A start address (types 3 and 5) means
// nothing to the flash and is passed over; a segment or upper address (types 2 and 4) of
// 0 moves nothing. Any other address would move the records after it where this updater
// does not put them, and an unknown type may be anything: such a text is refused.
bool Placeable(std::uint8_t type, std::uint8_t count, std::uint32_t value) {
  switch (type) {
    case 3:
    case 5: return true;
    case 2:
    case 4: return count == 2 && value == 0;
    default: return false;
  }
}

bool IsBlank(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// Watches a line between records, one character at a time as NextDigit returns them (0
// for a hexadecimal digit). Lines without a ":" are skipped, but one that holds nothing
// but hexadecimal digits, at least as many as the shortest record has (count, address,
// type, checksum), after at most one first character that is no letter, is a record
// whose ":" was lost or damaged on its way: skipping it would leave its bytes erased.
// Lines that begin with a letter ("S" records, words) or mix in blanks are notes.
class CLineBetweenRecords {
 public:
  void Take(std::uint8_t c) {
    if (IsBlank(c)) {
      m_blankAfterContent = m_content;
      return;
    }
    if (m_blankAfterContent) m_note = true;
    const bool digit = c == 0;
    if (digit) {
      ++m_digits;
    } else if (m_content || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      m_note = true;
    }
    m_content = true;
  }
  bool LostItsColon() const { return !m_note && m_digits >= kShortestRecordDigits; }

 private:
  static constexpr unsigned kShortestRecordDigits = 10;
  unsigned m_digits = 0;
  bool m_content = false, m_blankAfterContent = false, m_note = false;
};

HexFault::Kind FaultOf(std::uint8_t code) {
  switch (code) {
    case kHexLineEnd: return HexFault::kCutByLineEnd;
    case kHexEndOfInput: return HexFault::kCutByEnd;
    default: return HexFault::kNotADigit;
  }
}

}  // namespace

bool CFlashImage::ReadHex(CByteStream& stream, std::uint32_t base, HexFault* fault, HexAddressing addressing) {
  // The line of the record being read: line ends come between records, where the scan
  // for ":" sees them anyway, so counting them costs nothing inside the records.
  unsigned line = 1;
  auto fail = [&](HexFault::Kind kind, unsigned at) {
    if (fault) *fault = HexFault{kind, at};
    return false;
  };
  // A UTF-8 byte order mark, as some editors write, may come first.
  static constexpr std::uint8_t kByteOrderMark[] = {0xEF, 0xBB, 0xBF};
  std::size_t markMatched = 0;
  // A whole flash's extended address: added to every record's offset, which within a
  // segment (type 2) wraps at 64 KiB as the format has it.
  std::uint32_t extended = 0;
  bool segmented = false;
  const bool wholeFlash = addressing == HexAddressing::kWholeFlash;
  for (;;) {
    // Everything up to the next ":" is skipped: blank lines, notes, other record formats;
    // but not a record that lost its colon.
    std::uint8_t ignored = 0;
    CLineBetweenRecords between;
    for (std::uint8_t c = NextDigit(stream, ignored); c != ':'; c = NextDigit(stream, ignored)) {
      if (c == kHexEndMarker || c == '\n') {
        if (between.LostItsColon()) return fail(HexFault::kLostColon, line);
        if (c == kHexEndMarker) return fail(HexFault::kNoEndRecord, 0);
        between = {};
        ++line;
        markMatched = 3;
        continue;
      }
      if (markMatched < 3 && c == kByteOrderMark[markMatched]) {
        ++markMatched;
        continue;
      }
      markMatched = 3;
      between.Take(c);
    }
    markMatched = 3;

    std::uint8_t count = 0, upper = 0, lower = 0, type = 0;
    for (std::uint8_t* field : {&count, &upper, &lower, &type})
      if (const std::uint8_t code = NextByte(stream, *field); code != kHexByteRead) return fail(FaultOf(code), line);

    auto sum = static_cast<std::uint8_t>(count + upper + lower + type);
    // Only data (type 0) and end-of-file (type 1) records put bytes into flash. The bytes
    // of an address record are an address, never firmware: they are kept apart.
    const bool data = type <= kEndOfFileRecord;
    std::uint32_t value = 0;
    // No wrap at 64 KiB: a record running past offset 0xFFFF goes on into the next bank.
    const std::uint32_t offset = std::uint32_t{upper} << 8 | lower;
    for (unsigned i = 0; i < count; ++i) {
      std::uint8_t byte = 0;
      if (const std::uint8_t code = NextByte(stream, byte); code != kHexByteRead) return fail(FaultOf(code), line);
      if (data) {
        // In 64 bits: the top of a linear address does not wrap to the bottom of the flash.
        const std::uint64_t at = std::uint64_t{base} + extended + (segmented ? (offset + i) & 0xFFFF : offset + i);
        if (wholeFlash && at >= kFlashEnd) {
          const auto shown = static_cast<std::uint32_t>(std::min<std::uint64_t>(at, 0xFFFFFFFF));
          if (fault) *fault = HexFault{HexFault::kBeyondFlash, line, 0, {}, shown};
          return false;
        }
        SetByte(static_cast<std::uint32_t>(at), byte);
      } else {
        value = value << 8 | byte;
      }
      sum = static_cast<std::uint8_t>(sum + byte);
    }
    std::uint8_t checksum = 0;
    if (const std::uint8_t code = NextByte(stream, checksum); code != kHexByteRead) return fail(FaultOf(code), line);
    if (static_cast<std::uint8_t>(sum + checksum) != 0) return fail(HexFault::kWrongChecksum, line);  // bytes stay
    if (type == kEndOfFileRecord) {
      if (fault) *fault = HexFault{};
      return true;
    }
    if (!data && wholeFlash && (type == 2 || type == 4) && count == 2) {
      if (value != 0 && base != 0) {
        if (fault) *fault = HexFault{HexFault::kExtendedWithBase, line, type, {}, base};
        return false;
      }
      extended = type == 4 ? value << 16 : value << 4;
      segmented = type == 2;
    } else if (!data && !Placeable(type, count, value)) {
      if (fault) *fault = HexFault{HexFault::kUnplaceable, line, type};
      return false;
    }
    // The rest of the record's line holds nothing but blanks: a byte that damage put
    // there would otherwise pass unseen.
    for (;;) {
      const std::uint8_t c = NextDigit(stream, ignored);
      if (c == '\n') {
        ++line;
        break;
      }
      if (c == kHexEndMarker) return fail(HexFault::kNoEndRecord, 0);
      if (!IsBlank(c)) return fail(HexFault::kTextAfterRecord, line);
    }
  }
}

bool CFlashImage::LoadHexFile(const std::string& path, std::uint32_t base, HexFault* fault,
                              HexAddressing addressing) {
  const auto stream = CDiskFileStream::Open(path);
  if (!stream) {
    if (fault) *fault = HexFault{IsDirectory(path) ? HexFault::kIsADirectory : HexFault::kCannotOpen, 0};
    return false;
  }
  return ReadHex(*stream, base, fault, addressing);
}

bool CFlashImage::LoadHexResource(std::uint16_t id, std::uint32_t base, HexFault* fault) {
  const auto bytes = FindBinaryResource(id);
  if (!bytes) {
    if (fault) *fault = HexFault{HexFault::kCannotOpen, 0};
    return false;
  }
  CMemoryStream stream(*bytes);
  return ReadHex(stream, base, fault);
}

}  // namespace cvm6
