// The encrypted chunk stream: layout, checks of received chunks, and the
// decoders and encoders of a connection.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "conn_fixture.h"
#include "../../support/hex_util.h"
#include "net/cipher_hook.h"
#include "net/core.h"
#include "net/crypt.h"

namespace {

std::vector<uint8_t> Header(int32_t padded, int32_t plain) {
  std::vector<uint8_t> h(8);
  for (int i = 0; i < 4; ++i) {
    h[i] = uint8_t(uint32_t(padded) >> (24 - 8 * i));
    h[4 + i] = uint8_t(uint32_t(plain) >> (24 - 8 * i));
  }
  return h;
}

TEST(Chunk, PaddedLengthAlwaysAddsAtLeastOneByte) {
  struct {
    net_chunk_cipher kind;
    int32_t plain, padded;
  } cases[] = {
      {NET_CHUNK_BLOWFISH, 0, 8},     {NET_CHUNK_BLOWFISH, 7, 8},
      {NET_CHUNK_BLOWFISH, 8, 16},    {NET_CHUNK_BLOWFISH, 32752, 32760},
      {NET_CHUNK_RIJNDAEL, 15, 16},   {NET_CHUNK_RIJNDAEL, 16, 32},
      {NET_CHUNK_RIJNDAEL, 8168, 8176},
  };
  for (const auto& c : cases) EXPECT_EQ(c.padded, net_chunk_padded(c.kind, c.plain)) << c.plain;
}

TEST(Chunk, CheckOfReceivedBytes) {
  struct Case {
    const char* what;
    net_chunk_cipher kind;
    int32_t padded, plain;
    int body;  // cipher bytes present after the header
    int expect;
  } cases[] = {
      {"header incomplete", NET_CHUNK_BLOWFISH, 8, 1, -1, 0},
      {"body incomplete", NET_CHUNK_BLOWFISH, 16, 9, 15, 0},
      {"whole chunk", NET_CHUNK_BLOWFISH, 16, 9, 16, 1},
      {"empty plain", NET_CHUNK_BLOWFISH, 8, 0, 8, 1},
      {"negative P", NET_CHUNK_BLOWFISH, -8, 0, 0, NET_ERR_CHUNK_NEGATIVE},
      {"P too large, judged before the body", NET_CHUNK_BLOWFISH, 32768, 1, 0, NET_ERR_NOROOM},
      {"largest P", NET_CHUNK_BLOWFISH, 32760, 5, 32760, 1},
      {"P not whole blocks", NET_CHUNK_BLOWFISH, 12, 4, 12, NET_ERR_CHUNK_BLOCK},
      {"N above P", NET_CHUNK_BLOWFISH, 8, 9, 8, NET_ERR_BAD_LENGTH},
      {"negative N", NET_CHUNK_BLOWFISH, 8, -1, 8, NET_ERR_BAD_LENGTH},
      {"Rijndael largest P", NET_CHUNK_RIJNDAEL, 8184 / 16 * 16, 3, 8176, 1},
      {"Rijndael P too large", NET_CHUNK_RIJNDAEL, 8192, 3, 0, NET_ERR_NOROOM},
      {"Rijndael P of 8 bytes", NET_CHUNK_RIJNDAEL, 8, 3, 8, NET_ERR_CHUNK_BLOCK},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> in = Header(c.padded, c.plain);
    if (c.body < 0)
      in.resize(7);
    else
      in.resize(8 + c.body);
    int32_t p = -1, n = -1;
    EXPECT_EQ(c.expect, net_chunk_check(c.kind, in.data(), int32_t(in.size()), &p, &n)) << c.what;
    if (c.expect == 1) {
      EXPECT_EQ(c.padded, p) << c.what;
      EXPECT_EQ(c.plain, n) << c.what;
    }
  }
}

TEST(Chunk, SealIsBigEndianHeaderAndBlockwiseEcb) {
  const uint8_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  net_cipher_state state;
  ASSERT_EQ(0, net_cipher_setup(NET_CHUNK_BLOWFISH, &state, key, 8));
  // Two equal plain blocks give two equal cipher blocks: no chaining.
  const uint8_t plain[16] = {'w', 'r', 'e', 'n', 's', 't', 'a', 'r',
                             'w', 'r', 'e', 'n', 's', 't', 'a', 'r'};
  uint8_t out[8 + 24];
  ASSERT_EQ(32, net_chunk_seal(&state, plain, 16, out));
  EXPECT_EQ("0000001800000010", ToHex(out, 8));
  EXPECT_EQ(ToHex(out + 8, 8), ToHex(out + 16, 8));
  uint8_t pad[8] = {};
  ASSERT_EQ(0, net_chunk_encrypt(&state, pad, 8));
  EXPECT_EQ(ToHex(pad, 8), ToHex(out + 24, 8)) << "padding must be zero bytes";
  net_cipher_release(&state);
}

TEST(Chunk, RefusesWithoutASchedule) {
  net_cipher_state empty;
  uint8_t data[16] = {1, 2, 3};
  EXPECT_EQ(-1, net_chunk_encrypt(&empty, data, 16));
  EXPECT_EQ(-1, net_chunk_decrypt(&empty, data, 16));
  uint8_t out[8 + 8];
  EXPECT_EQ(-1, net_chunk_seal(&empty, data, 3, out));
  EXPECT_EQ("00000000000000000000000000000000", ToHex(out, 16)) << "no plain bytes left behind";
  const uint8_t key[16] = {};
  net_cipher_state aes;
  ASSERT_EQ(0, net_cipher_setup(NET_CHUNK_RIJNDAEL, &aes, key, 16));
  EXPECT_EQ(-1, net_chunk_encrypt(&aes, data, 8)) << "not whole AES blocks";
  EXPECT_EQ(0, net_chunk_encrypt(&aes, data, 0));
  net_cipher_release(&aes);
  EXPECT_EQ(nullptr, aes.handle);
  net_cipher_release(&aes);  // twice is harmless
}

// ---- coders of a connection ----

struct CoderCase {
  const char* name;
  uint32_t flag;
  int key_length;
  net_coder_fn encode, decode;
};

const CoderCase kCoders[] = {
    {"blowfish4", NET_CIPHER_BLOWFISH, 4, net_encode_blowfish, net_decode_blowfish},
    {"blowfish56", NET_CIPHER_BLOWFISH, 56, net_encode_blowfish, net_decode_blowfish},
    {"rijndael16", NET_CIPHER_RIJNDAEL, 16, net_encode_rijndael, net_decode_rijndael},
    {"rijndael32", NET_CIPHER_RIJNDAEL, 32, net_encode_rijndael, net_decode_rijndael},
};

void SetKeys(FakeConn& c, int seed) {
  for (int i = 0; i < 64; ++i) c->recv_key[i] = c->send_key[i] = uint8_t(i * 7 + seed);
}

TEST(ChunkCoders, RandomStreamArrivesByteForByte) {
  for (const auto& k : kCoders) {
    SCOPED_TRACE(k.name);
    FakeConn a(32768, 32768, k.key_length), b(32768, 32768, k.key_length);
    SetKeys(a, 1);
    SetKeys(b, 1);
    std::mt19937 rng(42);
    std::vector<uint8_t> sent, got;
    for (int round = 0; round < 300; ++round) {
      int len = std::uniform_int_distribution<int>(1, round % 10 == 0 ? 30000 : 300)(rng);
      if (net_buffer_room(&a->wb) >= len) {
        std::vector<uint8_t> data(len);
        for (auto& x : data) x = uint8_t(rng());
        net_buffer_append(&a->wb, data.data(), len);
        sent.insert(sent.end(), data.begin(), data.end());
      }
      ASSERT_GE(k.encode(a.get()), 0);
      a.SendTo(b, std::uniform_int_distribution<int>(1, 20000)(rng));
      for (int i = 0; i < 3; ++i) ASSERT_GE(k.decode(b.get()), 0);
      auto part = b.Take(&b->rb);
      got.insert(got.end(), part.begin(), part.end());
    }
    // Drain what is still in flight.
    for (int i = 0; i < 1000 && got.size() < sent.size(); ++i) {
      ASSERT_GE(k.encode(a.get()), 0);
      a.SendTo(b);
      ASSERT_GE(k.decode(b.get()), 0);
      auto part = b.Take(&b->rb);
      got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_EQ(sent, got);
    EXPECT_EQ(1, a->send_cipher_ready);
    EXPECT_EQ(1, b->recv_cipher_ready);
    if (k.flag == NET_CIPHER_RIJNDAEL) {
      EXPECT_EQ(16, a->key_length) << "AES-128 uses the first 16 key bytes";
      EXPECT_EQ(16, b->key_length);
    }
  }
}

TEST(ChunkCoders, EncoderCutsOneChunkPerCallAndWaitsForRoom) {
  FakeConn c(32768, 32768, 8);
  SetKeys(c, 3);
  std::vector<uint8_t> big(32768, 'y');
  ASSERT_EQ(32768, net_buffer_append(&c->wb, big.data(), 32768));
  EXPECT_EQ(8 + 32760, net_encode_blowfish(c.get()));
  EXPECT_EQ(32768 - 32752, net_buffer_used(&c->wb));
  EXPECT_EQ(32768, net_buffer_used(&c->ewb));
  // 16 bytes left need a 32-byte chunk; ewb has only 8 bytes of room.
  EXPECT_EQ(0, net_encode_blowfish(c.get()));
  EXPECT_EQ(16, net_buffer_used(&c->wb));
  c.Take(&c->ewb);
  EXPECT_EQ(8 + 24, net_encode_blowfish(c.get()));
  EXPECT_EQ(0, net_encode_blowfish(c.get())) << "nothing to send";
  EXPECT_EQ(0, net_buffer_used(&c->wb));

  struct {
    int plain, chunk;
  } sizes[] = {{7, 16}, {8, 24}};
  for (auto s : sizes) {
    c.Take(&c->ewb);
    net_buffer_append(&c->wb, big.data(), s.plain);
    EXPECT_EQ(s.chunk, net_encode_blowfish(c.get()));
    EXPECT_EQ(s.chunk, net_buffer_used(&c->ewb));
  }
}

TEST(ChunkCoders, RijndaelEncoderWaitsForRoomOfTheSmallestChunk) {
  FakeConn c(1024, 64, 16);
  SetKeys(c, 5);
  std::vector<uint8_t> fill(72 - 23, 0);
  net_buffer_append(&c->ewb, fill.data(), int(fill.size()));  // 23 bytes of room left
  net_buffer_append(&c->wb, "a", 1);
  EXPECT_EQ(0, net_encode_rijndael(c.get()));
  EXPECT_EQ(1, net_buffer_used(&c->wb));
  EXPECT_EQ(0, c->send_cipher_ready) << "no cipher state before the first chunk passes";
  net_buffer_consume(&c->ewb, nullptr, 1);
  EXPECT_EQ(24, net_encode_rijndael(c.get()));
  EXPECT_EQ(0, net_buffer_used(&c->wb));
}

TEST(ChunkCoders, DecoderRefusesBadChunksAndWaitsForRoom) {
  struct {
    const char* what;
    int32_t padded, plain;
    int expect;
  } cases[] = {
      {"P 32768", 32768, 8, NET_ERR_NOROOM},
      {"P 12", 12, 4, NET_ERR_CHUNK_BLOCK},
      {"N above P", 8, 9, NET_ERR_BAD_LENGTH},
      {"negative P", -16, 0, NET_ERR_CHUNK_NEGATIVE},
  };
  for (const auto& k : cases) {
    FakeConn c(32768, 32768, 8);
    std::vector<uint8_t> in = Header(k.padded, k.plain);
    in.resize(8 + (k.padded > 0 && k.padded < 32768 ? k.padded : 0));
    net_buffer_append(&c->erb, in.data(), int(in.size()));
    EXPECT_EQ(k.expect, net_decode_blowfish(c.get())) << k.what;
    EXPECT_EQ(0, net_buffer_used(&c->rb)) << k.what;
  }
}

TEST(ChunkCoders, ChunkLargerThanTheRoomInRbIsDeliveredInParts) {
  // rb already holds the start of a record whose rest is inside a chunk
  // bigger than the room left: waiting for room for the whole chunk would
  // never end, since the parser needs the rest to free rb.
  FakeConn a(32768, 32768, 8), b(100, 32768, 8);
  SetKeys(a, 9);
  SetKeys(b, 9);
  std::vector<uint8_t> data(60);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i + 1);
  net_buffer_append(&a->wb, data.data(), 60);
  ASSERT_EQ(8 + 64, net_encode_blowfish(a.get()));
  a.SendTo(b);
  std::vector<uint8_t> start(50, 0xAB);
  net_buffer_append(&b->rb, start.data(), 50);
  EXPECT_EQ(50, net_decode_blowfish(b.get()));
  EXPECT_EQ(0, net_decode_blowfish(b.get())) << "rb is full until the parser takes bytes";
  EXPECT_EQ(10 + 4, net_buffer_used(&b->erb)) << "the rest and the padding wait in erb";
  std::vector<uint8_t> got = b.Take(&b->rb);
  EXPECT_EQ(10, net_decode_blowfish(b.get()));
  EXPECT_EQ(0, net_buffer_used(&b->erb));
  std::vector<uint8_t> rest = b.Take(&b->rb);
  got.erase(got.begin(), got.begin() + 50);
  got.insert(got.end(), rest.begin(), rest.end());
  EXPECT_EQ(data, got);

  // The next chunk is read from a clean header again.
  net_buffer_append(&a->wb, data.data(), 3);
  ASSERT_EQ(16, net_encode_blowfish(a.get()));
  a.SendTo(b);
  EXPECT_EQ(3, net_decode_blowfish(b.get()));
  EXPECT_EQ(0, net_buffer_used(&b->erb));
}

TEST(ChunkCoders, BadKeyLengthFailsTheCipherSetup) {
  // Context creation never lets these through; the coder still refuses
  // rather than reading past the key.
  FakeConn c(1024, 1024, 100);
  net_buffer_append(&c->wb, "abc", 3);
  EXPECT_EQ(NET_ERR_CIPHER, net_encode_blowfish(c.get()));
  FakeConn r(1024, 1024, 8);
  net_buffer_append(&r->wb, "abc", 3);
  EXPECT_EQ(NET_ERR_CIPHER, net_encode_rijndael(r.get()));
}

}  // namespace
