// Which source LoadFirmwareImage takes on Windows, where the sources' names are opened
// as they stand: a list file in a scratch current directory, and the embedded texts,
// found through the program's real resources, when there is no list file and no drive Y:.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "image/flash_image.h"
#include "scratch.h"

namespace cvm6 {
namespace {

using test::HexRecord;
using test::kEndRecord;

class Win32ImageSources : public ::testing::Test {
 protected:
  std::vector<std::string> Load() {
    std::vector<std::string> lines;
    m_image.LoadFirmwareImage([&](const std::string& line) { lines.push_back(line); });
    return lines;
  }
  static std::string Hex(std::uint16_t offset, const std::string& text) {
    return HexRecord(offset, 0, text) + kEndRecord;
  }

  test::ScratchDir m_cwd;
  test::CurrentDirGuard m_inCwd{m_cwd.path()};
  CFlashImage m_image;
};

TEST_F(Win32ImageSources, ListFileNamesAreOpenedAsTheyStandRelativeAbsoluteOrWithSlashes) {
  m_cwd.Write("a.hex", Hex(0x0010, "a"));
  m_cwd.Write("sub/b.hex", Hex(0x0020, "b"));
  const std::string absolute = m_cwd.Write("c.hex", Hex(0x0030, "c")).string();
  ASSERT_EQ(absolute[1], ':') << absolute;  // a drive letter, as a technician writes it
  m_cwd.Write("cvm6.ini", "a.hex 0\r\nsub\\b.hex 10000\r\n" + absolute + " 20000\r\nsub/b.hex 30000\r\n");
  EXPECT_EQ(Load().size(), 4u);
  EXPECT_EQ(m_image.GetCount(), 4u);
  EXPECT_EQ(m_image.GetByte(0x00010), 'a');
  EXPECT_EQ(m_image.GetByte(0x10020), 'b');
  EXPECT_EQ(m_image.GetByte(0x20030), 'c');
  EXPECT_EQ(m_image.GetByte(0x30020), 'b');
}

// A list file that names a device or a folder: nothing is read from it, nothing waits
// on it, and the entries after it still load.
TEST_F(Win32ImageSources, DevicesAndFoldersNamedInTheListAreNotOpened) {
  m_cwd.Write("last.hex", Hex(0x0040, "z"));
  m_cwd.Write("folder/x", "");
  m_cwd.Write("cvm6.ini", "COM1 0\nNUL 10000\nCON 20000\n\\\\.\\COM1 30000\nfolder 40000\nlast.hex 50000\n");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Load().size(), 6u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(m_image.GetCount(), 1u);
  EXPECT_EQ(m_image.GetByte(0x50040), 'z');
}

TEST_F(Win32ImageSources, WithoutAListFileOrDriveYTheEmbeddedTextsAreLoaded) {
  if (GetDriveTypeA("Y:\\") != DRIVE_NO_ROOT_DIR) GTEST_SKIP() << "this Wine prefix has a drive Y:";
  EXPECT_EQ(Load(), std::vector<std::string>{"Loading program files"});
  EXPECT_EQ(m_image.GetCount(), 617256u);
  EXPECT_EQ(m_image.NextSetAddress(0), 0x02000u);
  EXPECT_TRUE(m_image.IsSet(0xDFFFF));
}

}  // namespace
}  // namespace cvm6
