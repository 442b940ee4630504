// The middleware's own Blowfish, Rijndael and SHA-1 against libgcrypt's as
// the middleware now uses them, side by side over 10 000 random keys and
// records each: the bytes on the wire must not change. The seed is random
// per run and printed; WREN_SIDE_BY_SIDE_SEED=N runs one again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../../../support/hex_util.h"
#include "../recorded_vectors.h"
#include "legacy_crypto.h"
#include "net/crypt.h"
#include "net/dh.h"

namespace {

constexpr int kRounds = 10000;

uint64_t Seed() {
  if (const char* text = std::getenv("WREN_SIDE_BY_SIDE_SEED")) return std::strtoull(text, nullptr, 10);
  return (uint64_t(std::random_device{}()) << 32) | std::random_device{}();
}

class SideBySide : public ::testing::Test {
 protected:
  void SetUp() override {
    seed_ = Seed();
    rng_.seed(seed_);
    RecordProperty("seed", std::to_string(seed_));
    std::printf("seed %llu (WREN_SIDE_BY_SIDE_SEED to repeat)\n", static_cast<unsigned long long>(seed_));
  }

  int Between(int lo, int hi) { return lo + int(rng_() % uint64_t(hi - lo + 1)); }

  std::vector<uint8_t> Bytes(int n) {
    std::vector<uint8_t> v(static_cast<size_t>(n));
    for (auto& b : v) b = uint8_t(rng_());
    return v;
  }

  // A record length: mostly short, now and then up to the longest chunk.
  int PlainLength(net_chunk_cipher kind) {
    int r = Between(0, 99);
    if (r < 3) return net_chunk_limits_of(kind).max_plain - Between(0, 2);
    if (r < 10) return Between(0, net_chunk_limits_of(kind).max_plain);
    return Between(0, 300);
  }

  void Chunks(net_chunk_cipher kind, int min_key, int max_key) {
    for (int round = 0; round < kRounds; ++round) {
      std::vector<uint8_t> key = Bytes(Between(min_key, max_key));
      std::vector<uint8_t> plain = Bytes(PlainLength(kind));
      SCOPED_TRACE("seed " + std::to_string(seed_) + " round " + std::to_string(round) + " key " + ToHex(key) +
                   " plain length " + std::to_string(plain.size()));
      legacy_net::OldCipher old;
      ASSERT_TRUE(old.Setup(kind, key.data(), int32_t(key.size())));
      net_cipher_state state;
      ASSERT_EQ(0, net_cipher_setup(kind, &state, key.data(), int32_t(key.size())));
      std::vector<uint8_t> want = old.Seal(plain.data(), int32_t(plain.size()));
      std::vector<uint8_t> got(want.size() + 16, 0xEE);
      ASSERT_EQ(int32_t(want.size()), net_chunk_seal(&state, plain.data(), int32_t(plain.size()), got.data()));
      got.resize(want.size());
      ASSERT_EQ(ToHex(want), ToHex(got)) << "sealed chunk";
      // Back: the new decoder reads the old sender's chunk.
      int32_t padded = int32_t(want.size()) - NET_CHUNK_HEADER;
      std::vector<uint8_t> body(want.begin() + NET_CHUNK_HEADER, want.end());
      ASSERT_EQ(0, net_chunk_decrypt(&state, body.data(), padded));
      std::vector<uint8_t> padded_plain = plain;
      padded_plain.resize(size_t(padded), 0);
      ASSERT_EQ(ToHex(padded_plain), ToHex(body)) << "decrypted chunk";
      // Whatever a peer sends is decrypted: random cipher bytes, both ways.
      std::vector<uint8_t> noise = Bytes(net_chunk_padded(kind, Between(0, 200)));
      std::vector<uint8_t> old_noise = noise;
      old.Decrypt(old_noise.data(), int32_t(old_noise.size()));
      ASSERT_EQ(0, net_chunk_decrypt(&state, noise.data(), int32_t(noise.size())));
      ASSERT_EQ(ToHex(old_noise), ToHex(noise)) << "decrypted random bytes";
      net_cipher_release(&state);
    }
  }

  uint64_t seed_ = 0;
  std::mt19937_64 rng_;
};

TEST_F(SideBySide, BlowfishChunks) { Chunks(NET_CHUNK_BLOWFISH, 1, NET_BLOWFISH_KEY_MAX); }

TEST_F(SideBySide, RijndaelChunks) { Chunks(NET_CHUNK_RIJNDAEL, 16, 64); }

TEST_F(SideBySide, KeysEachRefuses) {
  std::vector<uint8_t> key = Bytes(100);
  for (net_chunk_cipher kind : {NET_CHUNK_BLOWFISH, NET_CHUNK_RIJNDAEL}) {
    for (int len = -1; len <= 100; ++len) {
      legacy_net::OldCipher old;
      net_cipher_state state;
      EXPECT_EQ(old.Setup(kind, key.data(), len), net_cipher_setup(kind, &state, key.data(), len) == 0)
          << kind << " " << len;
      net_cipher_release(&state);
    }
    legacy_net::OldCipher old;
    net_cipher_state state;
    EXPECT_FALSE(old.Setup(kind, nullptr, 16));
    EXPECT_EQ(-1, net_cipher_setup(kind, &state, nullptr, 16));
  }
}

TEST_F(SideBySide, Sha1) {
  for (int round = 0; round < kRounds; ++round) {
    int len = Between(0, 99) < 5 ? Between(0, 20000) : Between(0, 300);
    std::vector<uint8_t> message = Bytes(len);
    uint8_t want[20], got[20];
    legacy_net::OldSha1(message.data(), message.size(), want);
    ASSERT_TRUE(net_sha1_digest(message.data(), message.size(), got));
    ASSERT_EQ(ToHex(want, 20), ToHex(got, 20)) << "seed " << seed_ << " round " << round << " length " << len;
  }
}

TEST_F(SideBySide, ExponentTexts) {
  for (int round = 0; round < kRounds; ++round) {
    net_keygen_inputs in{};
    in.time_sec = uint32_t(rng_());
    in.process_id = uint32_t(rng_());
    in.tick_ms = uint32_t(rng_());
    in.pseudo_random = uint32_t(rng_());
    for (auto& b : in.os_random) b = uint8_t(rng_());
    char got[64];
    net_sha1_keygen_from(in, got, sizeof got);
    ASSERT_EQ(legacy_net::OldKeygen(in), got) << "seed " << seed_ << " round " << round;
  }
}

// The recorded table is what the old code makes (so it may outlive it).
TEST(RecordedVectors, AreTheOldCodesOutput) {
  for (const auto& v : kRecordedChunks) {
    std::vector<uint8_t> key = FromHex(v.key), plain = FromHex(v.plain);
    legacy_net::OldCipher old;
    ASSERT_TRUE(old.Setup(v.kind, key.data(), int32_t(key.size())));
    EXPECT_EQ(v.chunk, ToHex(old.Seal(plain.data(), int32_t(plain.size())))) << v.key;
  }
  for (const auto& v : kRecordedDigests) {
    std::vector<uint8_t> message = FromHex(v.message);
    uint8_t digest[20];
    legacy_net::OldSha1(message.data(), message.size(), digest);
    EXPECT_EQ(v.sha1, ToHex(digest, 20)) << v.message;
  }
}

}  // namespace
