#pragma once
// The list file cvm6.ini: entries of a hex file name and a hexadecimal base address,
// separated by white space, normally one entry per line ("fw0.hex 0", "fw1.hex 10000").
// A base of 0x100000 or more ends the list.
//
// A technician edits this file by hand, so a slip must not cost the rest of the list:
//  - a base that is not a hexadecimal number ("1OOOO", a missing base) skips its entry's
//    name, and the offending word is read as the next entry's name, so the entries on the
//    following lines are still paired correctly;
//  - a name longer than 79 characters skips its entry;
//  - status lines are cut to 79 characters, the name giving way to the base.
#include <cstdint>
#include <optional>
#include <string>

namespace cvm6 {

class CByteStream;

inline constexpr std::size_t kMaxListName = 79;
inline constexpr std::size_t kMaxStatusText = 79;
inline constexpr std::uint32_t kListEndBase = 0x100000;

struct ListEntry {
  std::string name;
  std::uint32_t base;
};

class CListFileReader {
 public:
  explicit CListFileReader(CByteStream& stream) : m_stream(stream) {}

  // The next entry to load, or nothing at the end of the list.
  std::optional<ListEntry> Next();

 private:
  bool ReadWord(std::string& word);

  CByteStream& m_stream;
  std::optional<std::string> m_pending;  // a word already read that starts the next entry
  bool m_ended = false;
};

// A base as the formatted input "%lx" reads it: an optional "+", an optional "0x" or "0X",
// one or more hexadecimal digits, and nothing else in the word. Values beyond 32 bits
// saturate (they end the list all the same). Nothing if the word is not such a number.
std::optional<std::uint32_t> ParseListBase(const std::string& word);

// The file an entry names, for a list file at `listPath`: a relative name is taken from
// the list file's own folder (so a folder of hex files and their list can be moved or
// named from anywhere), an absolute one ("/srv/fw.hex", "\\fw.hex", "Y:\\fw.hex") as it
// stands. A list file in the current folder ("cvm6.ini") leaves every name as written.
std::string ResolveListEntry(const std::string& listPath, const std::string& name);

// "%s 0X%05lx" with the entry's name and base, cut to kMaxStatusText characters by
// shortening the name; the base stays whole.
std::string ListEntryStatus(const ListEntry& entry);

}  // namespace cvm6
