// Encrypted byte stream of a connection: the stream is cut into chunks of
// an 8-byte header (padded length P and plain length N, both 32-bit
// big-endian) followed by P cipher bytes, the N plain bytes padded with
// zeros to whole blocks and always by at least one byte.
#pragma once

#include <cstdint>

#include "net/blowfish.h"
#include "net/rijndael.h"

enum net_chunk_cipher : int32_t {
  NET_CHUNK_BLOWFISH = 0,
  NET_CHUNK_RIJNDAEL = 1,
};

constexpr int32_t NET_CHUNK_HEADER = 8;

struct net_chunk_limits {
  int32_t block;       // cipher block size
  int32_t max_plain;   // largest N a sender puts in one chunk
  int32_t max_padded;  // largest P a receiver accepts
};
const net_chunk_limits& net_chunk_limits_of(net_chunk_cipher kind);

// Largest P of any cipher, for buffers that hold one chunk.
constexpr int32_t NET_CHUNK_MAX_PADDED = 32760;

// Key schedule of one direction, kept in the connection's cipher state area.
union net_cipher_state {
  net_blowfish blowfish;
  net_rijndael rijndael;
};
constexpr int NET_CIPHER_STATE_SIZE = 5000;
static_assert(sizeof(net_cipher_state) <= NET_CIPHER_STATE_SIZE);

// Builds the key schedule from the connection's raw key bytes. Rijndael
// uses the first 16 bytes, turned into its AES key. Returns 0, or -1 when
// the cipher refuses the key.
int net_cipher_setup(net_chunk_cipher kind, net_cipher_state* state, const uint8_t* key,
                     int32_t key_len);

// P for N plain bytes: N rounded down to whole blocks plus one block.
int32_t net_chunk_padded(net_chunk_cipher kind, int32_t plain);

// Looks at the bytes received so far. Returns 0 while the chunk is
// incomplete, 1 when a whole valid chunk is there (P and N are set), or
// -22 (negative P), -2 (P too large), -23 (P not whole blocks),
// -24 (N negative or above P).
int net_chunk_check(net_chunk_cipher kind, const uint8_t* in, int32_t len, int32_t* padded,
                    int32_t* plain);

// Encrypt or decrypt P bytes in place, block by block.
void net_chunk_encrypt(net_chunk_cipher kind, const net_cipher_state* state, uint8_t* data,
                       int32_t padded);
void net_chunk_decrypt(net_chunk_cipher kind, const net_cipher_state* state, uint8_t* data,
                       int32_t padded);

// Writes a whole chunk for plain bytes (N at most the cipher's max_plain)
// into out, which must hold NET_CHUNK_HEADER + net_chunk_padded(N) bytes.
// Returns the chunk size.
int32_t net_chunk_seal(net_chunk_cipher kind, const net_cipher_state* state, const uint8_t* plain,
                       int32_t plain_len, uint8_t* out);
