#include "platform/path_mapping.h"

#include <gtest/gtest.h>

#include "scratch.h"

namespace cvm6 {
namespace {

namespace fs = std::filesystem;
using test::CurrentDirGuard;
using test::EnvGuard;
using test::ScratchDir;

class PathMapping : public ::testing::Test {
 protected:
  ScratchDir m_drive;
  EnvGuard m_y{"CVM6_DRIVE_Y", m_drive.path().string()};
};

TEST_F(PathMapping, UnsetOrEmptyDriveDoesNotExist) {
  EnvGuard unset("CVM6_DRIVE_Q", std::nullopt);
  EXPECT_FALSE(MapWindowsPath("Q:\\CVM6\\cvm6.H01"));
  EnvGuard empty("CVM6_DRIVE_Q", "");
  EXPECT_FALSE(MapWindowsPath("Q:\\CVM6\\cvm6.H01"));
}

TEST_F(PathMapping, ComponentsMatchIgnoringCase) {
  const auto file = m_drive.Write("cvm6/CVM6.h01", "x");
  EXPECT_EQ(MapWindowsPath("Y:\\CVM6\\cvm6.H01"), file.string());
  EXPECT_EQ(MapWindowsPath("y:\\Cvm6\\Cvm6.H01"), file.string());
  EXPECT_EQ(MapWindowsPath("Y:/cvm6//cvm6.h01"), file.string());
}

TEST_F(PathMapping, ExactNameIsPreferredThenTheLowest) {
  m_drive.Write("CVM6/a", "x");
  m_drive.Write("cvm6/a", "x");
  EXPECT_EQ(MapWindowsPath("Y:\\cvm6\\a"), (m_drive.path() / "cvm6/a").string());
  EXPECT_EQ(MapWindowsPath("Y:\\CVM6\\a"), (m_drive.path() / "CVM6/a").string());
  EXPECT_EQ(MapWindowsPath("Y:\\Cvm6\\a"), (m_drive.path() / "CVM6/a").string());
}

TEST_F(PathMapping, MissingNameIsKeptAsWritten) {
  EXPECT_EQ(MapWindowsPath("Y:\\CVM6\\cvm6.H07"), (m_drive.path() / "CVM6/cvm6.H07").string());
}

TEST_F(PathMapping, RelativeNamesUseTheCurrentDirectory) {
  ScratchDir cwd;
  CurrentDirGuard inside(cwd.path());
  cwd.Write("Sub/A.HEX", "x");
  const auto mapped = MapWindowsPath("sub\\a.hex");
  ASSERT_TRUE(mapped);
  EXPECT_EQ(fs::canonical(*mapped), fs::canonical(cwd.path() / "Sub/A.HEX"));
  EXPECT_EQ(MapWindowsPath("CVM6.INI"), "CVM6.INI");
}

TEST_F(PathMapping, NamesThatCannotBePaths) {
  EXPECT_FALSE(MapWindowsPath(""));
  EXPECT_FALSE(MapWindowsPath(std::string("a\0b", 3)));
}

}  // namespace
}  // namespace cvm6
