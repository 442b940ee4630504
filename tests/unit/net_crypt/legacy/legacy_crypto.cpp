#include "legacy_crypto.h"

#include <cstdio>
#include <cstring>

// The old sources, compiled as they are inside a namespace of their own so
// that nothing of theirs meets the new code's names (the standard headers
// they include are already in, so their includes add nothing).
namespace legacy_net::old {
#include "../../../../src/net/blowfish.cpp"
#include "../../../../src/net/rijndael.cpp"
#include "../../../../src/net/sha1.cpp"
}  // namespace legacy_net::old

namespace legacy_net {

namespace {

void PutBE32(uint8_t* p, int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  p[0] = uint8_t(u >> 24);
  p[1] = uint8_t(u >> 16);
  p[2] = uint8_t(u >> 8);
  p[3] = uint8_t(u);
}

void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

}  // namespace

struct OldCipher::State {
  old::net_blowfish blowfish;
  old::net_rijndael rijndael;
};

OldCipher::OldCipher() : state_(new State) {}
OldCipher::~OldCipher() = default;

// The old crypt.cpp's net_cipher_setup.
bool OldCipher::Setup(net_chunk_cipher kind, const uint8_t* key, int32_t key_len) {
  kind_ = kind;
  if (kind == NET_CHUNK_BLOWFISH) return old::net_blowfish_init(&state_->blowfish, key, key_len) == 0;
  if (key == nullptr || key_len < old::NET_RIJNDAEL_KEY) return false;
  uint8_t aes_key[old::NET_RIJNDAEL_KEY];
  old::net_rijndael_key_from_raw(key, aes_key);
  return old::net_rijndael_init(&state_->rijndael, aes_key, old::NET_RIJNDAEL_KEY) == 0;
}

// The old crypt.cpp's net_chunk_encrypt and net_chunk_decrypt.
void OldCipher::Encrypt(uint8_t* data, int32_t padded) const {
  if (kind_ == NET_CHUNK_BLOWFISH) {
    for (int32_t i = 0; i + old::NET_BLOWFISH_BLOCK <= padded; i += old::NET_BLOWFISH_BLOCK)
      old::net_blowfish_encrypt(&state_->blowfish, data + i);
  } else {
    for (int32_t i = 0; i + old::NET_RIJNDAEL_BLOCK <= padded; i += old::NET_RIJNDAEL_BLOCK)
      old::net_rijndael_encrypt(&state_->rijndael, data + i);
  }
}

void OldCipher::Decrypt(uint8_t* data, int32_t padded) const {
  if (kind_ == NET_CHUNK_BLOWFISH) {
    for (int32_t i = 0; i + old::NET_BLOWFISH_BLOCK <= padded; i += old::NET_BLOWFISH_BLOCK)
      old::net_blowfish_decrypt(&state_->blowfish, data + i);
  } else {
    for (int32_t i = 0; i + old::NET_RIJNDAEL_BLOCK <= padded; i += old::NET_RIJNDAEL_BLOCK)
      old::net_rijndael_decrypt(&state_->rijndael, data + i);
  }
}

// The old crypt.cpp's net_chunk_padded and net_chunk_seal.
std::vector<uint8_t> OldCipher::Seal(const uint8_t* plain, int32_t plain_len) const {
  int32_t block = kind_ == NET_CHUNK_BLOWFISH ? old::NET_BLOWFISH_BLOCK : old::NET_RIJNDAEL_BLOCK;
  int32_t padded = plain_len / block * block + block;
  std::vector<uint8_t> out(static_cast<size_t>(8 + padded));
  PutBE32(out.data(), padded);
  PutBE32(out.data() + 4, plain_len);
  if (plain_len > 0) std::memcpy(out.data() + 8, plain, static_cast<size_t>(plain_len));
  std::memset(out.data() + 8 + plain_len, 0, static_cast<size_t>(padded - plain_len));
  Encrypt(out.data() + 8, padded);
  return out;
}

void OldSha1(const void* data, size_t len, uint8_t* digest) {
  old::net_sha1 sha;
  old::net_sha1_init(&sha);
  old::net_sha1_update(&sha, data, len);
  old::net_sha1_final(&sha, digest);
}

// The old dh.cpp's net_sha1_keygen_from, with a buffer of 64.
std::string OldKeygen(const net_keygen_inputs& in) {
  uint8_t seed[16];
  PutLE32(seed, in.time_sec);
  PutLE32(seed + 4, in.process_id);
  PutLE32(seed + 8, in.tick_ms);
  PutLE32(seed + 12, in.pseudo_random);
  old::net_sha1 sha;
  old::net_sha1_init(&sha);
  old::net_sha1_update(&sha, seed, sizeof seed);
  old::net_sha1_update(&sha, in.os_random, sizeof in.os_random);
  uint8_t digest[20];
  old::net_sha1_final(&sha, digest);
  char text[41];
  std::snprintf(text, sizeof text, "%08lx%08lx%08lx%08lx%08lx", static_cast<unsigned long>(sha.h[0]),
                static_cast<unsigned long>(sha.h[1]), static_cast<unsigned long>(sha.h[2]),
                static_cast<unsigned long>(sha.h[3]), static_cast<unsigned long>(sha.h[4]));
  return text;
}

}  // namespace legacy_net
