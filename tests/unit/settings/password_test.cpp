#include "settings/password.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

// Texts made once from fixed seeds. Any build must produce and read exactly
// these, or settings files written by one build stop decoding in another.
struct Vector {
  std::string password;
  uint32_t seed;
  const char* text;
};
const Vector kVectors[] = {
    {"a", 0, "yvKLATqA"},
    {"password", 1000000000, "yXmp5bWpTo6J@qwibC"},
    {"P@ss w0rd!", 0xFFFFFFFF, "LOzy9_iklaQgS8BXFw8k"},
    // "日本語ﾊﾟｽ" in code page 932: double-byte and half-width katakana bytes.
    {"\x93\xfa\x96{\x8c\xea\xca\xdf\xbd", 1234567890, "g6qoHghyroV9GI0k7LD"},
};

TEST(PasswordCodec, FixedVectorsEncodeAndDecode) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(v.text);
    std::string text;
    ASSERT_TRUE(EncodePasswordWithSeed(v.password, kPasswordKey, v.seed, text));
    EXPECT_EQ(text, v.text);
    std::string plain;
    ASSERT_TRUE(DecodePassword(v.text, kPasswordKey, plain));
    EXPECT_EQ(plain, v.password + '\0');  // the password followed by its own NUL
    EXPECT_STREQ(plain.c_str(), v.password.c_str());
  }
}

// 600 bytes run the generator past its 521 words, through a refill.
TEST(PasswordCodec, LongPasswordCrossesGeneratorRefill) {
  const std::string password(600, 'x');
  std::string text;
  ASSERT_TRUE(EncodePasswordWithSeed(password, kPasswordKey, 1765000000, text));
  EXPECT_EQ(text.size(), 807u);
  EXPECT_EQ(text.substr(0, 24), "y82@nMQfZE1xYZk3uZ7mIJv6");
  EXPECT_EQ(text.substr(text.size() - 24), "5Pm6OTveALwYcNweUe4y7bl@");
  std::string plain;
  ASSERT_TRUE(DecodePassword(text, kPasswordKey, plain));
  EXPECT_EQ(plain, password + '\0');
}

TEST(PasswordCodec, TextLengthIsFourThirdsOfPackedBytes) {
  for (size_t n = 1; n <= 12; ++n) {
    std::string text;
    ASSERT_TRUE(EncodePasswordWithSeed(std::string(n, 'k'), kPasswordKey, 77, text));
    EXPECT_EQ(text.size(), (4 * (n + 5) + 2) / 3) << "n=" << n;
  }
  std::string text;
  EncodePasswordWithSeed("1", kPasswordKey, 5, text);
  EXPECT_EQ(text.size(), 8u);
  EncodePasswordWithSeed("12345678", kPasswordKey, 5, text);
  EXPECT_EQ(text.size(), 18u);
}

TEST(PasswordCodec, EmptyPasswordIsNeverEncoded) {
  std::string text = "stale";
  EXPECT_FALSE(EncodePassword("", kPasswordKey, text));
  EXPECT_TRUE(text.empty());
}

TEST(PasswordCodec, DifferentSecondsGiveDifferentTextsThatBothDecode) {
  std::string first, second, plain;
  ASSERT_TRUE(EncodePasswordWithSeed("secret", kPasswordKey, 1700000000, first));
  ASSERT_TRUE(EncodePasswordWithSeed("secret", kPasswordKey, 1700000001, second));
  EXPECT_NE(first, second);
  ASSERT_TRUE(DecodePassword(first, kPasswordKey, plain));
  EXPECT_STREQ(plain.c_str(), "secret");
  ASSERT_TRUE(DecodePassword(second, kPasswordKey, plain));
  EXPECT_STREQ(plain.c_str(), "secret");
}

TEST(PasswordCodec, TimeSeededEncodingRoundTrips) {
  std::string text, plain;
  ASSERT_TRUE(EncodePassword("pa ss", kPasswordKey, text));
  ASSERT_TRUE(DecodePassword(text, kPasswordKey, plain));
  EXPECT_STREQ(plain.c_str(), "pa ss");
}

TEST(PasswordCodec, ShortTextsFailAndSevenCharactersIsTheShortestThatDecodes) {
  struct Case {
    std::string text;
    bool ok;
    size_t bytes;
  };
  const Case cases[] = {
      {"", false, 0},          {"A", false, 0},         {"ABCDEF", false, 0},
      {"ABCDEFG", true, 1},    {"ABCDEFGH", true, 2},   {"ABCDEFGHI", true, 2},  // 4k+1 drops one
  };
  for (const Case& c : cases) {
    std::string plain = "stale";
    EXPECT_EQ(DecodePassword(c.text, kPasswordKey, plain), c.ok) << c.text;
    EXPECT_EQ(plain.size(), c.bytes) << c.text;
  }
}

// The shortest text made by the encoder would hold just the NUL of an empty
// password; it decodes to an empty password.
TEST(PasswordCodec, SevenCharacterTextOfAnEmptyPasswordDecodesToNothing) {
  const uint32_t seed = 424242;
  std::string bytes;
  const uint32_t header = seed ^ kPasswordKey;
  for (int k = 0; k < 4; ++k) bytes += static_cast<char>(header >> (8 * k));
  bytes += static_cast<char>(M521Random(seed).Next() & 0xFF);  // encrypted NUL
  const std::string text = PackSixBit(bytes);
  ASSERT_EQ(text.size(), 7u);
  std::string plain;
  ASSERT_TRUE(DecodePassword(text, kPasswordKey, plain));
  EXPECT_EQ(plain, "\0"s);
}

TEST(PasswordCodec, CharacterOutsideAlphabetEndsTheData) {
  // "password" at seed 1000000000: 13 bytes in 18 characters. Damage at
  // character k keeps the bytes that the characters before k complete.
  const std::string good = "yXmp5bWpTo6J@qwibC";
  struct Case {
    size_t pos;
    char bad;
    const char* password;  // what the caller takes, up to the first NUL
  };
  const Case cases[] = {
      {12, ' ', "passw"},    // first of a group: the group gives nothing
      {13, '-', "passw"},    // second of a group: nothing either
      {14, '+', "passwo"},   // third: one byte of the group survives
      {15, '=', "passwor"},  // fourth: two bytes survive
      {17, '\x82', "password"},  // the last character only carried the NUL's high bits
  };
  for (const Case& c : cases) {
    std::string text = good;
    text[c.pos] = c.bad;
    std::string plain;
    ASSERT_TRUE(DecodePassword(text, kPasswordKey, plain)) << c.pos;
    EXPECT_STREQ(plain.c_str(), c.password) << c.pos;
  }
  std::string plain;
  std::string damagedHeader = good;
  damagedHeader[5] = ' ';  // fewer than 5 bytes remain
  EXPECT_FALSE(DecodePassword(damagedHeader, kPasswordKey, plain));
}

TEST(PasswordCodec, AnotherKeyDecodesToOtherBytesWithoutError) {
  std::string plain;
  ASSERT_TRUE(DecodePassword("yXmp5bWpTo6J@qwibC", kPasswordKey + 1, plain));
  EXPECT_EQ(plain.size(), 9u);
  EXPECT_NE(plain, "password\0"s);
}

TEST(PasswordCodec, PackingRoundTripsEveryLengthAndByteValue) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  for (size_t len = 0; len <= 9; ++len) {
    const std::string bytes = all.substr(250 - len, len);
    const std::string text = PackSixBit(bytes);
    EXPECT_EQ(text.size(), (4 * len + 2) / 3);
    EXPECT_EQ(UnpackSixBit(text), bytes) << len;
  }
  EXPECT_EQ(UnpackSixBit(PackSixBit(all)), all);
  // Lowest bits first, with the alphabet's own order.
  EXPECT_EQ(PackSixBit("\x01"), "A@");
  EXPECT_EQ(PackSixBit("\xff\xff\xff"), "____");
  EXPECT_EQ(PackSixBit("\x3f\x00\x00"s), "_@@@");
}

// The first refill loop must leave x[0] alone (a generator that also mixes
// it starts seed 0 with 0x273a199b instead). Outputs 0, 1, 520 and the two
// after the wrap are pinned for a few seeds.
TEST(PasswordCodec, GeneratorStreamIsPinned) {
  struct Case {
    uint32_t seed;
    uint32_t out[5];
  };
  const Case cases[] = {
      {0, {0x7731afd4, 0x475e3d06, 0x3568a34c, 0x7731afd4, 0x4e27e112}},
      {1, {0x3b98d7ea, 0xb2a59cd2, 0x829f368f, 0x3b98d7ea, 0xb23276aa}},
      {19971123, {0xce868d30, 0x5a9528de, 0x7a6ea4ba, 0xce868d30, 0x4a81e0bf}},
  };
  for (const Case& c : cases) {
    M521Random random(c.seed);
    uint32_t outs[523];
    for (uint32_t& o : outs) o = random.Next();
    EXPECT_EQ(outs[0], c.out[0]) << c.seed;
    EXPECT_EQ(outs[1], c.out[1]) << c.seed;
    EXPECT_EQ(outs[520], c.out[2]) << c.seed;
    EXPECT_EQ(outs[521], c.out[3]) << c.seed;
    EXPECT_EQ(outs[522], c.out[4]) << c.seed;
  }
}

}  // namespace
