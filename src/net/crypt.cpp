#include "net/crypt.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

#include "net/cipher_hook.h"
#include "net/conn.h"
#include "net/core.h"
#include "net/dh.h"
#include "trust/gcrypt_init.h"

// How the middleware's ciphers sit on libgcrypt's.
//
// Blowfish: the textbook (and libgcrypt) reads an 8-byte block as two
// big-endian 32-bit halves; the middleware has always stored each half
// little-endian (bytes 0-3 the left half, least significant byte first).
// Reversing the bytes of every 32-bit word before and after the library
// call turns one into the other. The key schedule is the textbook's: the
// key bytes, repeated, folded into the P-array as big-endian words, so the
// key goes to libgcrypt as it is (1 to 72 bytes). libgcrypt flags about one
// key in 65 000 as weak (an S-box entry repeated) and would then refuse it;
// the peers have always used such keys, and the weakness matters only for
// reduced-round Blowfish, so they are allowed.
//
// Rijndael: standard AES-128 with bytes in standard order. What is the
// middleware's own is the key schedule input: the AES key is derived from
// the first 16 raw key bytes by net_rijndael_key_from_raw before libgcrypt
// sees it (longer raw keys are cut to 16 bytes).
//
// Both: every block on its own with the same key (ECB), zero padding to
// whole blocks with at least one padding byte (net_chunk_padded), no IV.
// The library runs the whole chunk in one call, so it can use its bulk and
// hardware (AES-NI) paths; the padding is ours, done before the call.

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

void Wipe(void* p, size_t n) {
  volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
  while (n--) *v++ = 0;
}

// Reverses the bytes of each 32-bit word: the middleware's Blowfish block
// halves to the textbook's and back.
void SwapWordBytes(uint8_t* data, int32_t len) {
  for (int32_t i = 0; i + 4 <= len; i += 4) {
    std::swap(data[i], data[i + 3]);
    std::swap(data[i + 1], data[i + 2]);
  }
}

uint8_t HalfByte(uint8_t n) { return n < 10 ? n : uint8_t(n - 9); }

int Crypt(const net_cipher_state* state, uint8_t* data, int32_t padded, bool encrypt) {
  if (state == nullptr || state->handle == nullptr || padded < 0) return -1;
  if (padded % net_chunk_limits_of(state->kind).block != 0) return -1;
  if (padded == 0) return 0;
  const bool blowfish = state->kind == NET_CHUNK_BLOWFISH;
  if (blowfish) SwapWordBytes(data, padded);
  // In place: libgcrypt takes a null input as "the output buffer holds it".
  gcry_error_t err = encrypt ? gcry_cipher_encrypt(state->handle, data, size_t(padded), nullptr, 0)
                             : gcry_cipher_decrypt(state->handle, data, size_t(padded), nullptr, 0);
  if (blowfish) SwapWordBytes(data, padded);
  return err == 0 ? 0 : -1;
}

}  // namespace

bool net_cipher_available() {
  static const bool ready = [] {
    if (!net_keyex_available()) return false;
    if (gcry_cipher_test_algo(GCRY_CIPHER_BLOWFISH) != 0 || gcry_cipher_test_algo(GCRY_CIPHER_AES128) != 0 ||
        gcry_md_test_algo(GCRY_MD_SHA1) != 0) {
      // For instance libgcrypt in FIPS mode, which has no Blowfish.
      net_log_important("Fatal: libgcrypt offers no Blowfish, AES-128 or SHA-1 here\n");
      return false;
    }
    return true;
  }();
  return ready;
}

const net_chunk_limits& net_chunk_limits_of(net_chunk_cipher kind) {
  return kLimits[kind == NET_CHUNK_RIJNDAEL ? 1 : 0];
}

void net_rijndael_key_from_raw(const uint8_t* raw, uint8_t* aes_key) {
  for (int i = 0; i < NET_RIJNDAEL_KEY; ++i)
    aes_key[i] = uint8_t(HalfByte(raw[i] >> 4) << 4 | HalfByte(raw[i] & 0x0F));
}

int net_cipher_setup_key(net_chunk_cipher kind, net_cipher_state* state, const uint8_t* cipher_key,
                         int32_t key_len) {
  if (state == nullptr) return -1;
  net_cipher_release(state);
  const bool blowfish = kind != NET_CHUNK_RIJNDAEL;
  if (cipher_key == nullptr) return -1;
  if (blowfish ? (key_len < 1 || key_len > NET_BLOWFISH_KEY_MAX) : key_len != NET_RIJNDAEL_KEY) return -1;
  if (!InitGcrypt()) return -1;
  gcry_cipher_hd_t handle = nullptr;
  if (gcry_cipher_open(&handle, blowfish ? GCRY_CIPHER_BLOWFISH : GCRY_CIPHER_AES128, GCRY_CIPHER_MODE_ECB, 0) != 0)
    return -1;
  if (blowfish && gcry_cipher_ctl(handle, GCRYCTL_SET_ALLOW_WEAK_KEY, nullptr, 1) != 0) {
    gcry_cipher_close(handle);
    return -1;
  }
  gcry_error_t err = gcry_cipher_setkey(handle, cipher_key, size_t(key_len));
  // With weak keys allowed, libgcrypt still reports one, but sets it.
  if (err != 0 && !(blowfish && gcry_err_code(err) == GPG_ERR_WEAK_KEY)) {
    gcry_cipher_close(handle);
    return -1;
  }
  state->handle = handle;
  state->kind = blowfish ? NET_CHUNK_BLOWFISH : NET_CHUNK_RIJNDAEL;
  return 0;
}

int net_cipher_setup(net_chunk_cipher kind, net_cipher_state* state, const uint8_t* key,
                     int32_t key_len) {
  if (kind != NET_CHUNK_RIJNDAEL) return net_cipher_setup_key(kind, state, key, key_len);
  if (state != nullptr) net_cipher_release(state);
  if (key == nullptr || key_len < NET_RIJNDAEL_KEY) return -1;
  uint8_t aes_key[NET_RIJNDAEL_KEY];
  net_rijndael_key_from_raw(key, aes_key);
  int rc = net_cipher_setup_key(kind, state, aes_key, NET_RIJNDAEL_KEY);
  Wipe(aes_key, sizeof aes_key);
  return rc;
}

void net_cipher_release(net_cipher_state* state) {
  if (state == nullptr) return;
  if (state->handle != nullptr) gcry_cipher_close(state->handle);
  state->handle = nullptr;
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

int net_chunk_encrypt(const net_cipher_state* state, uint8_t* data, int32_t padded) {
  return Crypt(state, data, padded, true);
}

int net_chunk_decrypt(const net_cipher_state* state, uint8_t* data, int32_t padded) {
  return Crypt(state, data, padded, false);
}

int32_t net_chunk_seal(const net_cipher_state* state, const uint8_t* plain, int32_t plain_len,
                       uint8_t* out) {
  if (state == nullptr || plain_len < 0) return -1;
  int32_t padded = net_chunk_padded(state->kind, plain_len);
  PutBE32(out, padded);
  PutBE32(out + 4, plain_len);
  if (plain_len > 0) std::memcpy(out + NET_CHUNK_HEADER, plain, static_cast<size_t>(plain_len));
  std::memset(out + NET_CHUNK_HEADER + plain_len, 0, static_cast<size_t>(padded - plain_len));
  if (net_chunk_encrypt(state, out + NET_CHUNK_HEADER, padded) != 0) {
    // Never leave the plain bytes where a chunk is expected.
    Wipe(out, static_cast<size_t>(NET_CHUNK_HEADER + padded));
    return -1;
  }
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
  // The record holds only the handle; the schedule lives in libgcrypt's
  // memory until net_conn_cipher_release closes it.
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
    if (net_chunk_decrypt(&st->cipher, body, padded) != 0) return NET_ERR_CIPHER;
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
  if (net_chunk_seal(&st->cipher, net_buffer_peek(&c->wb), plain, chunk) != size) return NET_ERR_CIPHER;
  net_buffer_consume(&c->wb, nullptr, plain);
  net_buffer_append(&c->ewb, chunk, size);
  return size;
}

}  // namespace

void net_conn_cipher_release(net_conn* c) {
  for (const Direction& d : {Receiving(c, NET_CHUNK_BLOWFISH), Sending(c, NET_CHUNK_BLOWFISH)}) {
    if (DirectionState* st = Existing(d)) net_cipher_release(&st->cipher);
    *d.ready = 0;
  }
}

int net_decode_blowfish(net_conn* c) { return DecodeChunk(c, NET_CHUNK_BLOWFISH); }
int net_encode_blowfish(net_conn* c) { return EncodeChunk(c, NET_CHUNK_BLOWFISH); }
int net_decode_rijndael(net_conn* c) { return DecodeChunk(c, NET_CHUNK_RIJNDAEL); }
int net_encode_rijndael(net_conn* c) { return EncodeChunk(c, NET_CHUNK_RIJNDAEL); }
