#include "image/list_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/byte_stream.h"

namespace cvm6 {
namespace {

using Entries = std::vector<std::pair<std::string, std::uint32_t>>;
// Lines that are not whole entries: line, kind, and the text the fault quotes.
struct Fault {
  unsigned line;
  ListFault::Kind kind;
  std::string text;
  bool operator==(const Fault&) const = default;
};
using Faults = std::vector<Fault>;

void PrintTo(const Fault& fault, std::ostream* out) {
  *out << "line " << fault.line << " kind " << fault.kind << " \"" << fault.text << "\"";
}

struct ListRead {
  Entries entries;
  Faults faults;
  unsigned endLine = 0;  // the line whose base ended the list, 0 when the file ended
};

ListRead ReadAll(const std::string& text) {
  CMemoryStream stream({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  CListFileReader reader(stream);
  ListRead read;
  while (const auto entry = reader.Next()) read.entries.emplace_back(entry->name, entry->base);
  EXPECT_FALSE(reader.Next()) << "the list stays ended";
  for (const ListFault& fault : reader.Faults()) read.faults.push_back({fault.line, fault.kind, fault.text});
  if (reader.EndedBy()) read.endLine = reader.EndedBy()->line;
  return read;
}

struct ListCase {
  const char* name;
  std::string text;
  Entries expected;
  Faults faults = {};
  unsigned endLine = 0;
};

class ListFile : public ::testing::TestWithParam<ListCase> {};

// Every line that is not a whole entry is a fault: the entries around it are still read,
// and the image that holds them is refused (image_sources_test).
TEST_P(ListFile, ReadsEntriesAndNamesEveryLineThatIsNone) {
  const ListRead read = ReadAll(GetParam().text);
  EXPECT_EQ(read.entries, GetParam().expected);
  EXPECT_EQ(read.faults, GetParam().faults);
  EXPECT_EQ(read.endLine, GetParam().endLine);
}

const std::string k79(79, 'n');
const std::string k80(80, 'n');

INSTANTIATE_TEST_SUITE_P(
    Texts, ListFile,
    ::testing::Values(
        ListCase{"TwoEntries", "a.hex 0\r\nb.hex 10000\r\n", {{"a.hex", 0}, {"b.hex", 0x10000}}},
        ListCase{"BaseOf100000EndsTheList", "a.hex 0\nb.hex 100000\nc.hex 20000\n", {{"a.hex", 0}}, {}, 2},
        // Nothing after the ending line is read, whatever it holds.
        ListCase{"NothingAfterTheEndIsRead", "a.hex 0\nb.hex 100000 x\n\x1b[2J junk\n", {{"a.hex", 0}}, {}, 2},
        ListCase{"HugeBaseEndsTheList", "a.hex 0\nb.hex FFFFFFFFFFFFFFFFFFFF\nc.hex 2\n", {{"a.hex", 0}}, {}, 2},
        ListCase{"Empty", "", {}},
        ListCase{"OnlyBlanks", " \t\r\n\r\n", {}},
        ListCase{"BlanksAroundAndBetween", "  a.hex\t\t0FFFFF \n\n\n  b.hex   0\r\n", {{"a.hex", 0xFFFFF}, {"b.hex", 0}}},
        ListCase{"Prefixes", "a 0x20000\nb 0X30000\nc +40000\nd 0xabcde\n",
                 {{"a", 0x20000}, {"b", 0x30000}, {"c", 0x40000}, {"d", 0xABCDE}}},
        ListCase{"ByteOrderMarkIsNoPartOfTheName", "\xEF\xBB\xBF" "a.hex 0\n", {{"a.hex", 0}}},
        ListCase{"BytesThatOnlyBeginLikeAByteOrderMark", "\xEF\xBB" "a.hex 0\n", {{"\xEF\xBB" "a.hex", 0}}},
        ListCase{"LetterOInTheBase", "a.hex 0\nb.hex 1O000\nc.hex 20000\n", {{"a.hex", 0}, {"c.hex", 0x20000}},
                 {{2, ListFault::kBaseNotHex, "b.hex 1O000"}}},
        ListCase{"PrefixWithoutDigits", "a.hex 0x\nb.hex 1\n", {{"b.hex", 1}}, {{1, ListFault::kBaseNotHex, "a.hex 0x"}}},
        ListCase{"NegativeBase", "a.hex -1\nb.hex 2\n", {{"b.hex", 2}}, {{1, ListFault::kBaseNotHex, "a.hex -1"}}},
        ListCase{"MissingBase", "a.hex\nb.hex 10000\n", {{"b.hex", 0x10000}}, {{1, ListFault::kNoBase, "a.hex"}}},
        ListCase{"BaseOnTheNextLine", "a.hex\n0\n", {}, {{1, ListFault::kNoBase, "a.hex"}, {2, ListFault::kNoBase, "0"}}},
        ListCase{"NameWithoutBaseAtTheEnd", "a.hex 0\nb.hex", {{"a.hex", 0}}, {{2, ListFault::kNoBase, "b.hex"}}},
        ListCase{"SomethingAfterTheBase", "a.hex 0 old\nb.hex 10000 c.hex 20000\n", {},
                 {{1, ListFault::kTextAfterBase, "a.hex 0 old"}, {2, ListFault::kTextAfterBase, "b.hex 10000 c.hex 20000"}}},
        ListCase{"Name79Kept", k79 + " 30000\n", {{k79, 0x30000}}},
        ListCase{"Name80Refused", k80 + " 30000\nb.hex 40000\n", {{"b.hex", 0x40000}},
                 {{1, ListFault::kNameTooLong, k80 + " 30000"}}},
        ListCase{"HugeWordRefused", std::string(200000, 'x') + " 1\nb.hex 2\n", {{"b.hex", 2}},
                 {{1, ListFault::kNameTooLong, std::string(257, 'x')}}},
        // A binary file read as a list: reading stops at its first control byte.
        ListCase{"ControlByteEndsTheReading", "a.hex 0\nb.h\x1b[31mex 10000\nc.hex 20000\n", {{"a.hex", 0}},
                 {{2, ListFault::kControlByte, "0x1B"}}},
        ListCase{"NulByte", std::string("a.hex 0\0", 8), {}, {{1, ListFault::kControlByte, "0x00"}}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(PrintableText, ControlCharactersAreShownAsEscapes) {
  EXPECT_EQ(PrintableText("fw\x1b[2J.hex"), "fw\\x1B[2J.hex");
  EXPECT_EQ(PrintableText(std::string("a\0b\x7f\t", 5)), "a\\x00b\\x7F\\x09");
  EXPECT_EQ(PrintableText("Y:\\CVM6\\cvm6.H01 \xc3\xa9"), "Y:\\CVM6\\cvm6.H01 \xc3\xa9");
}

struct StatusCase {
  std::string name;
  std::uint32_t base;
  std::string expected;
};

class ListStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(ListStatus, FormatsAndCuts) {
  EXPECT_EQ(ListEntryStatus({GetParam().name, GetParam().base, 1}), GetParam().expected);
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
