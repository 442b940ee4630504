#include "trust/key_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kHex = "00112233445566778899aabbccddeeff0f1e2d3c4b5a69788796a5b4c3d2e1f0";

ed25519::PublicKey Key() {
  ed25519::PublicKey key;
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(std::stoul(kHex.substr(2 * i, 2), nullptr, 16));
  return key;
}

TEST(KeyText, FormatsOneLowerCaseLineAndReadsItBack) {
  EXPECT_EQ(FormatPublicKey(Key()), "wren-ed25519-public " + kHex + "\n");
  EXPECT_EQ(FormatPrivateKey(Key()), "wren-ed25519-private " + kHex + "\n");
  EXPECT_EQ(ParsePublicKey(FormatPublicKey(Key())), Key());
  EXPECT_EQ(ParsePrivateKey(FormatPrivateKey(Key())), Key());
}

TEST(KeyText, TakesWhatEditorsMakeOfTheLine) {
  std::string upper = kHex;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string accepted[] = {
      "wren-ed25519-public " + kHex,
      "wren-ed25519-public " + upper + "\n",
      "wren-ed25519-public " + kHex + "\r\n",
      "\xEF\xBB\xBFwren-ed25519-public " + kHex + "\n",
      "wren-ed25519-public " + kHex + " \t\r\n\n",
  };
  for (const std::string& text : accepted) EXPECT_EQ(ParsePublicKey(text), Key()) << text;
}

TEST(KeyText, RefusesAnythingElse) {
  const std::string line = "wren-ed25519-public " + kHex;
  const std::pair<const char*, std::string> refused[] = {
      {"empty", ""},
      {"private key where a public one is wanted", "wren-ed25519-private " + kHex + "\n"},
      {"no prefix", kHex},
      {"prefix in other case", "WREN-ed25519-public " + kHex},
      {"two spaces", "wren-ed25519-public  " + kHex},
      {"leading space", " " + line},
      {"one digit short", line.substr(0, line.size() - 1)},
      {"one digit more", line + "0"},
      {"one byte more", line + "00"},
      {"not a digit", line.substr(0, line.size() - 1) + "g"},
      {"second line", line + "\n" + line + "\n"},
      {"byte order mark twice", "\xEF\xBB\xBF\xEF\xBB\xBF" + line},
      {"zero byte inside", std::string("wren-ed25519-public \0", 21) + kHex.substr(1)},
  };
  for (const auto& [what, text] : refused) EXPECT_EQ(ParsePublicKey(text), std::nullopt) << what;
  EXPECT_EQ(ParsePrivateKey(line), std::nullopt) << "public key where a private one is wanted";
}

}  // namespace
