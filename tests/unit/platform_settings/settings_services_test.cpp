// The services the settings store needs: INI files, the profile value, drive
// classification and the program's path. The same cases hold for the Windows
// functions and for the POSIX stand-ins.
#include "platform/drives.h"
#include "platform/ini.h"
#include "platform/module.h"
#include "platform/profile.h"

#include <gtest/gtest.h>

#include "../../support/scratch.h"

using namespace testing_support;

namespace {

TEST(PlatformIni, ReadsWithTheWindowsRules) {
  ScratchFolder dir;
  const std::string path = dir / "t.ini";
  ASSERT_TRUE(WriteWholeFile(path,
                             "[One]\r\nKey=first\r\n[Two]\r\n  Key  =  padded value  \r\nQuote='x y'\r\n"
                             "Half=\"x\r\nNumber=-3\r\nHex=0x1fz\r\nOctal=0o17\r\nBinary=0b101\r\n"));
  struct Case {
    const char* section;
    const char* key;
    const char* value;
  };
  const Case cases[] = {
      {"One", "Key", "first"},  {"two", "key", "padded value"}, {"Two", "Quote", "x y"},
      {"Two", "Half", "\"x"},   {"Two", "Missing", "dflt"},     {"Three", "Key", "dflt"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(plat::ProfileReadString(path, c.section, c.key, "dflt", 4096), c.value) << c.section << c.key;
  EXPECT_EQ(plat::ProfileReadString(path, "Two", "Key", nullptr, 7), "padded");  // cut to size - 1
  EXPECT_EQ(plat::ProfileReadString(path, "Two", "Missing", "d  ", 4096), "d");  // default's trailing blanks go
  EXPECT_EQ(plat::ProfileReadInt(path, "Two", "Number", 5), 0u - 3u);
  EXPECT_EQ(plat::ProfileReadInt(path, "Two", "Hex", 5), 31u);
  EXPECT_EQ(plat::ProfileReadInt(path, "Two", "Octal", 5), 15u);
  EXPECT_EQ(plat::ProfileReadInt(path, "Two", "Binary", 5), 5u);
}

TEST(PlatformIni, WritesCreateEditAndDelete) {
  ScratchFolder dir;
  const std::string path = dir / "w.ini";
  EXPECT_TRUE(plat::ProfileWriteString(path, "Main", "Gone", nullptr));  // deleting from no file
  EXPECT_TRUE(plat::ProfileWriteString(path, "Main", "A", "1"));
  EXPECT_TRUE(plat::ProfileWriteString(path, "Main", "B", "2"));
  EXPECT_TRUE(plat::ProfileWriteString(path, "main", "a", "3"));
  EXPECT_TRUE(plat::ProfileWriteString(path, "Main", "B", nullptr));
  EXPECT_EQ(plat::ProfileReadString(path, "Main", "A", nullptr, 4096), "3");
  EXPECT_EQ(plat::ProfileReadString(path, "Main", "B", "none", 4096), "none");
  EXPECT_FALSE(plat::ProfileWriteString(dir / "no\\such\\w.ini", "Main", "A", "1"));
}

TEST(PlatformDrives, UncPathsAndMissingRoots) {
  EXPECT_TRUE(plat::IsUncPath("\\\\server\\share"));
  EXPECT_TRUE(plat::IsUncPath("\\\\server"));
  EXPECT_FALSE(plat::IsUncPath("\\single"));
  EXPECT_FALSE(plat::IsUncPath("C:\\x"));
  EXPECT_FALSE(plat::IsUncPath(""));
  EXPECT_EQ(plat::DriveTypeOfRoot(""), plat::kDriveNoRootDir);
  EXPECT_EQ(plat::DriveTypeOfRoot(plat::StripToRoot(plat::GetTempFolder())), plat::kDriveFixed);
}

TEST(PlatformProfile, MissingValueGivesTheDefault) {
  EXPECT_EQ(plat::ReadProfileString("Quillmere", "Marlo", "NoSuchSection", "NoSuchEntry", "dflt"), "dflt");
  EXPECT_EQ(plat::ReadProfileString("Quillmere", "Marlo", "NoSuchSection", "NoSuchEntry", nullptr), "");
}

TEST(PlatformModule, ProgramPathIsAbsolute) {
  const std::string path = plat::GetProgramPath();
  ASSERT_FALSE(path.empty());
  EXPECT_FALSE(plat::StripToRoot(path).empty());
  EXPECT_NE(path.find("unit_platform_settings"), std::string::npos);
}

}  // namespace
