#pragma once
// What loading the firmware image came to: the source it came from and every text of
// that source that could not be read whole. A text that read false leaves a firmware
// the unit cannot run (bytes up to a bad record, a bank missing, two versions mixed), so
// the Update command refuses such an image before it erases anything.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "image/hex_fault.h"

namespace cvm6 {

// kListFile and kHexFile are also what a technician names on cvm6-flash's command line.
enum class ImageSource { kListFile, kDriveY, kEmbedded, kHexFile };

struct ImageLoadReport {
  struct TextFault {
    std::string text;  // the list entry's name, the Y: path, or "embedded text 160"
    HexFault fault;
  };

  ImageSource source = ImageSource::kEmbedded;
  std::string path;        // the list file or the hex file, as it was opened
  std::uint32_t base = 0;  // where a single hex file was read (kHexFile)
  std::vector<TextFault> faults;
  // A list file's line whose base of 0x100000 or more ended the list, with that base.
  std::optional<std::pair<unsigned, std::uint32_t>> listEnd;

  bool Usable() const { return faults.empty(); }
  // Where the image came from, for a technician and a log: "list file /srv/fw/cvm6.ini",
  // "hex file fw.hex at base 0X10000", "hex files Y:\CVM6\cvm6.H01 to .H14",
  // "embedded image".
  std::string SourceText() const;
  // One line per faulty text, naming it and saying why, then "Nothing was written to
  // the device."
  std::string RefusalText() const;
  // "The list ended at line 7 (base 0X100000): that line and the lines after it were
  // not read.", or "" when the list ran to the end of its file.
  std::string ListEndText() const;
};

}  // namespace cvm6
