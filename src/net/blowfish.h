// Blowfish block cipher (16 rounds, 64-bit blocks) in ECB mode.
// On the wire a block is two 32-bit halves stored little-endian: bytes 0-3
// are the left half, bytes 4-7 the right half.
#pragma once

#include <cstdint>

constexpr int NET_BLOWFISH_BLOCK = 8;
constexpr int NET_BLOWFISH_KEY_MAX = 72;  // longest key the schedule can use

struct net_blowfish {
  uint32_t p[18];
  uint32_t s[4][256];
};

// Builds the key schedule from 1 to 72 key bytes. Returns 0, or -1 for a
// key length outside that range.
int net_blowfish_init(net_blowfish* bf, const uint8_t* key, int key_len);

// Encrypt or decrypt one 8-byte block in place.
void net_blowfish_encrypt(const net_blowfish* bf, uint8_t* block);
void net_blowfish_decrypt(const net_blowfish* bf, uint8_t* block);
