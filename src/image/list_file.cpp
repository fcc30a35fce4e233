#include "image/list_file.h"

#include <algorithm>
#include <cstdio>

#include "image/byte_stream.h"

namespace cvm6 {
namespace {

// Words are kept up to this length; longer ones are marked by one extra character, which
// is enough to reject them as names and as bases without holding a huge word in memory.
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

bool CListFileReader::ReadWord(std::string& word) {
  word.clear();
  std::uint8_t c = 0;
  do {
    if (m_stream.Read(&c, 1) == 0) return false;
  } while (IsBlank(c));
  do {
    if (word.size() <= kWordKeep) word += static_cast<char>(c);
  } while (m_stream.Read(&c, 1) == 1 && !IsBlank(c));
  return true;
}

std::optional<ListEntry> CListFileReader::Next() {
  while (!m_ended) {
    std::string name, word;
    if (m_pending) {
      name = std::move(*m_pending);
      m_pending.reset();
    } else if (!ReadWord(name)) {
      break;
    }
    if (!ReadWord(word)) break;  // a name without a base at the end
    const auto base = ParseListBase(word);
    if (!base) {
      m_pending = std::move(word);
      continue;
    }
    if (*base >= kListEndBase) break;
    if (name.size() > kMaxListName) continue;
    return ListEntry{std::move(name), *base};
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

}  // namespace cvm6
