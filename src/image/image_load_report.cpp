#include "image/image_load_report.h"

#include <cstdio>

#include "image/flash_image.h"
#include "image/list_file.h"

namespace cvm6 {

namespace {

// A list file's line in a message: as written, cut when it is very long.
std::string Quoted(const std::string& text) {
  constexpr std::size_t kShown = 100;
  // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on a chain of +.
  std::string quoted(1, '"');
  quoted.append(PrintableText(text.substr(0, kShown)));
  if (text.size() > kShown) quoted.append("...");
  quoted.push_back('"');
  return quoted;
}

}  // namespace

std::string HexFault::Describe() const {
  return line != 0 ? "line " + std::to_string(line) + ": " + Reason() : Reason();
}

std::string HexFault::Reason() const {
  std::string what;
  switch (kind) {
    case kNone: what = "read whole"; break;
    case kCannotOpen: what = "cannot be opened"; break;
    case kIsADirectory: what = "is a directory"; break;
    case kReadError: what = detail; break;
    case kNoEndRecord: what = "no end-of-file record"; break;
    case kNotADigit: what = "a character that is not a hexadecimal digit"; break;
    case kCutByLineEnd: what = "a record cut short by a line end"; break;
    case kCutByEnd: what = "a record cut short by the end of the text"; break;
    case kWrongChecksum: what = "wrong checksum"; break;
    case kUnplaceable: what = "a record of type " + std::to_string(recordType) + " that this updater cannot place"; break;
    case kLostColon: what = "hexadecimal digits without a \":\" (a record that lost its colon)"; break;
    case kTextAfterRecord: what = "more text after the record's checksum"; break;
    case kListBaseNotHex: what = "the base of " + Quoted(detail) + " is not a hexadecimal number"; break;
    case kListNoBase: what = Quoted(detail) + " has no base address"; break;
    case kListTextAfterBase: what = Quoted(detail) + " has more after its base address"; break;
    case kListNameTooLong:
      what = "the name in " + Quoted(detail) + " is longer than " + std::to_string(kMaxListName) + " characters";
      break;
    case kListControlByte: what = "a control byte (" + detail + "): this is not a list file"; break;
    case kBeyondFlash: {
      char text[96];
      std::snprintf(text, sizeof text, "a byte at 0x%05lX, beyond the unit's flash (which ends at 0x%05lX)",
                    static_cast<unsigned long>(address), static_cast<unsigned long>(kFlashEnd - 1));
      what = text;
      break;
    }
    case kExtendedWithBase: {
      char text[160];
      std::snprintf(text, sizeof text,
                    "an extended address record (type %u) in a file read at base 0X%05lX: its records place "
                    "themselves; read it at base 0",
                    recordType, static_cast<unsigned long>(address));
      what = text;
      break;
    }
  }
  return what;
}

std::string ImageLoadReport::SourceText() const {
  switch (source) {
    case ImageSource::kListFile: return "list file " + PrintableText(path);
    case ImageSource::kDriveY: return "hex files Y:\\CVM6\\cvm6.H01 to .H14";
    case ImageSource::kEmbedded: return "embedded image";
    case ImageSource::kHexFile: {
      char at[24];
      std::snprintf(at, sizeof at, " at base 0X%05lX", static_cast<unsigned long>(base));
      return "hex file " + PrintableText(path) + at;
    }
  }
  return "";
}

std::string ImageLoadReport::RefusalText() const {
  std::string text = "The firmware image is damaged or incomplete:\n";
  for (const auto& [name, fault] : faults) text += PrintableText(name) + ", " + fault.Describe() + "\n";
  return text + "Nothing was written to the device.";
}

}  // namespace cvm6

namespace cvm6 {

std::string ImageLoadReport::ListEndText() const {
  if (!listEnd) return "";
  char endBase[16];
  std::snprintf(endBase, sizeof endBase, "0X%lX", static_cast<unsigned long>(listEnd->second));
  return "The list ended at line " + std::to_string(listEnd->first) + " (base " + endBase +
         "): that line and the lines after it were not read.";
}

}  // namespace cvm6
