#pragma once
// What loading the firmware image came to: the source it came from and every text of
// that source that could not be read whole. A text that read false leaves a firmware
// the unit cannot run (bytes up to a bad record, a bank missing, two versions mixed), so
// the Update command refuses such an image before it erases anything.
#include <string>
#include <vector>

#include "image/hex_fault.h"

namespace cvm6 {

enum class ImageSource { kListFile, kDriveY, kEmbedded };

struct ImageLoadReport {
  struct TextFault {
    std::string text;  // the list entry's name, the Y: path, or "embedded text 160"
    HexFault fault;
  };

  ImageSource source = ImageSource::kEmbedded;
  std::vector<TextFault> faults;

  bool Usable() const { return faults.empty(); }
  // One line per faulty text, naming it and saying why, then "Nothing was written to
  // the device."
  std::string RefusalText() const;
};

}  // namespace cvm6
