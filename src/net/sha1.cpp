#include "net/sha1.h"

#include <cstring>

namespace {

inline uint32_t Rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void Compress(uint32_t* h, const uint8_t* block) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i)
    w[i] = uint32_t(block[4 * i]) << 24 | uint32_t(block[4 * i + 1]) << 16 |
           uint32_t(block[4 * i + 2]) << 8 | uint32_t(block[4 * i + 3]);
  for (int i = 16; i < 80; ++i) w[i] = Rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    uint32_t t = Rol(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = Rol(b, 30);
    b = a;
    a = t;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
}

}  // namespace

void net_sha1_init(net_sha1* ctx) {
  ctx->h[0] = 0x67452301;
  ctx->h[1] = 0xEFCDAB89;
  ctx->h[2] = 0x98BADCFE;
  ctx->h[3] = 0x10325476;
  ctx->h[4] = 0xC3D2E1F0;
  ctx->total = 0;
  ctx->used = 0;
}

void net_sha1_update(net_sha1* ctx, const void* data, size_t len) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  ctx->total += len;
  while (len > 0) {
    size_t take = 64 - size_t(ctx->used);
    if (take > len) take = len;
    std::memcpy(ctx->block + ctx->used, p, take);
    ctx->used += int(take);
    p += take;
    len -= take;
    if (ctx->used == 64) {
      Compress(ctx->h, ctx->block);
      ctx->used = 0;
    }
  }
}

void net_sha1_final(net_sha1* ctx, uint8_t* digest) {
  uint64_t bits = ctx->total * 8;
  uint8_t pad[72] = {0x80};
  size_t pad_len = (ctx->used < 56) ? size_t(56 - ctx->used) : size_t(120 - ctx->used);
  for (int i = 0; i < 8; ++i) pad[pad_len + i] = uint8_t(bits >> (56 - 8 * i));
  net_sha1_update(ctx, pad, pad_len + 8);
  for (int i = 0; i < 5; ++i) {
    digest[4 * i] = uint8_t(ctx->h[i] >> 24);
    digest[4 * i + 1] = uint8_t(ctx->h[i] >> 16);
    digest[4 * i + 2] = uint8_t(ctx->h[i] >> 8);
    digest[4 * i + 3] = uint8_t(ctx->h[i]);
  }
}
