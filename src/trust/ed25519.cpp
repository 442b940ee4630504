#include "trust/ed25519.h"

#include <gcrypt.h>

#include <cstring>
#include <memory>

#include "trust/gcrypt_init.h"

// Everything goes through libgcrypt's own EdDSA (gcry_pk_sign/verify). Two of
// its limits are kept out of its way here rather than met: a message travels
// inside an S-expression, whose data fields hold less than 64 KiB (longer ones
// abort the process), so messages are capped at kMaxMessageBytes; and its
// verification aborts on a public key whose y is below 2^192, so such keys are
// refused before it sees them (a real key has one with a chance of 2^-63).
// It also takes an S that is not reduced, which is refused here.

namespace ed25519 {
namespace {

struct SexpRelease {
  void operator()(gcry_sexp_t s) const { gcry_sexp_release(s); }
};
struct MpiRelease {
  void operator()(gcry_mpi_t n) const { gcry_mpi_release(n); }
};
struct CtxRelease {
  void operator()(gcry_ctx_t c) const { gcry_ctx_release(c); }
};
using Sexp = std::unique_ptr<gcry_sexp, SexpRelease>;
using Mpi = std::unique_ptr<gcry_mpi, MpiRelease>;
using Context = std::unique_ptr<gcry_context, CtxRelease>;

// The S-expression of a seed as libgcrypt's private key.
Sexp PrivateKey(const Seed& seed) {
  gcry_sexp_t key = nullptr;
  if (gcry_sexp_build(&key, nullptr, "(private-key (ecc (curve Ed25519) (flags eddsa) (d %b)))",
                      static_cast<int>(seed.size()), seed.data()) != 0)
    return nullptr;
  return Sexp(key);
}

Sexp Data(const void* message, size_t size) {
  gcry_sexp_t data = nullptr;
  if (size > kMaxMessageBytes ||
      gcry_sexp_build(&data, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))", static_cast<int>(size),
                      size ? message : "") != 0)
    return nullptr;
  return Sexp(data);
}

// Copies the 32 bytes of token (r or s) of a signature.
bool TakeHalf(gcry_sexp_t signature, const char* token, uint8_t* out) {
  const Sexp found(gcry_sexp_find_token(signature, token, 0));
  size_t length = 0;
  const char* bytes = found ? gcry_sexp_nth_data(found.get(), 1, &length) : nullptr;
  if (bytes == nullptr || length != 32) return false;
  std::memcpy(out, bytes, 32);
  return true;
}

// S of a signature must be below the group order L (both little-endian), or
// one signature would have many spellings; libgcrypt does not look.
bool IsReducedScalar(const uint8_t* s) {
  static constexpr uint8_t kOrder[32] = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                                         0xa2, 0xde, 0xf9, 0xde, 0x14, 0, 0, 0, 0, 0, 0,
                                         0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10};
  for (int i = 31; i >= 0; --i)
    if (s[i] != kOrder[i]) return s[i] < kOrder[i];
  return false;
}

// y is the key's 255 low bits, little-endian: below 2^192 when bits 192-254 are clear.
bool HasSmallY(const PublicKey& key) {
  for (size_t i = 24; i < 31; ++i)
    if (key[i] != 0) return false;
  return (key[31] & 0x7F) == 0;
}

}  // namespace

bool GenerateSeed(Seed* seed) {
  if (!InitGcrypt()) return false;
  PublicKey key;
  do {
    gcry_randomize(seed->data(), seed->size(), GCRY_VERY_STRONG_RANDOM);
  } while (!PublicKeyOf(*seed, &key) || HasSmallY(key));  // one a starter could not use
  return true;
}

bool PublicKeyOf(const Seed& seed, PublicKey* key) {
  if (!InitGcrypt()) return false;
  const Sexp secret = PrivateKey(seed);
  gcry_ctx_t ctx = nullptr;
  if (!secret || gcry_mpi_ec_new(&ctx, secret.get(), nullptr) != 0) return false;
  const Context curve(ctx);
  const Mpi encoded(gcry_mpi_ec_get_mpi("q@eddsa", curve.get(), 1));
  unsigned int bits = 0;
  const void* bytes = encoded ? gcry_mpi_get_opaque(encoded.get(), &bits) : nullptr;
  if (bytes == nullptr || bits != key->size() * 8) return false;
  std::memcpy(key->data(), bytes, key->size());
  return true;
}

bool Sign(const Seed& seed, const void* message, size_t size, Signature* signature) {
  if (!InitGcrypt()) return false;
  const Sexp secret = PrivateKey(seed);
  const Sexp data = Data(message, size);
  gcry_sexp_t result = nullptr;
  if (!secret || !data || gcry_pk_sign(&result, data.get(), secret.get()) != 0) return false;
  const Sexp made(result);
  Signature out;
  if (!TakeHalf(made.get(), "r", out.data()) || !TakeHalf(made.get(), "s", out.data() + 32)) return false;
  *signature = out;
  return true;
}

bool Verify(const PublicKey& key, const void* message, size_t size, const Signature& signature) {
  if (!InitGcrypt() || HasSmallY(key) || !IsReducedScalar(signature.data() + 32)) return false;
  gcry_sexp_t built = nullptr;
  if (gcry_sexp_build(&built, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                      static_cast<int>(key.size()), key.data()) != 0)
    return false;
  const Sexp publicKey(built);
  if (gcry_sexp_build(&built, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, signature.data(), 32,
                      signature.data() + 32) != 0)
    return false;
  const Sexp sig(built);
  const Sexp data = Data(message, size);
  return data && gcry_pk_verify(sig.get(), data.get(), publicKey.get()) == 0;
}

}  // namespace ed25519
