// Which source LoadFirmwareImage takes, with a scratch current directory and a scratch
// drive Y:, both put back after each test.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "image/flash_image.h"
#include "image/image_read_error.h"
#include "scratch.h"

namespace cvm6 {
namespace {

using test::HexRecord;
using test::kEndRecord;
using test::ScratchDir;

constexpr std::uint32_t kEmbeddedCount = 617256;

class ImageSources : public ::testing::Test {
 protected:
  std::vector<std::string> Load() {
    std::vector<std::string> lines;
    m_report = m_image.LoadFirmwareImage([&](const std::string& line) { lines.push_back(line); });
    return lines;
  }
  // The report's faults as "text: fault" lines.
  std::vector<std::string> Faults() const {
    std::vector<std::string> faults;
    for (const auto& [text, fault] : m_report.faults) faults.push_back(text + ": " + fault.Describe());
    return faults;
  }

  // A hex text storing `text` at offset `offset` of its bank.
  static std::string Hex(std::uint16_t offset, const std::string& text, bool endRecord = true) {
    return HexRecord(offset, 0, text) + (endRecord ? kEndRecord : "");
  }

  void WriteBankFiles(const std::string& folder) {
    for (int n = 1; n <= 14; ++n) {
      char name[16];
      std::snprintf(name, sizeof name, "cvm6.H%02d", n);
      m_drive.Write(folder + "/" + name, Hex(0x0100, std::string(1, static_cast<char>('A' + n))));
    }
  }

  ScratchDir m_cwd;
  ScratchDir m_drive;
  test::CurrentDirGuard m_inCwd{m_cwd.path()};
  test::EnvGuard m_y{"CVM6_DRIVE_Y", m_drive.path().string()};
  CFlashImage m_image;
  ImageLoadReport m_report;
};

TEST_F(ImageSources, ListFileLoadsEachEntryAtItsBase) {
  m_cwd.Write("a.hex", Hex(0x0010, "aa"));
  m_cwd.Write("b.hex", Hex(0x0020, "bbb"));
  m_cwd.Write("cvm6.ini", "a.hex 0\r\nb.hex 10000\r\n");
  EXPECT_EQ(Load(), (std::vector<std::string>{"a.hex 0X00000", "b.hex 0X10000"}));
  EXPECT_EQ(m_image.GetCount(), 5u);
  EXPECT_EQ(m_image.GetByte(0x00010), 'a');
  EXPECT_EQ(m_image.GetByte(0x10022), 'b');
  EXPECT_EQ(m_report.source, ImageSource::kListFile);
  EXPECT_TRUE(m_report.Usable());
}

TEST_F(ImageSources, BaseOf100000EndsTheList) {
  m_cwd.Write("a.hex", Hex(0x0010, "aa"));
  m_cwd.Write("b.hex", Hex(0x0020, "bbb"));
  m_cwd.Write("cvm6.ini", "a.hex 0\nb.hex 100000\n");
  EXPECT_EQ(Load(), std::vector<std::string>{"a.hex 0X00000"});
  EXPECT_EQ(m_image.GetCount(), 2u);
  EXPECT_TRUE(m_report.Usable());  // the list ends there; nothing is missing
}

TEST_F(ImageSources, EmptyListFileLoadsNothing) {
  m_cwd.Write("cvm6.ini", "");
  WriteBankFiles("CVM6");
  EXPECT_TRUE(Load().empty());
  EXPECT_EQ(m_image.GetCount(), 0u);
}

// Loading goes on past an entry that fails, and the report names every one.
TEST_F(ImageSources, FailingEntriesArePassedOverAndAllReported) {
  m_cwd.Write("b.hex", Hex(0x0020, "bbb"));
  m_cwd.Write("c.hex", Hex(0x0020, "ccc", false));
  m_cwd.Write("cvm6.ini", "missing.hex 0\nb.hex 10000\nc.hex 20000\ngone.hex 30000\n");
  EXPECT_EQ(Load(), (std::vector<std::string>{"missing.hex 0X00000", "b.hex 0X10000", "c.hex 0X20000",
                                              "gone.hex 0X30000"}));
  EXPECT_EQ(m_image.GetCount(), 6u);
  EXPECT_EQ(Faults(), (std::vector<std::string>{"missing.hex: cannot be opened", "c.hex: no end-of-file record",
                                                "gone.hex: cannot be opened"}));
}

TEST_F(ImageSources, ListFileInTheCurrentDirectoryHidesDriveY) {
  m_cwd.Write("a.hex", Hex(0x0010, "aa"));
  m_cwd.Write("cvm6.ini", "a.hex 0\n");
  m_drive.Write("cvm6/cvm6.ini", "y.hex 0\n");
  WriteBankFiles("cvm6");
  EXPECT_EQ(Load(), std::vector<std::string>{"a.hex 0X00000"});
  EXPECT_EQ(m_image.GetCount(), 2u);
}

TEST_F(ImageSources, ListFileOnDriveYHidesTheHexFiles) {
  m_drive.Write("y.hex", Hex(0x0030, "y"));
  // The list's names are used as written: drive paths work as well as relative ones.
  m_drive.Write("CVM6/cvm6.ini", "Y:\\y.hex 20000\n");
  WriteBankFiles("CVM6");
  EXPECT_EQ(Load(), std::vector<std::string>{"Y:\\y.hex 0X20000"});
  EXPECT_EQ(m_image.GetCount(), 1u);
  EXPECT_EQ(m_image.GetByte(0x20030), 'y');
}

TEST_F(ImageSources, NoSourceOnDiskLoadsTheEmbeddedTexts) {
  EXPECT_EQ(Load(), std::vector<std::string>{"Loading program files"});
  EXPECT_EQ(m_image.GetCount(), kEmbeddedCount);
  EXPECT_EQ(m_image.NextSetAddress(0xFFFFFFFF), 0x02000u);
  EXPECT_EQ(m_report.source, ImageSource::kEmbedded);
  EXPECT_TRUE(m_report.Usable());
}

TEST_F(ImageSources, NoDriveYLoadsTheEmbeddedTexts) {
  test::EnvGuard noDrive("CVM6_DRIVE_Y", std::nullopt);
  EXPECT_EQ(Load(), std::vector<std::string>{"Loading program files"});
  EXPECT_EQ(m_image.GetCount(), kEmbeddedCount);
}

TEST_F(ImageSources, HexFilesOnDriveY) {
  WriteBankFiles("CVM6");
  EXPECT_EQ(Load(), std::vector<std::string>{"Loading hex file Y:\\CVM6\\cvm6"});
  EXPECT_EQ(m_image.GetCount(), 14u);
  for (std::uint32_t bank = 0; bank < 14; ++bank) EXPECT_EQ(m_image.GetByte(bank * 0x10000 + 0x100), 'B' + bank);
  EXPECT_EQ(m_report.source, ImageSource::kDriveY);
  EXPECT_TRUE(m_report.Usable());
}

TEST_F(ImageSources, FirstHexFileWithoutEndRecordFallsBackOnTopOfIt) {
  // 0x00010 lies below everything the embedded texts store; 0x02000 is overwritten.
  m_drive.Write("CVM6/cvm6.H01", HexRecord(0x0010, 0, "keep") + HexRecord(0x2000, 0, "\x01"));
  EXPECT_EQ(Load(), std::vector<std::string>{"Loading program files"});
  EXPECT_EQ(m_image.GetCount(), kEmbeddedCount + 4);
  EXPECT_EQ(m_image.GetByte(0x00010), 'k');
  EXPECT_EQ(m_image.GetByte(0x00013), 'p');
  CFlashImage embedded;
  ASSERT_TRUE(embedded.LoadHexResource(160, 0));
  EXPECT_EQ(m_image.GetByte(0x02000), embedded.GetByte(0x02000));
  // Two firmware versions mixed: the report refuses it.
  EXPECT_EQ(Faults(), std::vector<std::string>{"Y:\\CVM6\\cvm6.H01: no end-of-file record"});
}

TEST_F(ImageSources, MissingSeventhFileLeavesBankSixEmpty) {
  WriteBankFiles("CVM6");
  std::filesystem::remove(m_drive.path() / "CVM6/cvm6.H07");
  Load();
  EXPECT_EQ(m_image.GetCount(), 13u);
  EXPECT_EQ(m_image.NextSetAddress(0x5FFFF), 0x70100u);
  EXPECT_EQ(Faults(), std::vector<std::string>{"Y:\\CVM6\\cvm6.H07: cannot be opened"});
}

TEST_F(ImageSources, LowerCaseFolderIsFoundAsCVM6) {
  WriteBankFiles("cvm6");
  EXPECT_EQ(Load(), std::vector<std::string>{"Loading hex file Y:\\CVM6\\cvm6"});
  EXPECT_EQ(m_image.GetCount(), 14u);
}

TEST_F(ImageSources, UpperCaseFolderIsFoundAscvm6) {
  m_drive.Write("y.hex", Hex(0x0030, "y"));
  m_drive.Write("CVM6/cvm6.ini", "Y:\\y.hex 0\n");
  EXPECT_EQ(Load(), std::vector<std::string>{"Y:\\y.hex 0X00000"});
}

TEST_F(ImageSources, LongStatusLinesAreCutInTheNameNotTheBase) {
  const std::string name(75, 'n');
  m_cwd.Write(name, Hex(0, "z"));
  m_cwd.Write("cvm6.ini", name + " 12345\n");
  EXPECT_EQ(Load(), std::vector<std::string>{name.substr(0, 71) + " 0X12345"});
  EXPECT_EQ(m_image.GetByte(0x12345), 'z');
}

TEST_F(ImageSources, DirectoryOrFifoNamedLikeASourceIsNotOpened) {
  std::filesystem::create_directory(m_cwd.path() / "cvm6.ini");
  std::filesystem::create_directories(m_drive.path() / "cvm6/cvm6.H01");
  ASSERT_EQ(::mkfifo((m_drive.path() / "cvm6/cvm6.ini").c_str(), 0600), 0);
  EXPECT_EQ(Load(), std::vector<std::string>{"Loading program files"});
  EXPECT_EQ(m_image.GetCount(), kEmbeddedCount);
}

// The one file a technician names instead of the search: a list file whose names lie
// beside it, or a single hex file read at the base given.
class ChosenImage : public ImageSources {
 protected:
  std::vector<std::string> LoadFile(const std::string& path, std::uint32_t base = 0) {
    std::vector<std::string> lines;
    m_report = m_image.LoadImageFile(path, base, [&](const std::string& line) { lines.push_back(line); });
    return lines;
  }
};

TEST_F(ChosenImage, AListFileElsewhereTakesItsNamesFromItsOwnFolder) {
  ScratchDir elsewhere;
  elsewhere.Write("a.hex", Hex(0x0010, "aa"));
  elsewhere.Write("sub/b.hex", Hex(0x0020, "b"));
  m_cwd.Write("a.hex", Hex(0x0010, "WRONG"));  // the current folder's file is not the one meant
  const std::string list = elsewhere.Write("fw.ini", "a.hex 0\nsub/b.hex 10000\n").string();
  EXPECT_EQ(LoadFile(list), (std::vector<std::string>{"a.hex 0X00000", "sub/b.hex 0X10000"}));
  EXPECT_EQ(m_report.source, ImageSource::kListFile);
  EXPECT_EQ(m_report.path, list);
  EXPECT_EQ(m_report.SourceText(), "list file " + list);
  EXPECT_TRUE(m_report.Usable());
  EXPECT_EQ(test::StoredBytes(m_image),
            (std::map<std::uint32_t, std::uint8_t>{{0x10, 'a'}, {0x11, 'a'}, {0x10020, 'b'}}));
}

TEST_F(ChosenImage, AHexFileIsReadAtTheBaseGivenAndMatchesTheListFileEntry) {
  m_cwd.Write("fw.hex", "\r\n  " + Hex(0x0100, "hex!"));  // blank lines before the first record
  m_cwd.Write("one.ini", "fw.hex 20000\n");
  LoadFile("fw.hex", 0x20000);
  EXPECT_EQ(m_report.source, ImageSource::kHexFile);
  EXPECT_EQ(m_report.SourceText(), "hex file fw.hex at base 0X20000");
  EXPECT_TRUE(m_report.Usable());
  CFlashImage fromList;
  EXPECT_TRUE(fromList.LoadImageFile("one.ini", 0, nullptr).Usable());
  EXPECT_EQ(test::StoredBytes(m_image), test::StoredBytes(fromList));
  EXPECT_EQ(m_image.GetByte(0x20100), 'h');
}

TEST_F(ChosenImage, FaultsNameTheFileAndTheLine) {
  ScratchDir elsewhere;
  // The second record's checksum should be FA.
  elsewhere.Write("bad.hex", Hex(0x0000, "ok", false) + ":020010007A7A00\r\n" + kEndRecord);
  const std::string list = elsewhere.Write("fw.ini", "bad.hex 0\nmissing.hex 10000\n").string();
  LoadFile(list);
  const std::string folder = elsewhere.path().string() + "/";
  EXPECT_EQ(Faults(), (std::vector<std::string>{folder + "bad.hex: line 2: wrong checksum",
                                                folder + "missing.hex: cannot be opened"}));
  LoadFile(folder + "bad.hex");
  EXPECT_EQ(Faults(), std::vector<std::string>{folder + "bad.hex: line 2: wrong checksum"});
  LoadFile(folder + "nothing-here");
  EXPECT_EQ(Faults(), std::vector<std::string>{folder + "nothing-here: cannot be opened"});
  EXPECT_FALSE(m_report.Usable());
}

// Every fault of a list is reported at once, the list's own lines and its texts', in order.
TEST_F(ChosenImage, EveryFaultOfAListIsNamedAtOnce) {
  ScratchDir elsewhere;
  elsewhere.Write("b.hex", Hex(0x0010, "bb"));
  const std::string list = elsewhere.Write("fw.ini", "a.hex 1O000\nmissing.hex 10000\nb.hex\nb.hex 20000\n").string();
  LoadFile(list);
  const std::string folder = elsewhere.path().string() + "/";
  EXPECT_EQ(Faults(), (std::vector<std::string>{
                          list + ": line 1: the base of \"a.hex 1O000\" is not a hexadecimal number",
                          folder + "missing.hex: cannot be opened", list + ": line 3: \"b.hex\" has no base address"}));
  EXPECT_EQ(m_image.GetByte(0x20010), 'b');  // the good entries are still read
}

// A UTF-8 byte order mark in front decides nothing: a hex file is still read as one.
TEST_F(ChosenImage, AByteOrderMarkInFrontOfAHexFileIsPassedOver) {
  m_cwd.Write("bom.hex", "\xEF\xBB\xBF" + Hex(0x0100, "hex!"));
  LoadFile("bom.hex");
  EXPECT_EQ(m_report.source, ImageSource::kHexFile);
  EXPECT_TRUE(m_report.Usable());
  EXPECT_EQ(m_image.GetCount(), 4u);
}

TEST_F(ChosenImage, NothingIsTakenFromTheSearchOrder) {
  m_cwd.Write("cvm6.ini", "a.hex 0\n");
  m_cwd.Write("a.hex", Hex(0x0010, "aa"));
  WriteBankFiles("CVM6");
  m_cwd.Write("empty.ini", "");
  LoadFile("empty.ini");
  EXPECT_EQ(m_image.GetCount(), 0u);
  EXPECT_TRUE(m_report.Usable());  // an empty list: nothing missing, and nothing to write
}

TEST(LoadHexFile, ReadErrorOnAnOpenFileThrows) {
  // /proc/self/mem is a regular file whose first page is never mapped: reading it fails.
  if (!std::filesystem::exists("/proc/self/mem")) GTEST_SKIP() << "no /proc/self/mem to fail a read";
  CFlashImage image;
  EXPECT_THROW(image.LoadHexFile("/proc/self/mem", 0), CImageReadError);
}

TEST(LoadHexFile, MissingFileStoresNothing) {
  CFlashImage image;
  EXPECT_FALSE(image.LoadHexFile("/nonexistent/cvm6.H01", 0));
  EXPECT_EQ(image.GetCount(), 0u);
}

}  // namespace
}  // namespace cvm6
