#pragma once
// The firmware image: a sparse map of the 32-bit address space with a presence bit per
// byte. Three levels of 256-entry tables lead to 256-byte pages, so an image of a few
// hundred KiB spread over 1 MiB costs a few hundred KiB, every access is three indexed
// steps, and the download can walk the stored bytes in address order without testing the
// empty parts byte by byte. Used by the window's thread only; no locking.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "image/image_load_report.h"

namespace cvm6 {

class CByteStream;

// Shows a text on the window's status line and brings the window up to date at once.
using StatusSink = std::function<void(const std::string&)>;

// The unit's flash address space: twenty address bits, sixteen 64 KiB banks (the firmware
// fills fourteen of them).
inline constexpr std::uint32_t kFlashEnd = 0x100000;

// How a text's extended address records (types 2 and 4) are taken.
enum class HexAddressing {
  // The unit's own texts, one 64 KiB bank each, placed by their base alone: an extended
  // address other than 0 would move records where this updater does not put them, and
  // refuses the text.
  kBank,
  // One file for the whole flash, as object-copy tools and IDEs write it: an extended
  // linear (type 4) or segment (type 2) address places every data record after it, and a
  // byte that lands at kFlashEnd or above refuses the text. Read at a base other than 0,
  // an extended address other than 0 refuses it: which of the two was meant?
  kWholeFlash,
};

class CFlashImage {
 public:
  CFlashImage();
  ~CFlashImage();
  CFlashImage(const CFlashImage&) = delete;
  CFlashImage& operator=(const CFlashImage&) = delete;

  // Stores `value` at `address`; storing twice replaces the value, the count stays.
  void SetByte(std::uint32_t address, std::uint8_t value);
  // The stored byte, or the fill value 0xFF where none is stored.
  std::uint8_t GetByte(std::uint32_t address) const;
  bool IsSet(std::uint32_t address) const;
  // The lowest stored address above `address`; past the top the search wraps to 0, so a
  // result not above `address` means "none above, this is the lowest".
  // An empty image has nothing to find: the result is then `address` itself, which every
  // caller that stops on "not above my argument" treats as done. The one question that
  // cannot be told apart this way is 0xFFFFFFFF (nothing lies above it anyway), so the
  // download checks GetCount() before its first question.
  std::uint32_t NextSetAddress(std::uint32_t address) const;
  // Number of stored bytes.
  std::uint32_t GetCount() const { return m_count; }

  // Reads Intel HEX records from `stream`, adding `base` to every record address. True
  // when an end-of-file record with a correct checksum was read. Bytes of records read
  // before a fault stay stored. `fault`, when given, says why it was false and where.
  bool ReadHex(CByteStream& stream, std::uint32_t base, HexFault* fault = nullptr,
               HexAddressing addressing = HexAddressing::kBank);
  // ReadHex on a disk file; `path` may be a Windows path ("Y:\CVM6\cvm6.H01"). False when
  // the file cannot be opened. A read error on the open file throws CImageReadError.
  bool LoadHexFile(const std::string& path, std::uint32_t base, HexFault* fault = nullptr,
                   HexAddressing addressing = HexAddressing::kBank);
  // ReadHex on the embedded "Binary" resource `id`, read in place. False when there is none.
  bool LoadHexResource(std::uint16_t id, std::uint32_t base, HexFault* fault = nullptr);
  // Fills a new image from the first source found: the list file cvm6.ini (current
  // directory, then Y:\cvm6), the hex files Y:\CVM6\cvm6.H01..H14, the embedded texts.
  // The report says which source it was and every text that could not be read whole.
  ImageLoadReport LoadFirmwareImage(const StatusSink& status);
  // Fills a new image from the one file a technician chose instead: a list file, whose
  // relative names are taken from its own folder (see ResolveListEntry), or, when its
  // first character that is not blank is ":", a single Intel HEX text read at `base`, as a
  // whole flash (HexAddressing::kWholeFlash).
  // A file that cannot be opened is noted in the report as a fault.
  ImageLoadReport LoadImageFile(const std::string& path, std::uint32_t base, const StatusSink& status);

 private:
  struct Page {
    std::uint8_t data[256];
    std::uint8_t present[32];  // bit (o & 7) of byte (o >> 3) is set when offset o is stored
  };
  using BottomTable = std::array<std::unique_ptr<Page>, 256>;
  using MiddleTable = std::array<std::unique_ptr<BottomTable>, 256>;

  // Loads every entry of a list file; names relative to `listPath`'s folder when
  // `resolveNames`, else as written.
  void LoadListEntries(CByteStream& list, const std::string& listPath, bool resolveNames, const StatusSink& status,
                       ImageLoadReport& report);
  const Page* FindPage(std::uint32_t address) const;
  Page& WritablePage(std::uint32_t address);  // made when missing
  // Moves the indexes to the next page that exists, wrapping from the top of the address
  // space to page 0. Only called on a non-empty image, where it ends within one turn.
  void AdvanceToNextPage(unsigned& top, unsigned& middle, unsigned& bottom) const;

  std::array<std::unique_ptr<MiddleTable>, 256> m_top;
  std::uint8_t m_fill = 0xFF;
  std::uint32_t m_count = 0;
  Page* m_lastPage = nullptr;  // where SetByte last stored, and its address >> 8
  std::uint32_t m_lastPageNumber = 0;
};

}  // namespace cvm6
