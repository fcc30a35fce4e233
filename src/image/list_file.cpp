#include "image/list_file.h"

#include <algorithm>
#include <cstdio>

#include "image/byte_stream.h"

namespace cvm6 {
namespace {

// Words (and a line's text, for messages) are kept up to this length; longer ones are
// marked by one extra character, which is enough to reject them as names and as bases
// without holding a huge word in memory.
constexpr std::size_t kWordKeep = 256;

bool IsBlank(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::uint32_t> ParseListBase(const std::string& word) {
  if (word.size() > kWordKeep) return std::nullopt;
  std::size_t i = 0;
  if (i < word.size() && word[i] == '+') ++i;
  if (i + 1 < word.size() && word[i] == '0' && (word[i + 1] == 'x' || word[i + 1] == 'X')) i += 2;
  if (i == word.size()) return std::nullopt;
  std::uint64_t value = 0;
  for (; i < word.size(); ++i) {
    const int digit = HexValue(word[i]);
    if (digit < 0) return std::nullopt;
    value = std::min<std::uint64_t>(value * 16 + static_cast<unsigned>(digit), 0xFFFFFFFFu);
  }
  return static_cast<std::uint32_t>(value);
}

bool CListFileReader::ReadByte(std::uint8_t& c) {
  if (!m_started) {
    // A UTF-8 byte order mark, as some editors write, is no part of the first name: it
    // is dropped, and bytes that only began like one are read as they are.
    m_started = true;
    static constexpr std::uint8_t kByteOrderMark[] = {0xEF, 0xBB, 0xBF};
    std::size_t matched = 0;
    bool got = false;
    while (matched < 3 && (got = m_stream.Read(&c, 1) == 1) && c == kByteOrderMark[matched]) ++matched;
    if (matched < 3) {
      m_replay.assign(kByteOrderMark, kByteOrderMark + matched);
      if (got) m_replay.push_back(c);
    }
  }
  if (!m_replay.empty()) {
    c = m_replay.front();
    m_replay.erase(m_replay.begin());
    return true;
  }
  return m_stream.Read(&c, 1) == 1;
}

bool CListFileReader::ReadLine(std::vector<std::string>& words, std::string& text) {
  for (;;) {
    words.clear();
    text.clear();
    ++m_line;
    bool inWord = false, any = false;
    std::uint8_t c = 0;
    while (ReadByte(c)) {
      any = true;
      if (c == '\n') break;
      if ((c < 0x20 && !IsBlank(c)) || c == 0x7F) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", c);
        m_faults.push_back({ListFault::kControlByte, m_line, hex});
        return false;
      }
      if (IsBlank(c)) {
        inWord = false;
        if (!text.empty() && text.back() != ' ' && text.size() <= kWordKeep) text += ' ';
        continue;
      }
      if (!inWord) words.emplace_back();
      inWord = true;
      if (words.back().size() <= kWordKeep) words.back() += static_cast<char>(c);
      if (text.size() <= kWordKeep) text += static_cast<char>(c);
    }
    if (!text.empty() && text.back() == ' ') text.pop_back();
    if (!words.empty()) return true;
    if (!any) return false;  // the end of the file
  }
}

std::optional<ListEntry> CListFileReader::Next() {
  std::vector<std::string> words;
  std::string text;
  while (!m_ended && ReadLine(words, text)) {
    const auto fault = [&](ListFault::Kind kind) { m_faults.push_back({kind, m_line, text}); };
    if (words.size() < 2) {
      fault(ListFault::kNoBase);
      continue;
    }
    const auto base = ParseListBase(words[1]);
    if (!base) {
      fault(ListFault::kBaseNotHex);
      continue;
    }
    if (*base >= kListEndBase) {
      m_endedBy = ListEnd{m_line, *base};
      break;
    }
    if (words.size() > 2) {
      fault(ListFault::kTextAfterBase);
      continue;
    }
    if (words[0].size() > kMaxListName) {
      fault(ListFault::kNameTooLong);
      continue;
    }
    return ListEntry{std::move(words[0]), *base, m_line};
  }
  m_ended = true;
  return std::nullopt;
}

std::string ResolveListEntry(const std::string& listPath, const std::string& name) {
  auto separator = [](char c) { return c == '/' || c == '\\'; };
  const bool hasDrive = name.size() >= 2 && name[1] == ':' &&
                        ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
  if (name.empty() || separator(name[0]) || hasDrive) return name;
  const auto folderEnd = std::find_if(listPath.rbegin(), listPath.rend(), separator);
  // "X:cvm6.ini" names the current folder of drive X: its entries lie beside it there.
  std::size_t keep = static_cast<std::size_t>(listPath.rend() - folderEnd);
  if (keep == 0 && listPath.size() >= 2 && listPath[1] == ':') keep = 2;
  return listPath.substr(0, keep) + name;
}

// The base is what tells the entries apart on the status line, so a long name gives way
// to it: the name is cut, never the base.
std::string ListEntryStatus(const ListEntry& entry) {
  char base[32];
  const int baseLength = std::snprintf(base, sizeof base, " 0X%05lx", static_cast<unsigned long>(entry.base));
  const std::size_t room = kMaxStatusText > static_cast<std::size_t>(baseLength) ? kMaxStatusText - baseLength : 0;
  return entry.name.substr(0, room) + base;
}

std::string PrintableText(const std::string& text) {
  std::string printable;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      printable += hex;
    } else {
      printable += c;
    }
  }
  return printable;
}

}  // namespace cvm6
