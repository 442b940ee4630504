#include "engine/crc32.h"

#include <gtest/gtest.h>

#include "../../support/scratch.h"

using namespace testing_support;

namespace {

TEST(Crc32, CheckValueEmptyFileAndBlockBoundaries) {
  ScratchFolder dir;
  struct Case {
    std::string name;
    std::string bytes;
    uint32_t crc;
  } cases[] = {
      {"check.txt", "123456789", 0xCBF43926u},
      {"empty.bin", "", 0u},
      // 65536 and 65537 bytes straddle the read size; values from zlib's crc32.
      {"block.bin", std::string(65536, 'a'), 0xC32091FFu},
      {"block1.bin", std::string(65537, 'a'), 0xC576715Fu},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteWholeFile(dir / c.name, c.bytes));
    CCrc32 crc;
    uint32_t error = 99;
    ASSERT_TRUE(crc.Compute(dir / c.name, &error)) << c.name;
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(crc.GetValue(), c.crc) << c.name;
    EXPECT_EQ(crc.GetValue(), c.crc) << "GetValue must not change the value";
  }
}

TEST(Crc32, ComputeTwiceWithoutResetChainsTheFiles) {
  ScratchFolder dir;
  ASSERT_TRUE(WriteWholeFile(dir / "a", "12345"));
  ASSERT_TRUE(WriteWholeFile(dir / "b", "6789"));
  CCrc32 crc;
  ASSERT_TRUE(crc.Compute(dir / "a", nullptr));
  ASSERT_TRUE(crc.Compute(dir / "b", nullptr));
  EXPECT_EQ(crc.GetValue(), 0xCBF43926u);
  crc.Reset();
  ASSERT_TRUE(crc.Compute(dir / "b", nullptr));
  EXPECT_NE(crc.GetValue(), 0xCBF43926u);
}

TEST(Crc32, MissingOrUnreadableFileGivesTheSystemError) {
  ScratchFolder dir;
  CCrc32 crc;
  ASSERT_TRUE(WriteWholeFile(dir / "a", "12345"));
  ASSERT_TRUE(crc.Compute(dir / "a", nullptr));
  uint32_t before = crc.GetValue();

  uint32_t error = 0;
  EXPECT_FALSE(crc.Compute(dir / "missing.bin", &error));
  EXPECT_EQ(error, plat::kErrorFileNotFound);
  EXPECT_EQ(crc.GetValue(), before);  // what was fed before stays

  EXPECT_FALSE(crc.Compute(dir.Path(), &error));  // a folder cannot be read as a file
  EXPECT_EQ(error, plat::kErrorAccessDenied);
}

}  // namespace
