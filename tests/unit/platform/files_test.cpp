#include "platform/files.h"

#include <gtest/gtest.h>

#include "../../support/scratch.h"

using namespace testing_support;

namespace {

TEST(PlatformFiles, WriteThenReadBackInBlocks) {
  ScratchFolder dir;
  std::string data(200000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(WriteWholeFile(dir / "a.bin", data));

  plat::FileHandle f = plat::OpenFile(dir / "a.bin", plat::OpenMode::ReadExisting);
  ASSERT_NE(f, plat::kInvalidFile);
  std::string back;
  char buffer[65536];
  size_t got = 0;
  int reads = 0;
  while (plat::ReadFile(f, buffer, sizeof buffer, &got) && got > 0) {
    back.append(buffer, got);
    ++reads;
  }
  EXPECT_EQ(got, 0u);  // the end of the file reads as zero bytes
  EXPECT_TRUE(plat::CloseFile(f));
  EXPECT_EQ(back, data);
  EXPECT_GE(reads, 4);
}

TEST(PlatformFiles, OpenMissingFileFailsWithFileNotFound) {
  ScratchFolder dir;
  EXPECT_EQ(plat::OpenFile(dir / "missing.bin", plat::OpenMode::ReadExisting), plat::kInvalidFile);
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  EXPECT_EQ(plat::OpenFile(dir / "no\\such\\x.bin", plat::OpenMode::CreateAlways), plat::kInvalidFile);
  EXPECT_EQ(plat::LastError(), plat::kErrorPathNotFound);
}

TEST(PlatformFiles, StatusGivesSizeAttributesAndTimes) {
  ScratchFolder dir;
  ASSERT_TRUE(WriteWholeFile(dir / "s.bin", std::string(12345, 'x')));
  plat::FileStatus st;
  ASSERT_TRUE(plat::GetFileStatus(dir / "s.bin", &st));
  EXPECT_EQ(st.size, 12345u);
  EXPECT_EQ(st.attributes & plat::kAttrDirectory, 0u);

  ASSERT_TRUE(plat::GetFileStatus(dir.Path(), &st));
  EXPECT_NE(st.attributes & plat::kAttrDirectory, 0u);
  EXPECT_FALSE(plat::GetFileStatus(dir / "none", &st));

  // 2001-02-03 04:05:06 UTC as a FILETIME; whole seconds survive on every file system.
  const uint64_t when = 126253323060000000ULL;
  ASSERT_TRUE(plat::SetFileTimes(dir / "s.bin", when, when, when));
  ASSERT_TRUE(plat::GetFileStatus(dir / "s.bin", &st));
  EXPECT_EQ(st.lastWriteTime, when);
  EXPECT_EQ(st.lastAccessTime, when);
}

TEST(PlatformFiles, ReadOnlyFilesResistDeleteAndOverwriteUntilCleared) {
  ScratchFolder dir;
  ASSERT_TRUE(WriteWholeFile(dir / "ro.txt", "old"));
  ASSERT_TRUE(WriteWholeFile(dir / "new.txt", "new"));
  ASSERT_TRUE(plat::SetAttributes(dir / "ro.txt", plat::kAttrReadOnly));
  plat::FileStatus st;
  ASSERT_TRUE(plat::GetFileStatus(dir / "ro.txt", &st));
  EXPECT_NE(st.attributes & plat::kAttrReadOnly, 0u);

  EXPECT_FALSE(plat::RemoveFile(dir / "ro.txt"));
  EXPECT_EQ(plat::LastError(), plat::kErrorAccessDenied);

  ASSERT_TRUE(plat::SetAttributes(dir / "ro.txt", plat::kAttrNormal));
  EXPECT_TRUE(plat::CopyFileTo(dir / "new.txt", dir / "ro.txt", false));
  EXPECT_EQ(ReadWholeFile(dir / "ro.txt"), "new");
  EXPECT_TRUE(plat::RemoveFile(dir / "ro.txt"));
  EXPECT_FALSE(plat::FileExists(dir / "ro.txt"));
}

TEST(PlatformFiles, CopyAndMoveRules) {
  ScratchFolder dir;
  ASSERT_TRUE(WriteWholeFile(dir / "a", "alpha"));
  ASSERT_TRUE(WriteWholeFile(dir / "b", "beta"));
  EXPECT_FALSE(plat::CopyFileTo(dir / "a", dir / "b", true));  // fail if it exists
  EXPECT_EQ(ReadWholeFile(dir / "b"), "beta");
  EXPECT_TRUE(plat::CopyFileTo(dir / "a", dir / "b", false));
  EXPECT_EQ(ReadWholeFile(dir / "b"), "alpha");
  EXPECT_FALSE(plat::CopyFileTo(dir / "missing", dir / "c", false));

  EXPECT_FALSE(plat::RenameFile(dir / "a", dir / "b"));  // never replaces
  EXPECT_TRUE(plat::RenameFile(dir / "a", dir / "c"));
  EXPECT_FALSE(plat::FileExists(dir / "a"));
  EXPECT_EQ(ReadWholeFile(dir / "c"), "alpha");
}

TEST(PlatformFiles, FoldersOneLevelAtATime) {
  ScratchFolder dir;
  EXPECT_TRUE(plat::MakeDirectory(dir / "one"));
  EXPECT_FALSE(plat::MakeDirectory(dir / "one"));
  EXPECT_EQ(plat::LastError(), plat::kErrorAlreadyExists);
  EXPECT_FALSE(plat::MakeDirectory(dir / "x\\y"));  // the parent is missing
  EXPECT_TRUE(plat::MakeDirectory(dir / "one\\two"));
  EXPECT_TRUE(plat::FileExists(dir / "one\\two"));
  EXPECT_FALSE(plat::RemoveEmptyDirectory(dir / "one"));  // not empty
  EXPECT_TRUE(plat::RemoveEmptyDirectory(dir / "one\\two"));
  EXPECT_TRUE(plat::RemoveEmptyDirectory(dir / "one"));
}

TEST(PlatformFiles, FreeSpaceRootAndTempFolder) {
  ScratchFolder dir;
  uint64_t freeBytes = 0;
  ASSERT_TRUE(plat::GetFreeDiskSpace(dir.Path(), &freeBytes));
  EXPECT_GT(freeBytes, 0u);

  std::string temp = plat::GetTempFolder();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), '\\');
  EXPECT_NE(temp.substr(0, temp.size() - 1).back(), '\\');
#ifdef _WIN32
  EXPECT_EQ(plat::StripToRoot("C:\\Work\\a.bin"), "C:\\");
  EXPECT_EQ(plat::StripToRoot("c:\\"), "c:\\");
  EXPECT_EQ(plat::StripToRoot("\\\\server\\share\\dir\\f"), "\\\\server\\share");
#else
  EXPECT_EQ(plat::StripToRoot("\\tmp\\a.bin"), "\\");
#endif
}

}  // namespace
