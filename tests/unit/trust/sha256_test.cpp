#include "trust/sha256.h"

#include <gtest/gtest.h>

#include <string>

#include "../../support/hex_util.h"

namespace {

std::string Hex(const CSha256::Digest& d) { return ToHex(d.data(), d.size()); }

struct ShaCase {
  const char* what;
  std::string message;
  const char* digest;
};

// The FIPS 180 examples.
const ShaCase kShaCases[] = {
    {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"896 bits",
     "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {"a million a", std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

TEST(Sha256, KnownDigestsAtOnceAndInOddPieces) {
  for (const ShaCase& c : kShaCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Hex(CSha256::Of(c.message.data(), c.message.size())), c.digest);

    // Pieces of 1, 2, 3, ... bytes cross every block boundary of the hash.
    CSha256 sha;
    size_t piece = 1;
    for (size_t at = 0; at < c.message.size(); at += piece, ++piece)
      sha.Update(c.message.data() + at, std::min(piece, c.message.size() - at));
    EXPECT_EQ(Hex(sha.GetValue()), c.digest);
  }
}

TEST(Sha256, GetValueLeavesTheRunningStateAndResetStartsOver) {
  CSha256 sha;
  sha.Update("a", 1);
  EXPECT_EQ(sha.GetValue(), CSha256::Of("a", 1));
  EXPECT_EQ(sha.GetValue(), CSha256::Of("a", 1));
  sha.Update("bc", 2);
  EXPECT_EQ(Hex(sha.GetValue()), kShaCases[1].digest);

  sha.Reset();
  EXPECT_EQ(Hex(sha.GetValue()), kShaCases[0].digest);
  sha.Update("abc", 3);
  EXPECT_EQ(Hex(sha.GetValue()), kShaCases[1].digest);
}

}  // namespace
