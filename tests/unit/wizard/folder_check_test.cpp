#include "wizard/folder_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>

#include "../../support/scratch.h"
#include "common/strings.h"
#include "platform/files.h"
#include "scripted_message_box.h"

using namespace testing_support;

namespace {

bool IsFolder(const std::string& path) {
  plat::FileStatus status;
  return plat::GetFileStatus(path, &status) && (status.attributes & plat::kAttrDirectory);
}

std::string Message(unsigned id, const std::string& argument) {
  return FormatText(LoadResString(id).c_str(), argument.c_str());
}

TEST(ConfirmAndCreateFolder, AsksOnceAndCreatesEveryMissingLevel) {
  ScratchFolder dir;
  ScriptedMessageBox box;
  box.Answer(IDYES);
  std::string folder = dir / "a\\b\\c";
  EXPECT_TRUE(ConfirmAndCreateFolder(folder));
  ASSERT_EQ(box.asked.size(), 1u);
  EXPECT_EQ(box.asked[0].text, Message(10100, folder));
  EXPECT_EQ(box.asked[0].style, unsigned(MB_YESNO | MB_ICONEXCLAMATION));
  EXPECT_TRUE(IsFolder(dir / "a\\b\\c"));
}

TEST(ConfirmAndCreateFolder, DecliningAcceptsWithoutCreating) {
  ScratchFolder dir;
  ScriptedMessageBox box;
  box.Answer(IDNO);
  EXPECT_TRUE(ConfirmAndCreateFolder(dir / "new\\folder"));
  EXPECT_EQ(box.asked.size(), 1u);
  EXPECT_FALSE(plat::FileExists(dir / "new"));
}

TEST(ConfirmAndCreateFolder, ExistingFoldersAndTrailingBackslashesAskNothing) {
  ScratchFolder dir;
  ASSERT_TRUE(plat::MakeDirectory(dir / "here"));
  ScriptedMessageBox box;
  for (const std::string& folder : {dir / "here", dir / "here\\", dir.Path(), std::string("C:"), std::string("C:\\")}) {
    EXPECT_TRUE(ConfirmAndCreateFolder(folder)) << folder;
  }
  EXPECT_TRUE(box.asked.empty());
}

TEST(ConfirmAndCreateFolder, DoubledBackslashMakesNoEmptyLevel) {
  ScratchFolder dir;
  ScriptedMessageBox box;
  box.Answer(IDYES);
  EXPECT_TRUE(ConfirmAndCreateFolder(dir / "x\\\\y\\"));
  EXPECT_EQ(box.asked.size(), 1u);
  EXPECT_TRUE(IsFolder(dir / "x\\y"));
}

TEST(ConfirmAndCreateFolder, FileInTheWayIsNamedAndRejected) {
  ScratchFolder dir;
  ASSERT_TRUE(WriteWholeFile(dir / "file", "x"));
  ScriptedMessageBox box;
  EXPECT_FALSE(ConfirmAndCreateFolder(dir / "file\\sub\\deeper"));
  ASSERT_EQ(box.asked.size(), 1u);
  EXPECT_EQ(box.asked[0].text, Message(10102, dir / "file"));
  EXPECT_EQ(box.asked[0].style, unsigned(MB_ICONHAND));
}

TEST(ConfirmAndCreateFolder, LevelThatCannotBeMadeStopsTheWalkAndKeepsEarlierLevels) {
  ScratchFolder dir;
  ScriptedMessageBox box;
  box.Answer(IDYES);
  // No file system takes a single name of 300 characters.
  std::string folder = dir / ("made\\" + std::string(300, 'n') + "\\never");
  EXPECT_FALSE(ConfirmAndCreateFolder(folder));
  ASSERT_EQ(box.asked.size(), 2u);
  EXPECT_EQ(box.asked[1].text, LoadResString(10101));
  EXPECT_EQ(box.asked[1].style, unsigned(MB_ICONHAND));
  EXPECT_TRUE(IsFolder(dir / "made"));
}

TEST(ConfirmAndCreateFolder, DoubleByteNamesAreNotSplitAtTrailBytes) {
  ScratchFolder dir;
  ScriptedMessageBox box;
  box.Answer(IDYES);
  // "表示" in code page 932: 95 5C 8E A6; its first trail byte is a backslash.
  const std::string name = "\x95\x5C\x8E\xA6";
  EXPECT_TRUE(ConfirmAndCreateFolder(dir / (name + "\\sub")));
  EXPECT_EQ(box.asked.size(), 1u);
  EXPECT_TRUE(IsFolder(dir / (name + "\\sub")));
  // One folder was made at the top, not one per half of the name.
  auto entries = std::distance(std::filesystem::directory_iterator(NativePath(dir.Path())),
                               std::filesystem::directory_iterator());
  EXPECT_EQ(entries, 1);
}

TEST(FolderDriveMessages, EachUnusableDriveTypeHasItsMessage) {
  struct Case {
    unsigned type, image, download;
  };
  const Case cases[] = {{0, 10103, 10107}, {1, 10103, 10107}, {2, 10104, 10108}, {3, 0, 0},
                        {4, 10106, 10110}, {5, 10104, 10108}, {6, 10105, 10109}, {7, 0, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(ImageFolderDriveMessage(c.type), c.image) << c.type;
    EXPECT_EQ(DownloadFolderDriveMessage(c.type), c.download) << c.type;
  }
}

}  // namespace
