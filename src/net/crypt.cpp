#include "net/crypt.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

#include "net/cipher_hook.h"
#include "net/conn.h"
#include "net/core.h"

namespace {

constexpr net_chunk_limits kLimits[] = {
    {NET_BLOWFISH_BLOCK, 32752, 32760},
    {NET_RIJNDAEL_BLOCK, 8168, 8184},
};

int32_t GetBE32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 |
                              uint32_t(p[3]));
}

void PutBE32(uint8_t* p, int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  p[0] = uint8_t(u >> 24);
  p[1] = uint8_t(u >> 16);
  p[2] = uint8_t(u >> 8);
  p[3] = uint8_t(u);
}

}  // namespace

const net_chunk_limits& net_chunk_limits_of(net_chunk_cipher kind) {
  return kLimits[kind == NET_CHUNK_RIJNDAEL ? 1 : 0];
}

int net_cipher_setup(net_chunk_cipher kind, net_cipher_state* state, const uint8_t* key,
                     int32_t key_len) {
  if (kind == NET_CHUNK_BLOWFISH) return net_blowfish_init(&state->blowfish, key, key_len);
  if (key == nullptr || key_len < NET_RIJNDAEL_KEY) return -1;
  uint8_t aes_key[NET_RIJNDAEL_KEY];
  net_rijndael_key_from_raw(key, aes_key);
  int rc = net_rijndael_init(&state->rijndael, aes_key, NET_RIJNDAEL_KEY);
  std::memset(aes_key, 0, sizeof aes_key);
  return rc;
}

int32_t net_chunk_padded(net_chunk_cipher kind, int32_t plain) {
  int32_t block = net_chunk_limits_of(kind).block;
  return plain / block * block + block;
}

int net_chunk_check(net_chunk_cipher kind, const uint8_t* in, int32_t len, int32_t* padded,
                    int32_t* plain) {
  const net_chunk_limits& lim = net_chunk_limits_of(kind);
  if (len < NET_CHUNK_HEADER) return 0;
  int32_t p = GetBE32(in);
  if (p < 0) return NET_ERR_CHUNK_NEGATIVE;
  if (p > lim.max_padded) return NET_ERR_NOROOM;
  if (len - NET_CHUNK_HEADER < p) return 0;
  if (p % lim.block != 0) return NET_ERR_CHUNK_BLOCK;
  int32_t n = GetBE32(in + 4);
  if (n < 0 || n > p) return NET_ERR_BAD_LENGTH;
  *padded = p;
  *plain = n;
  return 1;
}

void net_chunk_encrypt(net_chunk_cipher kind, const net_cipher_state* state, uint8_t* data,
                       int32_t padded) {
  if (kind == NET_CHUNK_BLOWFISH) {
    for (int32_t i = 0; i + NET_BLOWFISH_BLOCK <= padded; i += NET_BLOWFISH_BLOCK)
      net_blowfish_encrypt(&state->blowfish, data + i);
  } else {
    for (int32_t i = 0; i + NET_RIJNDAEL_BLOCK <= padded; i += NET_RIJNDAEL_BLOCK)
      net_rijndael_encrypt(&state->rijndael, data + i);
  }
}

void net_chunk_decrypt(net_chunk_cipher kind, const net_cipher_state* state, uint8_t* data,
                       int32_t padded) {
  if (kind == NET_CHUNK_BLOWFISH) {
    for (int32_t i = 0; i + NET_BLOWFISH_BLOCK <= padded; i += NET_BLOWFISH_BLOCK)
      net_blowfish_decrypt(&state->blowfish, data + i);
  } else {
    for (int32_t i = 0; i + NET_RIJNDAEL_BLOCK <= padded; i += NET_RIJNDAEL_BLOCK)
      net_rijndael_decrypt(&state->rijndael, data + i);
  }
}

int32_t net_chunk_seal(net_chunk_cipher kind, const net_cipher_state* state, const uint8_t* plain,
                       int32_t plain_len, uint8_t* out) {
  int32_t padded = net_chunk_padded(kind, plain_len);
  PutBE32(out, padded);
  PutBE32(out + 4, plain_len);
  std::memcpy(out + NET_CHUNK_HEADER, plain, static_cast<size_t>(plain_len));
  std::memset(out + NET_CHUNK_HEADER + plain_len, 0, static_cast<size_t>(padded - plain_len));
  net_chunk_encrypt(kind, state, out + NET_CHUNK_HEADER, padded);
  return NET_CHUNK_HEADER + padded;
}

// ---- The coders of a connection ----

namespace {

// What a direction keeps in its connection's cipher state area.
struct DirectionState {
  net_cipher_state cipher;
  // Receiving only: a chunk is decrypted in place at the front of erb, and
  // its plain bytes move on to rb as room allows.
  int32_t plain_left;  // decrypted bytes at the front of erb, not yet in rb
  int32_t pad_left;    // padding bytes after them, dropped once they are gone
};

}  // namespace

static_assert(offsetof(net_conn, send_cipher_state) % alignof(DirectionState) == 0);
static_assert(offsetof(net_conn, recv_cipher_state) % alignof(DirectionState) == 0);
static_assert(sizeof(net_conn::send_cipher_state) >= sizeof(DirectionState));
static_assert(sizeof(net_conn::recv_cipher_state) >= sizeof(DirectionState));

namespace {

struct Direction {
  uint8_t* storage;
  int32_t* ready;
  const uint8_t* key;
  const char* log_text;
};

Direction Receiving(net_conn* c, net_chunk_cipher kind) {
  return {c->recv_cipher_state, &c->recv_cipher_ready, c->recv_key,
          kind == NET_CHUNK_BLOWFISH ? "Note:10010 init blowfish decoder on fd:%d\n"
                                     : "Note:10012 init rijindael decoder on fd:%d\n"};
}

Direction Sending(net_conn* c, net_chunk_cipher kind) {
  return {c->send_cipher_state, &c->send_cipher_ready, c->send_key,
          kind == NET_CHUNK_BLOWFISH ? "Note:10011 init blowfish encoder on fd:%d\n"
                                     : "Note:10013 init rijndael encoder on fd:%d\n"};
}

DirectionState* Existing(const Direction& d) {
  return *d.ready ? std::launder(reinterpret_cast<DirectionState*>(d.storage)) : nullptr;
}

// The key schedule of a direction, built when its first chunk passes.
// Returns null when the cipher refuses the key.
DirectionState* StateOf(net_conn* c, net_chunk_cipher kind, const Direction& d) {
  if (DirectionState* st = Existing(d)) return st;
  // AES-128 only: longer keys declared by the context use their first 16 bytes.
  if (kind == NET_CHUNK_RIJNDAEL && c->key_length > NET_RIJNDAEL_KEY)
    c->key_length = NET_RIJNDAEL_KEY;
  int32_t key_len = c->key_length;
  if (key_len > static_cast<int32_t>(sizeof c->recv_key)) return nullptr;
  auto* st = new (d.storage) DirectionState{};
  if (net_cipher_setup(kind, &st->cipher, d.key, key_len) != 0) return nullptr;
  net_log_verbose(d.log_text, c->socket);
  *d.ready = 1;
  return st;
}

// One chunk at most per call. The plain bytes of a chunk need not fit in
// rb at once: a sender may put up to 32752 bytes in one Blowfish chunk,
// and waiting for that much room while rb holds the first part of a record
// whose rest is inside the chunk would stall the connection for good.
int DecodeChunk(net_conn* c, net_chunk_cipher kind) {
  Direction d = Receiving(c, kind);
  DirectionState* st = Existing(d);
  if (st == nullptr || st->plain_left == 0) {
    int32_t padded = 0;
    int32_t plain = 0;
    int rc = net_chunk_check(kind, net_buffer_peek(&c->erb), net_buffer_used(&c->erb), &padded,
                             &plain);
    if (rc <= 0) return rc;
    st = StateOf(c, kind, d);
    if (st == nullptr) return NET_ERR_CIPHER;
    net_buffer_consume(&c->erb, nullptr, NET_CHUNK_HEADER);
    auto* body = reinterpret_cast<uint8_t*>(c->erb.data + c->erb.read_offset);
    net_chunk_decrypt(kind, &st->cipher, body, padded);
    st->plain_left = plain;
    st->pad_left = padded - plain;
  }
  int32_t n = std::min(st->plain_left, net_buffer_room(&c->rb));
  if (n > 0) {
    net_buffer_append(&c->rb, net_buffer_peek(&c->erb), n);
    net_buffer_consume(&c->erb, nullptr, n);
    st->plain_left -= n;
  }
  if (st->plain_left == 0 && st->pad_left > 0) {
    net_buffer_consume(&c->erb, nullptr, st->pad_left);
    st->pad_left = 0;
  }
  return n;
}

int EncodeChunk(net_conn* c, net_chunk_cipher kind) {
  const net_chunk_limits& lim = net_chunk_limits_of(kind);
  // The smallest Rijndael chunk is 24 bytes; wait for room for it.
  if (kind == NET_CHUNK_RIJNDAEL && net_buffer_room(&c->ewb) < NET_CHUNK_HEADER + lim.block)
    return 0;
  int32_t plain = net_buffer_used(&c->wb);
  if (plain > lim.max_plain) plain = lim.max_plain;
  if (plain <= 0) return 0;
  int32_t size = NET_CHUNK_HEADER + net_chunk_padded(kind, plain);
  if (net_buffer_room(&c->ewb) < size) return 0;
  DirectionState* st = StateOf(c, kind, Sending(c, kind));
  if (st == nullptr) return NET_ERR_CIPHER;
  uint8_t chunk[NET_CHUNK_HEADER + NET_CHUNK_MAX_PADDED];
  net_chunk_seal(kind, &st->cipher, net_buffer_peek(&c->wb), plain, chunk);
  net_buffer_consume(&c->wb, nullptr, plain);
  net_buffer_append(&c->ewb, chunk, size);
  return size;
}

}  // namespace

int net_decode_blowfish(net_conn* c) { return DecodeChunk(c, NET_CHUNK_BLOWFISH); }
int net_encode_blowfish(net_conn* c) { return EncodeChunk(c, NET_CHUNK_BLOWFISH); }
int net_decode_rijndael(net_conn* c) { return DecodeChunk(c, NET_CHUNK_RIJNDAEL); }
int net_encode_rijndael(net_conn* c) { return EncodeChunk(c, NET_CHUNK_RIJNDAEL); }
