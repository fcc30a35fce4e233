#pragma once
// Why a firmware text could not be read whole, and where. The reader fills one in beside
// its true/false result; what it stores and where it stops do not depend on it.
#include <cstdint>
#include <string>

namespace cvm6 {

struct HexFault {
  enum Kind {
    kNone,
    kCannotOpen,     // the file or resource is not there or cannot be opened
    kNotADigit,      // a character inside a record is not a hexadecimal digit
    kCutByLineEnd,   // a line ends inside a record
    kCutByEnd,       // the text ends inside a record
    kWrongChecksum,  // a record's checksum does not match its bytes
    kNoEndRecord,    // the text ends without an end-of-file record
    kUnplaceable,    // an address record that moves the text, or a record of unknown type
    kLostColon,      // a line of hexadecimal digits without its ":": a damaged record
    kTextAfterRecord,  // something other than blanks after a record's checksum
    kIsADirectory,   // the name is a folder's
    kReadError,      // the system failed a read of the open file (detail: its words)
    // Lines of a list file that are not whole entries (detail: the line's words).
    kListBaseNotHex,
    kListNoBase,
    kListTextAfterBase,
    kListNameTooLong,
    kListControlByte,  // detail: the byte; the file is no list file
    // A file for the whole flash (HexAddressing::kWholeFlash):
    kBeyondFlash,        // a byte placed at kFlashEnd or above (address: where)
    kExtendedWithBase,   // an extended address other than 0 in a file read at a base (address: the base)
  };
  Kind kind = kNone;
  unsigned line = 0;  // line of the record at fault, counting from 1; 0 where there is none
  unsigned recordType = 0;  // for kUnplaceable
  std::string detail = {};  // for the list file's kinds and kReadError
  std::uint32_t address = 0;  // for kBeyondFlash and kExtendedWithBase

  // "line 12: wrong checksum", "no end-of-file record", ...
  std::string Describe() const;
  // The same without the line: "wrong checksum".
  std::string Reason() const;
};

}  // namespace cvm6
