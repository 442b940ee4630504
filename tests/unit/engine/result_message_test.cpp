// The text at the end of a run: which string a code selects and which numbers
// it shows.
#include <gtest/gtest.h>

#include <string>

#include "common/strings.h"
#include "engine/result_message.h"

namespace {

// The part of a string before its first placeholder, to tell texts apart.
std::string Lead(unsigned id) {
  std::string text = LoadResString(id);
  return text.substr(0, text.find('%'));
}

TEST(FormatResultMessage, ChoosesTheTextAndItsNumbers) {
  struct Case {
    int type, code, extra;
    unsigned id;
    const char* shown;  // the numbers as they appear, or "" when none
  } cases[] = {
      {1, -376, 5, 10500, "(-376:5)"},
      {1, -399, 0, 10500, "(-399:0)"},
      {1, -379, 0, 10501, "(-379:0)"},
      {1, -373, 32, 10502, "(-373:32)"},
      {1, -371, -3, 10503, "(-371:-3)"},
      {1, -377, 0, 10504, "(-377:0)"},
      {1, -300, 32, 10402, "(32)"},
      {1, -297, 99, 10403, ""},
      {1, -296, 12029, 10404, "(12029)"},
      {1, -290, 4, 10405, "(-290:4)"},
      {1, -284, 404, 10406, "(-284:404)"},
      {1, -286, 1, 10407, ""},
      {1, -285, 1, 10408, ""},
      {1, -200, 1, 10300, ""},
      {1, -198, 1, 10302, ""},
      {1, -190, 1, 10310, ""},
      {1, -194, 1, 10202, "(-194)"},
      {1, -97, 0, 10202, "(-97)"},
      {1, -93, 0, 10202, "(-93)"},
      {1, -187, 0, 10400, "(-187)"},
      {1, -184, 0, 10401, "(-184)"},
      {1, -170, 404, 10600, "(-170:404)"},
      {1, -171, 0, 10601, "(-171)"},
      {1, -172, 0, 10601, "(-172)"},
      {1, -173, 0, 10602, "(-173)"},
      {1, -174, 0, 10603, "(-174)"},
      {1, -175, 0, 10604, "(-175)"},
      {1, -176, 0, 10605, "(-176)"},
      {2, 0, 0, 10301, "(0)"},
      {2, 0, 7, 10301, "(7)"},
  };
  for (const Case& c : cases) {
    std::string text;
    ASSERT_TRUE(FormatResultMessage(&text, c.type, c.code, c.extra)) << c.code;
    ASSERT_FALSE(Lead(c.id).empty()) << c.id;
    EXPECT_EQ(0u, text.find(Lead(c.id))) << c.code << " should use " << c.id;
    EXPECT_EQ(std::string::npos, text.find('%')) << c.code;
    if (*c.shown) {
      EXPECT_NE(std::string::npos, text.find(c.shown)) << c.code;
    } else {
      EXPECT_EQ(LoadResString(c.id), text) << c.code;
    }
  }
}

TEST(FormatResultMessage, TextsAreInCodePage932) {
  std::string text;
  ASSERT_TRUE(FormatResultMessage(&text, 1, -192, 0));
  EXPECT_EQ(
      "\x8c\xbb\x8d\xdd\x83\x54\x81\x5b\x83\x72\x83\x58\x82\xcd\x8d\x73\x82\xed\x82\xea\x82\xc4\x82\xa2\x82\xdc\x82"
      "\xb9\x82\xf1\x81\x42",
      text);  // 現在サービスは行われていません。
}

TEST(FormatResultMessage, UnknownCodesAndTypes) {
  std::string text = "unchanged";
  EXPECT_TRUE(FormatResultMessage(&text, 1, -150, 3));
  EXPECT_EQ("unchanged", text);
  EXPECT_TRUE(FormatResultMessage(&text, 1, -199, 3));  // a kind-1 reply that only ever comes as type 2
  EXPECT_EQ("unchanged", text);
  EXPECT_FALSE(FormatResultMessage(&text, 0, 0, 0));
  EXPECT_FALSE(FormatResultMessage(&text, 3, -376, 0));
  EXPECT_EQ("unchanged", text);
}

}  // namespace
