#include "image/image_load_report.h"

#include <cstdio>

namespace cvm6 {

std::string HexFault::Describe() const {
  const char* what = "";
  switch (kind) {
    case kNone: return "read whole";
    case kCannotOpen: return "cannot be opened";
    case kNoEndRecord: return "no end-of-file record";
    case kNotADigit: what = "a character that is not a hexadecimal digit"; break;
    case kCutByLineEnd: what = "a record cut short by a line end"; break;
    case kCutByEnd: what = "a record cut short by the end of the text"; break;
    case kWrongChecksum: what = "wrong checksum"; break;
    case kUnplaceable: {
      const std::string record = "a record of type " + std::to_string(recordType) + " that this updater cannot place";
      return line != 0 ? "line " + std::to_string(line) + ": " + record : record;
    }
  }
  return line != 0 ? "line " + std::to_string(line) + ": " + what : what;
}

std::string ImageLoadReport::SourceText() const {
  switch (source) {
    case ImageSource::kListFile: return "list file " + path;
    case ImageSource::kDriveY: return "hex files Y:\\CVM6\\cvm6.H01 to .H14";
    case ImageSource::kEmbedded: return "embedded image";
    case ImageSource::kHexFile: {
      char at[24];
      std::snprintf(at, sizeof at, " at base 0X%05lX", static_cast<unsigned long>(base));
      return "hex file " + path + at;
    }
  }
  return "";
}

std::string ImageLoadReport::RefusalText() const {
  std::string text = "The firmware image is damaged or incomplete:\n";
  for (const auto& [name, fault] : faults) text += name + ", " + fault.Describe() + "\n";
  return text + "Nothing was written to the device.";
}

}  // namespace cvm6
