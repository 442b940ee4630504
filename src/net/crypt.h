// Encrypted byte stream of a connection: the stream is cut into chunks of
// an 8-byte header (padded length P and plain length N, both 32-bit
// big-endian) followed by P cipher bytes, the N plain bytes padded with
// zeros to whole blocks and always by at least one byte.
//
// The blocks are encrypted one by one with the same key (ECB, no chaining,
// no IV, no MAC): that is the middleware's wire format, which its peers
// speak, and it cannot change here. The ciphers themselves are libgcrypt's
// Blowfish and AES-128; see crypt.cpp for how the middleware's variant is
// fitted around them.
#pragma once

#include <gcrypt.h>

#include <cstdint>

enum net_chunk_cipher : int32_t {
  NET_CHUNK_BLOWFISH = 0,
  NET_CHUNK_RIJNDAEL = 1,
};

constexpr int NET_BLOWFISH_BLOCK = 8;
constexpr int NET_BLOWFISH_KEY_MAX = 72;  // longest key the Blowfish schedule can use
constexpr int NET_RIJNDAEL_BLOCK = 16;
constexpr int NET_RIJNDAEL_KEY = 16;      // AES-128 only

constexpr int32_t NET_CHUNK_HEADER = 8;

struct net_chunk_limits {
  int32_t block;       // cipher block size
  int32_t max_plain;   // largest N a sender puts in one chunk
  int32_t max_padded;  // largest P a receiver accepts
};
const net_chunk_limits& net_chunk_limits_of(net_chunk_cipher kind);

// Largest P of any cipher, for buffers that hold one chunk.
constexpr int32_t NET_CHUNK_MAX_PADDED = 32760;

// The key schedule of one direction: a libgcrypt cipher handle in ECB mode,
// null until net_cipher_setup succeeds. It holds heap memory, so whoever
// sets one up calls net_cipher_release (which wipes the schedule).
struct net_cipher_state {
  gcry_cipher_hd_t handle = nullptr;
  net_chunk_cipher kind = NET_CHUNK_BLOWFISH;
};

// Builds the key schedule from the connection's raw key bytes: Blowfish
// takes 1 to NET_BLOWFISH_KEY_MAX bytes as they are; Rijndael uses the
// first 16 bytes, turned into its AES key by net_rijndael_key_from_raw.
// A state that already holds a schedule is released first. Returns 0, or
// -1 when the cipher refuses the key or libgcrypt cannot be used (the state
// is then empty).
int net_cipher_setup(net_chunk_cipher kind, net_cipher_state* state, const uint8_t* key,
                     int32_t key_len);
// The same with the key as the cipher itself takes it (for Rijndael: the
// AES-128 key, exactly 16 bytes, not derived), for published test vectors.
int net_cipher_setup_key(net_chunk_cipher kind, net_cipher_state* state, const uint8_t* cipher_key,
                         int32_t key_len);
// Closes the handle (libgcrypt wipes the schedule) and empties the state.
void net_cipher_release(net_cipher_state* state);

// The AES key a connection derives from its 16 raw key bytes: each half-byte
// n becomes n for 0-9 and n - 9 for 10-15 (0xAF gives 0x16, 0x39 stays 0x39).
// Peers derive it the same way, so it must not change.
void net_rijndael_key_from_raw(const uint8_t* raw, uint8_t* aes_key);

// P for N plain bytes: N rounded down to whole blocks plus one block.
int32_t net_chunk_padded(net_chunk_cipher kind, int32_t plain);

// Looks at the bytes received so far. Returns 0 while the chunk is
// incomplete, 1 when a whole valid chunk is there (P and N are set), or
// -22 (negative P), -2 (P too large), -23 (P not whole blocks),
// -24 (N negative or above P).
int net_chunk_check(net_chunk_cipher kind, const uint8_t* in, int32_t len, int32_t* padded,
                    int32_t* plain);

// Encrypt or decrypt P bytes in place, block by block, with the state's
// cipher. P must be whole blocks. Returns 0, or -1 when the state has no
// schedule or libgcrypt refuses (the bytes are then unusable).
int net_chunk_encrypt(const net_cipher_state* state, uint8_t* data, int32_t padded);
int net_chunk_decrypt(const net_cipher_state* state, uint8_t* data, int32_t padded);

// Writes a whole chunk for plain bytes (N at most the cipher's max_plain)
// into out, which must hold NET_CHUNK_HEADER + net_chunk_padded(N) bytes.
// Returns the chunk size, or -1 as net_chunk_encrypt.
int32_t net_chunk_seal(const net_cipher_state* state, const uint8_t* plain, int32_t plain_len,
                       uint8_t* out);
