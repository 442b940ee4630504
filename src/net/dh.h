// Diffie-Hellman key exchange of encrypted connections: exponent
// generation, modular exponentiation on hexadecimal texts, key derivation
// and the three messages of the exchange.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int32_t NET_CRYPT_VERSION = 0;

// Status of the server hello.
constexpr int32_t NET_KEYEX_ACCEPTED = 0;
constexpr int32_t NET_KEYEX_BAD_VERSION = 3;
constexpr int32_t NET_KEYEX_BAD_KEY_LENGTH = 4;

// Longest texts a peer may send, in characters.
constexpr int NET_KEYEX_MAX_GENERATOR = 62;
constexpr int NET_KEYEX_MAX_NUMBER = 1022;
// Room for any number text of the exchange plus its terminator.
constexpr int NET_KEYEX_TEXT_ROOM = 1024;
// Free room of ewb the server wants before it answers a client hello.
constexpr int NET_KEYEX_SERVER_ROOM = 800;

// The server's group: generator 2 and the 1024-bit MODP prime of RFC 2409
// (a safe prime), as 256 lowercase hexadecimal digits.
extern const char NET_DH_GENERATOR[];
extern const char NET_DH_PRIME[];

// Whether the exchange can run: libgcrypt is there, no older than the headers
// this was built with, and set up (on the first call).
bool net_keyex_available();

// SHA-1 (FIPS 180-1) of len bytes, by libgcrypt, into 20 bytes. False, with
// the digest zeroed, when libgcrypt cannot be used.
constexpr int NET_SHA1_SIZE = 20;
bool net_sha1_digest(const void* data, size_t len, uint8_t* digest);

// Writes a fresh private exponent as 40 lowercase hexadecimal digits (the
// SHA-1 of the inputs below), cut to size - 1 characters plus a
// terminator; "" when libgcrypt cannot be used.
void net_sha1_keygen(char* out, int size);

// The inputs of one exponent, split out so tests can pin them.
struct net_keygen_inputs {
  uint32_t time_sec;
  uint32_t process_id;
  uint32_t tick_ms;
  uint32_t pseudo_random;
  uint8_t os_random[16];
};
void net_sha1_keygen_from(const net_keygen_inputs& in, char* out, int size);

// out = base ^ exponent mod modulus, as uppercase hexadecimal text of whole
// bytes without leading zero bytes ("01" for one, "0" for zero), cut to
// size - 1 characters. Returns 0, or -1 when a text is not a hexadecimal
// number, the modulus is zero or the big-number library failed or is
// missing; out is then "".
int net_modexp_hex(const char* base, const char* modulus, const char* exponent, char* out,
                   int size);

// Turns hexadecimal text into key bytes (see dh.cpp for the exact rules);
// key bytes the text does not reach keep their value.
void net_key_from_hex(const char* text, uint8_t* key, int key_len);

// Sets both keys of a connection from hexadecimal text.
struct net_conn;
void net_conn_keys_from_hex(net_conn* c, const char* text);

// Messages. Every integer is 32-bit big-endian, every number is hexadecimal
// text without terminator.
constexpr int NET_CLIENT_HELLO_SIZE = 8;

// A number text inside a received message (not terminated).
struct net_keyex_text {
  const char* text;
  int32_t len;
};

struct net_server_hello {
  int32_t status;
  net_keyex_text generator;
  net_keyex_text prime;
  net_keyex_text public_key;
};

void net_keyex_write_client_hello(uint8_t* out, int32_t key_length);

// Server hello as the client reads it from the bytes received so far.
// Returns 0 while incomplete, the message size once complete, -19 for a
// non-zero status, -2 for a text length out of range.
int net_keyex_parse_server_hello(const uint8_t* in, int32_t len, net_server_hello* hello);

int32_t net_keyex_server_hello_size(const char* generator, const char* prime,
                                    const char* public_key);
// Writes the server hello (net_keyex_server_hello_size bytes).
void net_keyex_write_server_hello(uint8_t* out, int32_t status, const char* generator,
                                  const char* prime, const char* public_key);

// Client key message. Parse returns 0 while incomplete, the message size
// once complete, -19 for a length out of range (*bad_len tells which).
int net_keyex_parse_client_key(const uint8_t* in, int32_t len, net_keyex_text* public_key,
                               int32_t* bad_len);
void net_keyex_write_client_key(uint8_t* out, const char* public_key);

// Copies a received text into a terminated buffer of NET_KEYEX_TEXT_ROOM.
// Returns true when the text is a number we can use: 1 to 1022 hexadecimal
// digits and nothing else.
bool net_keyex_copy_number(const net_keyex_text& t, char* out);
