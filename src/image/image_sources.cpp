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


HexFault::Kind FaultKindOf(ListFault::Kind kind) {
  switch (kind) {
    case ListFault::kBaseNotHex: return HexFault::kListBaseNotHex;
    case ListFault::kNoBase: return HexFault::kListNoBase;
    case ListFault::kTextAfterBase: return HexFault::kListTextAfterBase;
    case ListFault::kNameTooLong: return HexFault::kListNameTooLong;
    case ListFault::kControlByte: break;
  }
  return HexFault::kListControlByte;
}

}  // namespace

// Every entry is loaded, and every fault noted, the list's own and its texts', so that
// the technician sees all that is wrong at once; the report then refuses the image.
void CFlashImage::LoadListEntries(CByteStream& list, const std::string& listPath, bool resolveNames,
                                  const StatusSink& status, ImageLoadReport& report) {
  HexFault fault;
  CListFileReader reader(list);
  std::size_t faultsNoted = 0;
  auto noteListFaults = [&] {
    for (; faultsNoted < reader.Faults().size(); ++faultsNoted) {
      const ListFault& bad = reader.Faults()[faultsNoted];
      report.faults.push_back({listPath, HexFault{FaultKindOf(bad.kind), bad.line, 0, bad.text}});
    }
  };
  while (const auto entry = reader.Next()) {
    noteListFaults();
    Show(status, PrintableText(ListEntryStatus(*entry)));
    const std::string path = resolveNames ? ResolveListEntry(listPath, entry->name) : entry->name;
    if (!LoadHexFile(path, entry->base, &fault)) report.faults.push_back({path, fault});  // loading goes on
  }
  noteListFaults();
  if (const auto& end = reader.EndedBy()) report.listEnd = std::make_pair(end->line, end->base);
}

ImageLoadReport CFlashImage::LoadFirmwareImage(const StatusSink& status) {
  ImageLoadReport report;
  // Loads one text and notes it in the report when it could not be read whole.
  auto load = [&](bool ok, const std::string& name, const HexFault& fault) {
    if (!ok) report.faults.push_back({name, fault});
    return ok;
  };
  HexFault fault;

  // First source found wins: a list file, the hex files on Y:, the embedded texts. The
  // names in either list file are relative to the current folder.
  for (const char* listPath : {"cvm6.ini", "Y:\\cvm6\\cvm6.ini"}) {
    if (auto list = CDiskFileStream::Open(listPath)) {
      report.source = ImageSource::kListFile;
      report.path = listPath;
      LoadListEntries(*list, listPath, false, status, report);
      return report;
    }
  }

  // Only the first hex file decides: a good H01 means the set on Y: is meant to be used.
  constexpr const char* kFirstOnY = "Y:\\CVM6\\cvm6.H01";
  const bool firstGood = LoadHexFile(kFirstOnY, 0, &fault);
  if (firstGood) {
    report.source = ImageSource::kDriveY;
    Show(status, "Loading hex file Y:\\CVM6\\cvm6");
    for (int bank = 1; bank < kBankCount; ++bank) {
      char path[32];
      std::snprintf(path, sizeof path, "Y:\\CVM6\\cvm6.H%02d", bank + 1);
      load(LoadHexFile(path, static_cast<std::uint32_t>(bank) * kBankSize, &fault), path, fault);
    }
    return report;
  }
  // An H01 that opened but read false was meant to be used: what it stored would be
  // mixed with the embedded texts loaded on top of it, so the image is refused.
  if (fault.kind != HexFault::kCannotOpen) report.faults.push_back({kFirstOnY, fault});

  // Whatever a bad H01 stored stays; the embedded texts are loaded on top of it.
  report.source = ImageSource::kEmbedded;
  Show(status, "Loading program files");
  for (int bank = 0; bank < kBankCount; ++bank) {
    const auto id = static_cast<std::uint16_t>(kFirstFirmwareResource + bank);
    load(LoadHexResource(id, static_cast<std::uint32_t>(bank) * kBankSize, &fault), "embedded text " + std::to_string(id),
         fault);
  }
  return report;
}

ImageLoadReport CFlashImage::LoadImageFile(const std::string& path, std::uint32_t base, const StatusSink& status) {
  ImageLoadReport report;
  report.path = path;
  auto file = CDiskFileStream::Open(path);
  // A list file's first word is a file name; an Intel HEX text starts with its first
  // record (the reader would skip anything before it, but nobody writes a hex file so).
  // A UTF-8 byte order mark in front of either counts as a blank.
  std::uint8_t first = ' ';
  while (file && file->ReadByte(first) &&
         (first == ' ' || first == '\t' || first == '\r' || first == '\n' || first == 0xEF || first == 0xBB ||
          first == 0xBF)) {
  }
  if (first == ':' || !file) {
    report.source = ImageSource::kHexFile;
    report.base = base;
    HexFault fault;
    if (!LoadHexFile(path, base, &fault, HexAddressing::kWholeFlash)) report.faults.push_back({path, fault});
    return report;
  }
  report.source = ImageSource::kListFile;
  file = CDiskFileStream::Open(path);  // from its start again
  if (!file) {
    report.faults.push_back({path, HexFault{HexFault::kCannotOpen}});
    return report;
  }
  LoadListEntries(*file, path, true, status, report);
  return report;
}

}  // namespace cvm6
