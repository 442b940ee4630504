// Rijndael with a 128-bit key and 128-bit blocks (AES-128) in ECB mode,
// bytes in standard order.
#pragma once

#include <cstdint>

constexpr int NET_RIJNDAEL_BLOCK = 16;
constexpr int NET_RIJNDAEL_KEY = 16;

struct net_rijndael {
  uint32_t enc[44];  // encryption round keys, big-endian column words
  uint32_t dec[44];  // decryption round keys, in the order they are used
};

// Expands a 16-byte AES key. Returns 0, or -1 for any other key length.
int net_rijndael_init(net_rijndael* aes, const uint8_t* key, int key_len);

// Encrypt or decrypt one 16-byte block in place.
void net_rijndael_encrypt(const net_rijndael* aes, uint8_t* block);
void net_rijndael_decrypt(const net_rijndael* aes, uint8_t* block);

// The AES key a connection derives from its 16 raw key bytes: each half-byte
// n becomes n for 0-9 and n - 9 for 10-15 (0xAF gives 0x16, 0x39 stays 0x39).
// Peers derive it the same way, so it must not change.
void net_rijndael_key_from_raw(const uint8_t* raw, uint8_t* aes_key);
