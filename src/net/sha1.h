// SHA-1 message digest (FIPS 180-1), used to make key exchange exponents.
#pragma once

#include <cstddef>
#include <cstdint>

struct net_sha1 {
  uint32_t h[5];
  uint64_t total;  // bytes hashed so far
  uint8_t block[64];
  int used;        // bytes waiting in block
};

void net_sha1_init(net_sha1* ctx);
void net_sha1_update(net_sha1* ctx, const void* data, size_t len);
// Finishes the digest; the five words are also left in ctx->h.
void net_sha1_final(net_sha1* ctx, uint8_t* digest /* 20 bytes */);
