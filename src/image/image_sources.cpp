#include <cstdio>
#include <string>

#include "image/disk_file_stream.h"
#include "image/flash_image.h"
#include "image/list_file.h"

namespace cvm6 {
namespace {

constexpr std::uint32_t kBankSize = 0x10000;
constexpr int kBankCount = 14;
constexpr std::uint16_t kFirstFirmwareResource = 160;

void Show(const StatusSink& status, const std::string& text) {
  if (status) status(text);
}

}  // namespace

void CFlashImage::LoadFirmwareImage(const StatusSink& status) {
  // First source found wins: a list file, the hex files on Y:, the embedded texts.
  auto list = CDiskFileStream::Open("cvm6.ini");
  if (!list) list = CDiskFileStream::Open("Y:\\cvm6\\cvm6.ini");
  if (list) {
    CListFileReader reader(*list);
    while (const auto entry = reader.Next()) {
      Show(status, ListEntryStatus(*entry));
      LoadHexFile(entry->name, entry->base);  // a file that fails is passed over
    }
    return;
  }

  // Only the first hex file decides: a good H01 means the set on Y: is meant to be used.
  if (LoadHexFile("Y:\\CVM6\\cvm6.H01", 0)) {
    Show(status, "Loading hex file Y:\\CVM6\\cvm6");
    for (int bank = 1; bank < kBankCount; ++bank) {
      char path[32];
      std::snprintf(path, sizeof path, "Y:\\CVM6\\cvm6.H%02d", bank + 1);
      LoadHexFile(path, static_cast<std::uint32_t>(bank) * kBankSize);
    }
    return;
  }

  // Whatever a bad H01 stored stays; the embedded texts are loaded on top of it.
  Show(status, "Loading program files");
  for (int bank = 0; bank < kBankCount; ++bank)
    LoadHexResource(static_cast<std::uint16_t>(kFirstFirmwareResource + bank), static_cast<std::uint32_t>(bank) * kBankSize);
}

}  // namespace cvm6
