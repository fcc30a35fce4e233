#include "image/hex_reader.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "image/byte_stream.h"
#include "image/flash_image.h"
#include "scratch.h"

namespace cvm6 {
namespace {

using test::HexRecord;
using test::kEndRecord;
using test::StoredBytes;
using Bytes = std::map<std::uint32_t, std::uint8_t>;

CMemoryStream StreamOf(const std::string& text) {
  return CMemoryStream({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

struct DigitCase {
  std::string input;
  std::uint8_t result;
  std::uint8_t digit;  // expected out value; 0xEE = left untouched
};

class HexDigit : public ::testing::TestWithParam<DigitCase> {};

TEST_P(HexDigit, ReadsOneCharacter) {
  const auto& c = GetParam();
  auto stream = StreamOf(c.input);
  std::uint8_t digit = 0xEE;
  EXPECT_EQ(ReadHexDigit(stream, digit), c.result);
  EXPECT_EQ(digit, c.digit);
}

INSTANTIATE_TEST_SUITE_P(
    Characters, HexDigit,
    ::testing::Values(DigitCase{"0", 0, 0}, DigitCase{"9", 0, 9}, DigitCase{"A", 0, 10}, DigitCase{"F", 0, 15},
                      DigitCase{"a", 0, 10}, DigitCase{"f", 0, 15}, DigitCase{"G", 'G', 0xEE},
                      DigitCase{"g", 'g', 0xEE}, DigitCase{"/", '/', 0xEE}, DigitCase{":", ':', 0xEE},
                      DigitCase{"\n", '\n', 0xEE}, DigitCase{"", kHexEndMarker, 0xEE},
                      DigitCase{"\xFF", kHexEndMarker, 0xEE},
                      // NUL must not look like "a digit was read" (result 0).
                      DigitCase{std::string(1, '\0'), kHexNulStandIn, 0xEE}));

struct ByteCase {
  std::string input;
  std::uint8_t code;
  std::uint8_t byte;  // expected out value; 0xEE = left untouched
};

class HexByte : public ::testing::TestWithParam<ByteCase> {};

TEST_P(HexByte, ReadsTwoCharacters) {
  const auto& c = GetParam();
  auto stream = StreamOf(c.input);
  std::uint8_t byte = 0xEE;
  EXPECT_EQ(ReadHexByte(stream, byte), c.code);
  EXPECT_EQ(byte, c.byte);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, HexByte,
    ::testing::Values(ByteCase{"3A", kHexByteRead, 0x3A}, ByteCase{"a5", kHexByteRead, 0xA5},
                      ByteCase{"00", kHexByteRead, 0x00}, ByteCase{"fF", kHexByteRead, 0xFF},
                      ByteCase{"\n", kHexLineEnd, 0xEE}, ByteCase{"\r", kHexLineEnd, 0xEE},
                      ByteCase{"", kHexEndOfInput, 0xEE}, ByteCase{"\xFF", kHexEndOfInput, 0xEE},
                      ByteCase{"S1", kHexLetterS, 0xEE}, ByteCase{":", kHexColon, 0xEE},
                      ByteCase{"G0", kHexNotDigit, 0xEE}, ByteCase{"3G", kHexNotDigit, 0xEE},
                      ByteCase{"3\r", kHexNotDigit, 0xEE}, ByteCase{"3", kHexNotDigit, 0xEE},
                      ByteCase{"3:", kHexNotDigit, 0xEE}, ByteCase{"3\xFF", kHexNotDigit, 0xEE},
                      ByteCase{std::string(1, '\0'), kHexNotDigit, 0xEE},
                      ByteCase{std::string("3\0", 2), kHexNotDigit, 0xEE}));

struct TextCase {
  const char* name;
  std::string text;
  std::uint32_t base;
  bool result;
  Bytes stored;
  HexFault fault = {};  // why it read false, and on which line
  HexAddressing addressing = HexAddressing::kBank;
};

class ReadHexText : public ::testing::TestWithParam<TextCase> {};

TEST_P(ReadHexText, StoresAndReports) {
  const auto& c = GetParam();
  CFlashImage image;
  auto stream = StreamOf(c.text);
  HexFault fault{HexFault::kCannotOpen, 99};
  EXPECT_EQ(image.ReadHex(stream, c.base, &fault, c.addressing), c.result);
  EXPECT_EQ(StoredBytes(image), c.stored);
  EXPECT_EQ(image.GetCount(), c.stored.size());
  EXPECT_EQ(fault.kind, c.fault.kind);
  EXPECT_EQ(fault.line, c.fault.line);
  EXPECT_EQ(fault.recordType, c.fault.recordType);
  EXPECT_EQ(fault.address, c.fault.address);
}

const Bytes kWorked = {{0x20030, 0x02}, {0x20031, 0x33}, {0x20032, 0x7A}};

Bytes Crossing() {
  Bytes bytes;
  for (std::uint32_t i = 0; i < 32; ++i) bytes[0x3FFF0 + i] = static_cast<std::uint8_t>(i);
  return bytes;
}

std::string CrossingText() {
  std::string data;
  for (int i = 0; i < 32; ++i) data += static_cast<char>(i);
  return HexRecord(0xFFF0, 0, data) + kEndRecord;
}

INSTANTIATE_TEST_SUITE_P(
    Records, ReadHexText,
    ::testing::Values(
        TextCase{"WorkedRecord", ":0300300002337A1E\r\n:00000001FF\r\n", 0x20000, true, kWorked},
        TextCase{"LowerCase", ":0300300002337a1e\r\n:00000001ff\r\n", 0x20000, true, kWorked},
        TextCase{"BadChecksumKeepsBytes", ":0300300002337A1F\r\n:00000001FF\r\n", 0x20000, false, kWorked,
                 {HexFault::kWrongChecksum, 1}},
        TextCase{"LineEndInsideRecord", ":0300300002\r\n337A1E\r\n:00000001FF\r\n", 0x20000, false,
                 {{0x20030, 0x02}}, {HexFault::kCutByLineEnd, 1}},
        TextCase{"EndOfInputInsideRecord", ":0300300002337A", 0x20000, false, kWorked, {HexFault::kCutByEnd, 1}},
        TextCase{"NoEndRecord", ":0300300002337A1E\r\n", 0x20000, false, kWorked, {HexFault::kNoEndRecord, 0}},
        TextCase{"Empty", "", 0, false, {}, {HexFault::kNoEndRecord, 0}},
        // Address records are never stored. Those that move nothing are passed over; one
        // that would move the records after it, or an unknown type, refuses the text.
        TextCase{"UpperAddressOfZeroIsPassedOver",
                 HexRecord(0, 4, std::string(2, '\0')) + ":0300300002337A1E\r\n" + kEndRecord, 0x20000, true, kWorked},
        TextCase{"SegmentAddressOfZeroIsPassedOver",
                 HexRecord(0, 2, std::string(2, '\0')) + ":0300300002337A1E\r\n" + kEndRecord, 0x20000, true, kWorked},
        TextCase{"StartAddressesArePassedOver",
                 HexRecord(0, 3, "\x12\x34\x56\x78") + ":0300300002337A1E\r\n" + HexRecord(0, 5, "\x00\x00\x20\x00") +
                     kEndRecord,
                 0x20000, true, kWorked},
        TextCase{"UpperAddressElsewhereIsRefused", ":0300300002337A1E\r\n:02001004ABCD72\r\n:00000001FF\r\n", 0x10000,
                 false, {{0x10030, 0x02}, {0x10031, 0x33}, {0x10032, 0x7A}}, {HexFault::kUnplaceable, 2, 4}},
        TextCase{"SegmentAddressElsewhereIsRefused", HexRecord(0, 2, "\x10\x00") + kEndRecord, 0, false, {},
                 {HexFault::kUnplaceable, 1, 2}},
        TextCase{"AddressRecordOfOtherLengthIsRefused", HexRecord(0, 4, std::string(3, '\0')) + kEndRecord, 0, false,
                 {}, {HexFault::kUnplaceable, 1, 4}},
        TextCase{"UnknownTypeIsRefused", HexRecord(0, 6, "\x55") + kEndRecord, 0, false, {},
                 {HexFault::kUnplaceable, 1, 6}},
        TextCase{"AddressRecordWithBadChecksumIsABadChecksum", ":020000040000FB\r\n:00000001FF\r\n", 0, false, {},
                 {HexFault::kWrongChecksum, 1}},
        TextCase{"EndRecordWithData", ":02000001BEEF50\r\n", 0x50000, true, {{0x50000, 0xBE}, {0x50001, 0xEF}}},
        TextCase{"EndRecordWithDataBadChecksum", ":02000001BEEF51\r\n", 0x50000, false,
                 {{0x50000, 0xBE}, {0x50001, 0xEF}}, {HexFault::kWrongChecksum, 1}},
        TextCase{"NothingReadAfterEnd", ":00000001FF\r\n:0100000055AA\r\n:zz", 0, true, {}},
        TextCase{"LinesWithoutColonSkipped",
                 "\r\n\r\nS00600004844521B\r\nbuilt 2003 by the tool chain\r\n:0300300002337A1E\r\n\r\n"
                 ":00000001FF\r\n",
                 0x20000, true, kWorked},
        TextCase{"ColonInNoteStartsARecord", "note: see below\r\n:0300300002337A1E\r\n:00000001FF\r\n", 0x20000,
                 false, {}, {HexFault::kNotADigit, 1}},
        TextCase{"SInsideField", ":03S0300002337A1E\r\n", 0, false, {}, {HexFault::kNotADigit, 1}},
        TextCase{"NulInsideData", std::string(":030030000") + '\0' + "337A1E\r\n:00000001FF\r\n", 0x20000, false, {},
                 {HexFault::kNotADigit, 1}},
        TextCase{"FFByteEndsTheScan", "\xFF:0300300002337A1E\r\n:00000001FF\r\n", 0x20000, false, {},
                 {HexFault::kNoEndRecord, 0}},
        // The fault's line counts every line end before its record, blank lines and
        // notes included, with CR LF or LF alone.
        TextCase{"FaultOnTheFifthLine",
                 "\r\n:0100300002CD\r\nnote\r\n:01003100339B\r\n:01003200FF00\r\n:00000001FF\r\n", 0x20000,
                 false, {{0x20030, 0x02}, {0x20031, 0x33}, {0x20032, 0xFF}}, {HexFault::kWrongChecksum, 5}},
        TextCase{"LfOnlyLines", ":0300300002337A1E\n\n:0300300002337A\n", 0x20000, false, kWorked,
                 {HexFault::kCutByLineEnd, 3}},
        // A record whose ":" was damaged or lost is no note: its bytes would stay erased.
        TextCase{"ColonDamagedToSemicolon", ":0100300002CD\r\n;01003100339B\r\n:00000001FF\r\n", 0x20000, false,
                 {{0x20030, 0x02}}, {HexFault::kLostColon, 2}},
        TextCase{"ColonLost", ":0100300002CD\n01003100339B\n:00000001FF\n", 0x20000, false, {{0x20030, 0x02}},
                 {HexFault::kLostColon, 2}},
        TextCase{"ColonLostOnTheLastLine", "  0100300002CD  ", 0x20000, false, {}, {HexFault::kLostColon, 1}},
        TextCase{"ShortRunOfDigitsIsANote", "0123\r\n+12\r\n:0300300002337A1E\r\n:00000001FF\r\n", 0x20000, true,
                 kWorked},
        TextCase{"DigitsWithBlanksBetweenAreANote", "2003 10 01 12 00\r\n:0300300002337A1E\r\n:00000001FF\r\n",
                 0x20000, true, kWorked},
        TextCase{"ARecordAfterItsChecksumIsNoLongerSkipped",
                 ":0300300002337A1E:0100330044FF\r\n:00000001FF\r\n", 0x20000, false, kWorked,
                 {HexFault::kTextAfterRecord, 1}},
        TextCase{"AByteAfterTheChecksum", ":0300300002337A1E7\r\n:00000001FF\r\n", 0x20000, false, kWorked,
                 {HexFault::kTextAfterRecord, 1}},
        TextCase{"BlanksAfterTheChecksum", ":0300300002337A1E \t \r\n:00000001FF\r\n", 0x20000, true, kWorked},
        TextCase{"ByteOrderMarkFirst", "\xEF\xBB\xBF:0300300002337A1E\r\n:00000001FF\r\n", 0x20000, true, kWorked},
        TextCase{"ByteOrderMarkBeforeALostColon", "\xEF\xBB\xBF" "0300300002337A1E\r\n:00000001FF\r\n", 0x20000,
                 false, {}, {HexFault::kLostColon, 1}},
        TextCase{"RecordRunsIntoTheNextBank", CrossingText(), 0x30000, true, Crossing()},
        TextCase{"AddressWrapsAtTheTop", HexRecord(0xFFFF, 0, "\x11\x22") + kEndRecord, 0xFFFF0000, true,
                 {{0xFFFFFFFF, 0x11}, {0x00000000, 0x22}}},
        // One file for the whole flash: its extended addresses place the records after
        // them, linear ones running on past 64 KiB, segment ones wrapping within theirs.
        TextCase{"LinearAddressMovesTheRecordsAfterIt",
                 HexRecord(0, 4, std::string("\x00\x02", 2)) + ":0300300002337A1E\r\n" +
                     HexRecord(0, 4, std::string(2, '\0')) + HexRecord(0xFFFF, 0, "\x44\x55") + kEndRecord,
                 0, true, {{0x20030, 0x02}, {0x20031, 0x33}, {0x20032, 0x7A}, {0xFFFF, 0x44}, {0x10000, 0x55}},
                 {}, HexAddressing::kWholeFlash},
        TextCase{"SegmentAddressWrapsWithinItsSegment",
                 HexRecord(0, 2, std::string("\x10\x00", 2)) + HexRecord(0xFFFF, 0, "\x44\x55") +
                     HexRecord(0, 2, std::string("\x20\x03", 2)) + HexRecord(0x0000, 0, "\x66") + kEndRecord,
                 0, true, {{0x1FFFF, 0x44}, {0x10000, 0x55}, {0x20030, 0x66}}, {}, HexAddressing::kWholeFlash},
        TextCase{"AByteBeyondTheFlashIsRefused",
                 HexRecord(0, 4, std::string("\x00\x0F", 2)) + HexRecord(0xFFFF, 0, "\x44\x55") + kEndRecord, 0,
                 false, {{0xFFFFF, 0x44}}, {HexFault::kBeyondFlash, 2, 0, {}, 0x100000}, HexAddressing::kWholeFlash},
        TextCase{"TheTopOfALinearAddressDoesNotWrapToTheBottom",
                 HexRecord(0, 4, "\xFF\xFF") + HexRecord(0xFFFF, 0, "\x44\x55") + kEndRecord, 0, false, {},
                 {HexFault::kBeyondFlash, 2, 0, {}, 0xFFFFFFFF}, HexAddressing::kWholeFlash},
        TextCase{"AnExtendedAddressAtABaseIsRefused",
                 HexRecord(0, 4, std::string("\x00\x01", 2)) + ":0300300002337A1E\r\n" + kEndRecord, 0x10000,
                 false, {}, {HexFault::kExtendedWithBase, 1, 4, {}, 0x10000}, HexAddressing::kWholeFlash},
        TextCase{"AZeroExtendedAddressAtABaseMovesNothing",
                 HexRecord(0, 2, std::string(2, '\0')) + ":0300300002337A1E\r\n" + kEndRecord, 0x20000, true,
                 kWorked, {}, HexAddressing::kWholeFlash}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ReadHex, StopsRightAfterTheEndRecord) {
  const std::string text = std::string(kEndRecord) + "anything";
  auto stream = StreamOf(text);
  CFlashImage image;
  ASSERT_TRUE(image.ReadHex(stream, 0));
  std::uint8_t rest[32];
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rest), stream.Read(rest, sizeof rest)), "\r\nanything");
}

TEST(ReadHex, LoadingTheSameTextTwiceKeepsTheCount) {
  const std::string text = HexRecord(0x1000, 0, "abcdefgh") + HexRecord(0x0FF8, 0, "12345678") + kEndRecord;
  CFlashImage image;
  auto first = StreamOf(text);
  auto second = StreamOf(text);
  ASSERT_TRUE(image.ReadHex(first, 0x70000));
  ASSERT_TRUE(image.ReadHex(second, 0x70000));
  EXPECT_EQ(image.GetCount(), 16u);
  EXPECT_EQ(image.GetByte(0x70FF8), '1');
  EXPECT_EQ(image.GetByte(0x71007), 'h');
}

TEST(ReadHex, BinaryJunkNeverHangsOrCrashes) {
  // Every byte value, repeated: the reader must come back with a result.
  std::string junk;
  for (int round = 0; round < 64; ++round)
    for (int b = 0; b < 255; ++b) junk += static_cast<char>((b * 37 + round) % 255);
  auto stream = StreamOf(junk);
  CFlashImage image;
  EXPECT_FALSE(image.ReadHex(stream, 0));
}

TEST(LoadHexResource, UnknownIdLoadsNothing) {
  CFlashImage image;
  EXPECT_FALSE(image.LoadHexResource(159, 0));
  EXPECT_FALSE(image.LoadHexResource(174, 0));
  EXPECT_EQ(image.GetCount(), 0u);
}

}  // namespace
}  // namespace cvm6
