// Character stepping in code page 932: trail bytes 0x5C and 0x7C are never
// separators or pipes, and case folding touches single-byte letters only;
// folders get their one trailing backslash by the same rule.
#include <gtest/gtest.h>

#include "platform/mbcs.h"
#include "engine/checker_core.h"  // AppendBackslash

namespace {

const std::string kHyouji = "\x95\x5c\x8e\xa6";  // "表示"

TEST(Mbcs, StepsOverDoubleByteCharacters) {
  const std::string path = "C:\\" + kHyouji + "\\a.txt";
  EXPECT_EQ(2u, mbcs::FindChar(path, '\\'));
  EXPECT_EQ(7u, mbcs::FindLastChar(path, '\\'));
  EXPECT_EQ(7u, mbcs::FindSeparator(path, 3));
  EXPECT_FALSE(mbcs::EndsWithChar("C:\\" + kHyouji.substr(0, 2), '\\'));  // ends in 95 5C
  EXPECT_TRUE(mbcs::EndsWithChar("C:\\" + kHyouji.substr(0, 2) + "\\", '\\'));
  EXPECT_EQ(std::string::npos, mbcs::FindChar(kHyouji, '\\'));
  // A lead byte at the end stands alone.
  EXPECT_EQ(1u, mbcs::CharLength("\x95", 0));
  EXPECT_EQ("a/" + kHyouji + "/b", mbcs::ReplaceChar("a\\" + kHyouji + "\\b", '\\', '/'));
}

TEST(Mbcs, CompareIgnoresCaseOfSingleByteLetters) {
  struct Case {
    std::string a, b;
    int sign;
  } cases[] = {
      {"c:\\", "C:\\", 0},
      {"C:\\Dir\\" + kHyouji, "c:\\dIR\\" + kHyouji, 0},
      {"a", "b", -1},
      {"ab", "a", 1},
      {"", "", 0},
      // Full-width letters (82 60 'Ａ', 82 81 'ａ') are not folded.
      {"\x82\x60", "\x82\x81", -1},
      // 0x5C as a trail byte compares as part of its character.
      {"\x95\x5c", "\x95\x7c", -1},
  };
  for (const Case& c : cases) {
    int r = mbcs::ICompare(c.a, c.b);
    EXPECT_EQ(c.sign, (r > 0) - (r < 0)) << c.a << " vs " << c.b;
  }
}

}  // namespace

namespace {

TEST(AppendBackslash, FoldersEndWithExactlyOneBackslash) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"C:\\img", "C:\\img\\"},
      {"C:\\img\\", "C:\\img\\"},
      {"", ""},
      {"C:\\" + kHyouji.substr(0, 2), "C:\\" + kHyouji.substr(0, 2) + "\\"},  // 95 5C is not a backslash
      {"C:\\" + kHyouji.substr(0, 2) + "\\", "C:\\" + kHyouji.substr(0, 2) + "\\"},
  };
  for (const Case& c : cases) {
    std::string folder = c.in;
    AppendBackslash(folder);
    EXPECT_EQ(c.out, folder) << c.in;
  }
}

}  // namespace
