// The bytes on the wire, as the middleware's own Blowfish, Rijndael and
// SHA-1 made them before libgcrypt took over (recorded_vectors.h): chunks
// sealed and opened again, and digests.
#include <gcrypt.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../support/hex_util.h"
#include "net/crypt.h"
#include "net/dh.h"
#include "recorded_vectors.h"
#include "trust/gcrypt_init.h"

namespace {

// Seals the plain bytes with a fresh schedule from the raw key, checks the
// chunk, opens it again; returns the chunk.
std::vector<uint8_t> SealAndOpen(net_chunk_cipher kind, const std::vector<uint8_t>& key,
                                 const std::vector<uint8_t>& plain) {
  net_cipher_state state;
  EXPECT_EQ(0, net_cipher_setup(kind, &state, key.data(), int32_t(key.size())));
  std::vector<uint8_t> chunk(size_t(NET_CHUNK_HEADER + net_chunk_padded(kind, int32_t(plain.size()))));
  EXPECT_EQ(int32_t(chunk.size()), net_chunk_seal(&state, plain.data(), int32_t(plain.size()), chunk.data()));
  int32_t padded = 0, plain_len = 0;
  EXPECT_EQ(1, net_chunk_check(kind, chunk.data(), int32_t(chunk.size()), &padded, &plain_len));
  EXPECT_EQ(int32_t(plain.size()), plain_len);
  std::vector<uint8_t> body(chunk.begin() + NET_CHUNK_HEADER, chunk.end());
  EXPECT_EQ(0, net_chunk_decrypt(&state, body.data(), padded));
  std::vector<uint8_t> want = plain;
  want.resize(size_t(padded), 0);
  EXPECT_EQ(want, body) << "opened again";
  net_cipher_release(&state);
  return chunk;
}

TEST(RecordedVectors, Chunks) {
  int blowfish = 0, rijndael = 0;
  for (const auto& v : kRecordedChunks) {
    SCOPED_TRACE(std::string(v.kind == NET_CHUNK_BLOWFISH ? "blowfish " : "rijndael ") + v.key);
    (v.kind == NET_CHUNK_BLOWFISH ? blowfish : rijndael)++;
    EXPECT_EQ(v.chunk, ToHex(SealAndOpen(v.kind, FromHex(v.key), FromHex(v.plain))));
  }
  EXPECT_GE(blowfish, 20);
  EXPECT_GE(rijndael, 20);
}

TEST(RecordedVectors, LongChunks) {
  ASSERT_TRUE(InitGcrypt());
  for (const auto& v : kRecordedLongChunks) {
    SCOPED_TRACE(std::string(v.kind == NET_CHUNK_BLOWFISH ? "blowfish " : "rijndael ") + v.key);
    ASSERT_LE(v.plain_len, net_chunk_limits_of(v.kind).max_plain);
    std::vector<uint8_t> chunk = SealAndOpen(v.kind, FromHex(v.key), RecordedLongPlain(v.plain_len, v.seed));
    uint8_t digest[32];
    gcry_md_hash_buffer(GCRY_MD_SHA256, digest, chunk.data(), chunk.size());
    EXPECT_EQ(v.chunk_sha256, ToHex(digest, 32));
  }
}

TEST(RecordedVectors, Sha1) {
  for (const auto& v : kRecordedDigests) {
    std::vector<uint8_t> message = FromHex(v.message);
    uint8_t digest[NET_SHA1_SIZE];
    ASSERT_TRUE(net_sha1_digest(message.data(), message.size(), digest));
    EXPECT_EQ(v.sha1, ToHex(digest, NET_SHA1_SIZE)) << message.size() << " bytes";
  }
}

}  // namespace
