#include <gtest/gtest.h>

#include <cstring>

#include "../../support/scratch.h"
#include "app/ini_path.h"
#include "fileinfo/list_buffer.h"
#include "platform/files.h"

using namespace testing_support;

namespace {

bool IsFolder(const std::string& path) {
  plat::FileStatus status;
  return plat::GetFileStatus(path, &status) && (status.attributes & plat::kAttrDirectory);
}

TEST(IniPath, UnderTheDocumentsFolderCreatingItsSubfolders) {
  ScratchFolder docs;
  std::string withoutBackslash = docs.Path().substr(0, docs.Path().size() - 1);
  for (const std::string& documents : {withoutBackslash, docs.Path()}) {
    EXPECT_EQ(ResolveIniPath(documents), docs / "Quillmere\\Marlo\\MarloStarter.ini") << documents;
  }
  EXPECT_TRUE(IsFolder(docs / "Quillmere\\Marlo"));
  EXPECT_FALSE(plat::FileExists(docs / "Quillmere\\Marlo\\MarloStarter.ini"));  // made by the first write
}

TEST(IniPath, TemporaryFolderWhenTheDocumentsFolderCannotBeUsed) {
  const std::string fallback = plat::GetTempFolder() + "MarloStarter.ini";
  EXPECT_EQ(ResolveIniPath(""), fallback);

  // "Quillmere" is a file, so "Marlo" cannot be made below it.
  ScratchFolder docs;
  ASSERT_TRUE(WriteWholeFile(docs / "Quillmere", "x"));
  EXPECT_EQ(ResolveIniPath(docs.Path()), fallback);

  // A documents folder that does not exist.
  EXPECT_EQ(ResolveIniPath(docs / "missing\\deeper"), fallback);
}

TEST(ListBuffer, AppendsUpToTheBlockSizeAndNoFurther) {
  CFileListBuffer buffer;
  const char piece[] = "0123456789";
  EXPECT_FALSE(buffer.Append(piece, 1));  // no block yet
  EXPECT_EQ(buffer.GetSize(true), 0u);

  ASSERT_TRUE(buffer.Alloc(1));
  EXPECT_EQ(buffer.GetSize(true), 1024u);
  EXPECT_EQ(buffer.Data()[1023], 0);
  EXPECT_FALSE(buffer.Append(nullptr, 1));
  EXPECT_TRUE(buffer.Append(piece, 10));
  std::string big(1014, 'b');
  EXPECT_FALSE(buffer.Append(big.data(), 1015));  // one byte too many
  EXPECT_EQ(buffer.GetSize(false), 10u);
  EXPECT_TRUE(buffer.Append(big.data(), 1014));   // exactly the room left
  EXPECT_EQ(buffer.GetSize(false), 1024u);
  EXPECT_EQ(std::memcmp(buffer.Data(), piece, 10), 0);
  // A length that would wrap a 32-bit sum is refused.
  EXPECT_FALSE(buffer.Append(piece, 0xFFFFFFFFu));

  ASSERT_TRUE(buffer.Alloc(2));  // a new block starts empty
  EXPECT_EQ(buffer.GetSize(false), 0u);
  EXPECT_EQ(buffer.GetSize(true), 2048u);
  EXPECT_EQ(buffer.Data()[0], 0);
}

TEST(ListBuffer, SizesBeyondFourGigabytesAreRefused) {
  CFileListBuffer buffer;
  EXPECT_FALSE(buffer.Alloc(0xFFFFFFFFu));
  EXPECT_EQ(buffer.GetSize(true), 0u);
}

}  // namespace
