#include "image/list_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/byte_stream.h"

namespace cvm6 {
namespace {

using Entries = std::vector<std::pair<std::string, std::uint32_t>>;

Entries ReadAll(const std::string& text) {
  CMemoryStream stream({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  CListFileReader reader(stream);
  Entries entries;
  while (const auto entry = reader.Next()) entries.emplace_back(entry->name, entry->base);
  EXPECT_FALSE(reader.Next()) << "the list stays ended";
  return entries;
}

struct ListCase {
  const char* name;
  std::string text;
  Entries expected;
};

class ListFile : public ::testing::TestWithParam<ListCase> {};

TEST_P(ListFile, ReadsEntries) { EXPECT_EQ(ReadAll(GetParam().text), GetParam().expected); }

const std::string k79(79, 'n');
const std::string k80(80, 'n');

INSTANTIATE_TEST_SUITE_P(
    Texts, ListFile,
    ::testing::Values(
        ListCase{"TwoEntries", "a.hex 0\r\nb.hex 10000\r\n", {{"a.hex", 0}, {"b.hex", 0x10000}}},
        ListCase{"BaseOf100000EndsTheList", "a.hex 0\nb.hex 100000\nc.hex 20000\n", {{"a.hex", 0}}},
        ListCase{"HugeBaseEndsTheList", "a.hex 0\nb.hex FFFFFFFFFFFFFFFFFFFF\nc.hex 2\n", {{"a.hex", 0}}},
        ListCase{"Empty", "", {}},
        ListCase{"OnlyBlanks", " \t\r\n\r\n", {}},
        ListCase{"BlanksAnywhere", "  a.hex\t\t0FFFFF \n\n\n  b.hex \n 0\n", {{"a.hex", 0xFFFFF}, {"b.hex", 0}}},
        ListCase{"Prefixes", "a 0x20000\nb 0X30000\nc +40000\nd 0xabcde\n",
                 {{"a", 0x20000}, {"b", 0x30000}, {"c", 0x40000}, {"d", 0xABCDE}}},
        ListCase{"MissingBaseSkipsOnlyThatName", "a.hex\nb.hex 10000\n", {{"b.hex", 0x10000}}},
        ListCase{"BadBaseSkipsTheEntry", "a.hex 1OOOO\nb.hex 10000\nc.hex 20000\n",
                 {{"b.hex", 0x10000}, {"c.hex", 0x20000}}},
        ListCase{"PrefixWithoutDigits", "a.hex 0x\nb.hex 1\n", {{"b.hex", 1}}},
        ListCase{"NegativeBase", "a.hex -1\nb.hex 2\n", {{"b.hex", 2}}},
        ListCase{"NameWithoutBaseAtTheEnd", "a.hex 0\nb.hex", {{"a.hex", 0}}},
        ListCase{"Name79Kept", k79 + " 30000\n", {{k79, 0x30000}}},
        ListCase{"Name80Skipped", k80 + " 30000\nb.hex 40000\n", {{"b.hex", 0x40000}}},
        ListCase{"HugeWordSkipped", std::string(200000, 'x') + " 1\nb.hex 2\n", {{"b.hex", 2}}}),
    [](const auto& row) { return std::string(row.param.name); });

struct StatusCase {
  std::string name;
  std::uint32_t base;
  std::string expected;
};

class ListStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(ListStatus, FormatsAndCuts) {
  EXPECT_EQ(ListEntryStatus({GetParam().name, GetParam().base}), GetParam().expected);
}

// The status format is "%s 0X%05lx": the prefix is an upper-case X, the digits come out
// in lower case.
INSTANTIATE_TEST_SUITE_P(Entries, ListStatus,
                         ::testing::Values(StatusCase{"a.hex", 0, "a.hex 0X00000"},
                                           StatusCase{"b.hex", 0x10000, "b.hex 0X10000"},
                                           StatusCase{"c.hex", 0xabcde, "c.hex 0Xabcde"},
                                           StatusCase{"d", 0xFFFFF, "d 0Xfffff"},
                                           StatusCase{std::string(71, 'n'), 0x12345, std::string(71, 'n') + " 0X12345"},
                                           // Too long: the name is cut, the base kept whole.
                                           StatusCase{std::string(72, 'n'), 0x12345, std::string(71, 'n') + " 0X12345"},
                                           StatusCase{std::string(79, 'n'), 0x12345, std::string(71, 'n') + " 0X12345"}));

struct ResolveCase {
  const char* listPath;
  const char* name;
  const char* expected;
};

class ListEntryPath : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ListEntryPath, RelativeNamesLieBesideTheListFile) {
  EXPECT_EQ(ResolveListEntry(GetParam().listPath, GetParam().name), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ListEntryPath,
    ::testing::Values(ResolveCase{"cvm6.ini", "fw.hex", "fw.hex"},  // the current folder's list: as written
                      ResolveCase{"/srv/fw/cvm6.ini", "fw.hex", "/srv/fw/fw.hex"},
                      ResolveCase{"/srv/fw/cvm6.ini", "bank/fw.hex", "/srv/fw/bank/fw.hex"},
                      ResolveCase{"../fw/list.ini", "fw.hex", "../fw/fw.hex"},
                      ResolveCase{"C:\\fw\\cvm6.ini", "fw.hex", "C:\\fw\\fw.hex"},
                      ResolveCase{"C:cvm6.ini", "fw.hex", "C:fw.hex"},
                      // Absolute names stand as written.
                      ResolveCase{"/srv/fw/cvm6.ini", "/opt/fw.hex", "/opt/fw.hex"},
                      ResolveCase{"/srv/fw/cvm6.ini", "\\fw.hex", "\\fw.hex"},
                      ResolveCase{"/srv/fw/cvm6.ini", "Y:\\CVM6\\cvm6.H01", "Y:\\CVM6\\cvm6.H01"},
                      ResolveCase{"/srv/fw/cvm6.ini", "y:fw.hex", "y:fw.hex"}));

}  // namespace
}  // namespace cvm6
