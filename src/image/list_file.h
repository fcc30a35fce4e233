#pragma once
// The list file cvm6.ini: one entry per line, a hex file name and its base address in
// hexadecimal, separated by blanks ("fw0.hex 0", "fw1.hex 10000"). Blank lines are
// passed over. A base of 0x100000 or more ends the list: that line and everything after
// it are not read.
//
// A technician edits this file by hand, and an entry passed over is a bank of flash left
// erased while the update says it is complete. So every line that is not a whole entry
// is a fault, named with its line, and the image is refused: a base that is not a
// hexadecimal number ("1O000", letter O), a name without a base, anything after the base,
// a name longer than 79 characters. A file holding NUL or another control byte is no
// list file at all (a binary picked by mistake): reading stops at the first.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cvm6 {

class CByteStream;

inline constexpr std::size_t kMaxListName = 79;
inline constexpr std::size_t kMaxStatusText = 79;
inline constexpr std::uint32_t kListEndBase = 0x100000;

struct ListEntry {
  std::string name;
  std::uint32_t base;
  unsigned line = 0;  // counting from 1
};

struct ListFault {
  enum Kind { kBaseNotHex, kNoBase, kTextAfterBase, kNameTooLong, kControlByte };
  Kind kind;
  unsigned line;
  std::string text;  // the line's words, one blank between (kControlByte: the byte, "0x1B")
};

// Where the list ended before the end of its file: the line whose base did it.
struct ListEnd {
  unsigned line;
  std::uint32_t base;
};

class CListFileReader {
 public:
  explicit CListFileReader(CByteStream& stream) : m_stream(stream) {}

  // The next entry to load, or nothing at the end of the list. Lines that are not whole
  // entries are passed over and noted in Faults().
  std::optional<ListEntry> Next();
  const std::vector<ListFault>& Faults() const { return m_faults; }
  // Set once a base of 0x100000 or more has ended the list.
  const std::optional<ListEnd>& EndedBy() const { return m_endedBy; }

 private:
  // The words of the next line that holds any; false at the end of the file or at a
  // control byte.
  bool ReadLine(std::vector<std::string>& words, std::string& text);
  bool ReadByte(std::uint8_t& c);

  CByteStream& m_stream;
  std::vector<std::uint8_t> m_replay;  // bytes read while looking for a byte order mark
  unsigned m_line = 0;
  bool m_ended = false;
  bool m_started = false;  // past a byte order mark, if the file begins with one
  std::vector<ListFault> m_faults;
  std::optional<ListEnd> m_endedBy;
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

// `text` fit to be printed on a terminal or in a window: control characters (below 0x20,
// and 0x7F) as "\x1B", so that a name never moves the cursor or changes the colours.
std::string PrintableText(const std::string& text);

}  // namespace cvm6
