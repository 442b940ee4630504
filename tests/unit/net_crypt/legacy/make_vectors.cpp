// Prints tests/unit/net_crypt/recorded_vectors.h: chunks and digests made
// by the middleware's own ciphers and SHA-1, for the vector test that stays
// once they are gone. Deterministic: the same table on every run.
//   make_net_crypt_vectors > tests/unit/net_crypt/recorded_vectors.h
#include <gcrypt.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "../../../support/hex_util.h"
#include "../recorded_vectors_pattern.h"
#include "legacy_crypto.h"
#include "trust/gcrypt_init.h"

namespace {

std::mt19937 g_rng(23);  // the engine's output is fixed by the standard

std::vector<uint8_t> RandomBytes(size_t n) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = uint8_t(g_rng() >> 24);
  return v;
}

const char* KindName(net_chunk_cipher kind) {
  return kind == NET_CHUNK_BLOWFISH ? "NET_CHUNK_BLOWFISH" : "NET_CHUNK_RIJNDAEL";
}

void Chunk(net_chunk_cipher kind, const std::vector<uint8_t>& key, const std::vector<uint8_t>& plain) {
  legacy_net::OldCipher old;
  if (!old.Setup(kind, key.data(), int32_t(key.size()))) std::abort();
  std::vector<uint8_t> chunk = old.Seal(plain.data(), int32_t(plain.size()));
  std::printf("    {%s,\n     \"%s\",\n     \"%s\",\n     \"%s\"},\n", KindName(kind), ToHex(key).c_str(),
              ToHex(plain).c_str(), ToHex(chunk).c_str());
}

void LongChunk(net_chunk_cipher kind, const std::vector<uint8_t>& key, int32_t len, uint8_t seed) {
  legacy_net::OldCipher old;
  if (!old.Setup(kind, key.data(), int32_t(key.size()))) std::abort();
  std::vector<uint8_t> plain = RecordedLongPlain(len, seed);
  std::vector<uint8_t> chunk = old.Seal(plain.data(), len);
  uint8_t digest[32];
  gcry_md_hash_buffer(GCRY_MD_SHA256, digest, chunk.data(), chunk.size());
  std::printf("    {%s, \"%s\", %d, %u, \"%s\"},\n", KindName(kind), ToHex(key).c_str(), len, unsigned(seed),
              ToHex(digest, 32).c_str());
}

void Digest(const std::vector<uint8_t>& message) {
  uint8_t digest[20];
  legacy_net::OldSha1(message.data(), message.size(), digest);
  std::printf("    {\"%s\", \"%s\"},\n", ToHex(message).c_str(), ToHex(digest, 20).c_str());
}

}  // namespace

int main() {
  if (!InitGcrypt()) return 1;
  std::printf(
      "// Recorded from the middleware's own Blowfish, Rijndael and SHA-1 (the\n"
      "// hand-written src/net/blowfish.cpp, rijndael.cpp and sha1.cpp that\n"
      "// libgcrypt replaced) by tests/unit/net_crypt/legacy/make_vectors.cpp, in\n"
      "// the commit that ran the two side by side. These are the bytes on the\n"
      "// wire; they must not change. Do not edit by hand.\n"
      "#pragma once\n\n"
      "#include <cstdint>\n\n"
      "#include \"net/crypt.h\"\n"
      "#include \"recorded_vectors_pattern.h\"\n\n"
      "// A whole chunk (header and cipher bytes) for the raw connection key and\n"
      "// plain bytes, all in hexadecimal.\n"
      "struct RecordedChunk {\n"
      "  net_chunk_cipher kind;\n"
      "  const char* key;\n"
      "  const char* plain;\n"
      "  const char* chunk;\n"
      "};\n\n"
      "inline const RecordedChunk kRecordedChunks[] = {\n");
  // Blowfish: every key length the schedule takes at its ends and the
  // lengths contexts use, plain lengths around the 8-byte blocks.
  const int bf_keys[] = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 24, 31, 32, 33, 40, 48, 55, 56, 57, 63, 64, 71, 72};
  const int bf_plain[] = {0, 1, 7, 8, 9, 15, 16, 17, 23, 24, 31, 32, 33, 63, 64, 65, 2, 40, 47, 48, 56, 100, 127, 129};
  for (size_t i = 0; i < std::size(bf_keys); ++i)
    Chunk(NET_CHUNK_BLOWFISH, RandomBytes(size_t(bf_keys[i])), RandomBytes(size_t(bf_plain[i])));
  // A key libgcrypt calls weak (an S-box entry repeats), which the peers use.
  Chunk(NET_CHUNK_BLOWFISH, FromHex("63160100000000000000000000000000"), std::vector<uint8_t>(16, 0));
  // Rijndael: raw keys of 16 to 64 bytes (the first 16 count, every
  // half-byte value among them), plain lengths around the 16-byte blocks
  // and past the 8 blocks libgcrypt may take at once.
  const int aes_keys[] = {16, 16, 16, 16, 16, 17, 24, 24, 31, 32, 32, 40, 48, 56, 63, 64, 16, 16, 16, 16};
  const int aes_plain[] = {0, 1, 15, 16, 17, 31, 32, 33, 47, 48, 49, 63, 64, 65, 100, 127, 128, 129, 143, 144};
  for (size_t i = 0; i < std::size(aes_keys); ++i)
    Chunk(NET_CHUNK_RIJNDAEL, RandomBytes(size_t(aes_keys[i])), RandomBytes(size_t(aes_plain[i])));
  Chunk(NET_CHUNK_RIJNDAEL, FromHex("00112233445566778899aabbccddeeff"), FromHex("00112233445566778899aabbccddeeff"));
  Chunk(NET_CHUNK_RIJNDAEL, FromHex("ffffffffffffffffffffffffffffffff"), std::vector<uint8_t>(16, 0xff));
  std::printf(
      "};\n\n"
      "// Chunks too long to write out: the plain bytes are\n"
      "// RecordedLongPlain(plain_len, seed), the chunk is given by its SHA-256.\n"
      "struct RecordedLongChunk {\n"
      "  net_chunk_cipher kind;\n"
      "  const char* key;\n"
      "  int32_t plain_len;\n"
      "  uint8_t seed;\n"
      "  const char* chunk_sha256;\n"
      "};\n\n"
      "inline const RecordedLongChunk kRecordedLongChunks[] = {\n");
  LongChunk(NET_CHUNK_BLOWFISH, RandomBytes(16), 1000, 1);
  LongChunk(NET_CHUNK_BLOWFISH, RandomBytes(56), 4095, 2);
  LongChunk(NET_CHUNK_BLOWFISH, RandomBytes(4), 32752, 3);
  LongChunk(NET_CHUNK_BLOWFISH, RandomBytes(72), 32751, 4);
  LongChunk(NET_CHUNK_RIJNDAEL, RandomBytes(16), 1000, 5);
  LongChunk(NET_CHUNK_RIJNDAEL, RandomBytes(32), 4095, 6);
  LongChunk(NET_CHUNK_RIJNDAEL, RandomBytes(16), 8168, 7);
  LongChunk(NET_CHUNK_RIJNDAEL, RandomBytes(24), 8167, 8);
  std::printf(
      "};\n\n"
      "// SHA-1 digests of messages, both in hexadecimal.\n"
      "struct RecordedDigest {\n"
      "  const char* message;\n"
      "  const char* sha1;\n"
      "};\n\n"
      "inline const RecordedDigest kRecordedDigests[] = {\n");
  // Around the 64-byte blocks and the 55/56 bytes where the length moves
  // to a block of its own; 32 bytes is what an exponent hashes.
  for (int len : {0, 1, 3, 20, 32, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 200})
    Digest(RandomBytes(size_t(len)));
  std::printf("};\n");
  return 0;
}
