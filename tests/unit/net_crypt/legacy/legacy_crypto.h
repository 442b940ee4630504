// The middleware's own Blowfish, Rijndael and SHA-1, as they were before
// libgcrypt took over (src/net/blowfish.cpp, rijndael.cpp, sha1.cpp, and
// the chunk and exponent code of the time around them), kept only to run
// side by side with the new code and to record the vectors that outlive
// them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/crypt.h"
#include "net/dh.h"

namespace legacy_net {

class OldCipher {
 public:
  OldCipher();
  ~OldCipher();
  // The old net_cipher_setup: false when the old code refused the key.
  bool Setup(net_chunk_cipher kind, const uint8_t* key, int32_t key_len);
  // The old net_chunk_seal: header, plain bytes, zero padding, encrypted.
  std::vector<uint8_t> Seal(const uint8_t* plain, int32_t plain_len) const;
  // The old net_chunk_decrypt, in place.
  void Decrypt(uint8_t* data, int32_t padded) const;
  void Encrypt(uint8_t* data, int32_t padded) const;

 private:
  struct State;
  net_chunk_cipher kind_ = NET_CHUNK_BLOWFISH;
  std::unique_ptr<State> state_;
};

void OldSha1(const void* data, size_t len, uint8_t* digest /* 20 bytes */);

// The old net_sha1_keygen_from.
std::string OldKeygen(const net_keygen_inputs& in);

}  // namespace legacy_net
