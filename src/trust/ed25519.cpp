#include "trust/ed25519.h"

#include <gcrypt.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <utility>

#include "trust/gcrypt_init.h"

// libgcrypt's own EdDSA (gcry_pk_sign/verify) takes the message inside an
// S-expression, whose data fields hold less than 64 KiB (longer ones abort
// the process), and a manifest of a few thousand files is longer; its
// verification also aborts on keys with a small y. So the scheme is put
// together here from libgcrypt's SHA-512, big numbers and curve arithmetic,
// step for step as RFC 8032 5.1.6 and 5.1.7 give it; the known vectors pin
// the result.

namespace ed25519 {
namespace {

constexpr size_t kHalf = 32;  // bytes of an encoded point or scalar

struct MpiRelease {
  void operator()(gcry_mpi_t n) const { gcry_mpi_release(n); }
};
struct PointRelease {
  void operator()(gcry_mpi_point_t p) const { gcry_mpi_point_release(p); }
};
struct CtxRelease {
  void operator()(gcry_ctx_t c) const { gcry_ctx_release(c); }
};
using Mpi = std::unique_ptr<gcry_mpi, MpiRelease>;
using Point = std::unique_ptr<gcry_mpi_point, PointRelease>;
using Curve = std::unique_ptr<gcry_context, CtxRelease>;

using Digest512 = std::array<uint8_t, 64>;

void Wipe(void* p, size_t n) {
  volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
  while (n--) *v++ = 0;
}

// SHA-512 of the pieces one after the other.
bool Sha512(std::initializer_list<std::pair<const void*, size_t>> pieces, Digest512* out) {
  gcry_md_hd_t md = nullptr;
  if (gcry_md_open(&md, GCRY_MD_SHA512, 0) != 0) return false;
  for (const auto& [data, size] : pieces) gcry_md_write(md, data, size);
  std::memcpy(out->data(), gcry_md_read(md, GCRY_MD_SHA512), out->size());
  gcry_md_close(md);
  return true;
}

// Integers are little-endian in Ed25519; libgcrypt reads big-endian.
Mpi FromLittleEndian(const uint8_t* bytes, size_t size) {
  uint8_t reversed[64];
  std::reverse_copy(bytes, bytes + size, reversed);
  gcry_mpi_t n = nullptr;
  const bool ok = gcry_mpi_scan(&n, GCRYMPI_FMT_USG, reversed, size, nullptr) == 0;
  Wipe(reversed, sizeof reversed);
  return ok ? Mpi(n) : nullptr;
}

bool ToLittleEndian(gcry_mpi_t n, uint8_t* out) {
  uint8_t bytes[kHalf];
  size_t len = 0;
  if (gcry_mpi_print(GCRYMPI_FMT_USG, bytes, sizeof bytes, &len, n) != 0) return false;
  std::memset(out, 0, kHalf);
  std::reverse_copy(bytes, bytes + len, out);
  Wipe(bytes, sizeof bytes);
  return true;
}

// libgcrypt multiplies points by a number flagged secure without branching
// on its bits.
void MarkSecret(gcry_mpi_t n) { gcry_mpi_set_flag(n, GCRYMPI_FLAG_SECURE); }

// SHA-512 output as a number modulo the group order.
Mpi ReducedHash(const Digest512& digest, gcry_mpi_t order) {
  Mpi n = FromLittleEndian(digest.data(), digest.size());
  if (n) gcry_mpi_mod(n.get(), n.get(), order);
  return n;
}

// The secret scalar a of a seed (the clamped first half of its SHA-512) and
// the prefix that makes signatures deterministic.
struct CExpandedSeed {
  Mpi m_scalar;  // libgcrypt wipes a number's memory when it is released
  uint8_t m_prefix[kHalf];

  ~CExpandedSeed() { Wipe(m_prefix, kHalf); }
};

bool Expand(const Seed& seed, CExpandedSeed* out) {
  Digest512 h;
  if (!Sha512({{seed.data(), seed.size()}}, &h)) return false;
  h[0] &= 248;
  h[31] &= 127;
  h[31] |= 64;
  out->m_scalar = FromLittleEndian(h.data(), kHalf);
  std::memcpy(out->m_prefix, h.data() + kHalf, kHalf);
  Wipe(h.data(), h.size());
  if (!out->m_scalar) return false;
  MarkSecret(out->m_scalar.get());
  return true;
}

// Ed25519's group: the curve with its base point B and order L.
struct CGroup {
  Curve m_curve;
  Point m_base;
  Mpi m_order;

  bool Init() {
    gcry_ctx_t ctx = nullptr;
    if (gcry_mpi_ec_new(&ctx, nullptr, "Ed25519") != 0) return false;
    m_curve.reset(ctx);
    m_base.reset(gcry_mpi_ec_get_point("g", ctx, 1));
    m_order.reset(gcry_mpi_ec_get_mpi("n", ctx, 1));
    return m_base && m_order;
  }

  // The 32-byte encoding of a point, by libgcrypt's encoder.
  bool Encode(gcry_mpi_point_t point, uint8_t* out) const {
    if (gcry_mpi_ec_set_point("q", point, m_curve.get()) != 0) return false;
    Mpi encoded(gcry_mpi_ec_get_mpi("q@eddsa", m_curve.get(), 1));
    if (!encoded || !gcry_mpi_get_flag(encoded.get(), GCRYMPI_FLAG_OPAQUE)) return false;
    unsigned int bits = 0;
    const void* bytes = gcry_mpi_get_opaque(encoded.get(), &bits);
    if (bytes == nullptr || bits != kHalf * 8) return false;
    std::memcpy(out, bytes, kHalf);
    return true;
  }

  // Encodes [n]B.
  bool EncodeMultipleOfBase(gcry_mpi_t n, uint8_t* out) const {
    Point product(gcry_mpi_point_new(0));
    if (!product) return false;
    gcry_mpi_ec_mul(product.get(), n, m_base.get(), m_curve.get());
    return Encode(product.get(), out);
  }
};

}  // namespace

bool GenerateSeed(Seed* seed) {
  if (!InitGcrypt()) return false;
  gcry_randomize(seed->data(), seed->size(), GCRY_VERY_STRONG_RANDOM);
  return true;
}

bool PublicKeyOf(const Seed& seed, PublicKey* key) {
  CGroup group;
  CExpandedSeed expanded;
  if (!InitGcrypt() || !group.Init() || !Expand(seed, &expanded)) return false;
  PublicKey out;
  if (!group.EncodeMultipleOfBase(expanded.m_scalar.get(), out.data())) return false;
  *key = out;
  return true;
}

bool Sign(const Seed& seed, const void* message, size_t size, Signature* signature) {
  CGroup group;
  CExpandedSeed expanded;
  if (!InitGcrypt() || !group.Init() || !Expand(seed, &expanded)) return false;
  PublicKey key;
  if (!group.EncodeMultipleOfBase(expanded.m_scalar.get(), key.data())) return false;

  // r = SHA-512(prefix || M) mod L, R = [r]B
  Digest512 h;
  if (!Sha512({{expanded.m_prefix, kHalf}, {message, size}}, &h)) return false;
  const Mpi r = ReducedHash(h, group.m_order.get());
  Wipe(h.data(), h.size());  // r gives the secret scalar away, together with S
  Signature out;
  if (!r) return false;
  MarkSecret(r.get());
  if (!group.EncodeMultipleOfBase(r.get(), out.data())) return false;

  // k = SHA-512(R || A || M) mod L, S = (r + k a) mod L
  if (!Sha512({{out.data(), kHalf}, {key.data(), key.size()}, {message, size}}, &h)) return false;
  const Mpi k = ReducedHash(h, group.m_order.get());
  const Mpi s(gcry_mpi_new(0));
  if (!k || !s) return false;
  gcry_mpi_mulm(s.get(), k.get(), expanded.m_scalar.get(), group.m_order.get());
  gcry_mpi_addm(s.get(), s.get(), r.get(), group.m_order.get());
  if (!ToLittleEndian(s.get(), out.data() + kHalf)) return false;
  *signature = out;
  return true;
}

bool Verify(const PublicKey& key, const void* message, size_t size, const Signature& signature) {
  CGroup group;
  if (!InitGcrypt() || !group.Init()) return false;
  const Mpi encodedKey(gcry_mpi_set_opaque_copy(nullptr, key.data(), kHalf * 8));
  const Point a(gcry_mpi_point_new(0));
  // Also refuses a key that is no point of the curve.
  if (!encodedKey || !a || gcry_mpi_ec_decode_point(a.get(), encodedKey.get(), group.m_curve.get()) != 0)
    return false;

  // S must be reduced, or one signature would have many spellings.
  const Mpi s = FromLittleEndian(signature.data() + kHalf, kHalf);
  if (!s || gcry_mpi_cmp(s.get(), group.m_order.get()) >= 0) return false;

  Digest512 h;
  if (!Sha512({{signature.data(), kHalf}, {key.data(), key.size()}, {message, size}}, &h)) return false;
  const Mpi k = ReducedHash(h, group.m_order.get());
  if (!k) return false;

  // [S]B - [k]A must encode to R; R itself need not be decoded.
  const Point sb(gcry_mpi_point_new(0)), ka(gcry_mpi_point_new(0)), check(gcry_mpi_point_new(0));
  if (!sb || !ka || !check) return false;
  gcry_mpi_ec_mul(sb.get(), s.get(), group.m_base.get(), group.m_curve.get());
  gcry_mpi_ec_mul(ka.get(), k.get(), a.get(), group.m_curve.get());
  gcry_mpi_ec_sub(check.get(), sb.get(), ka.get(), group.m_curve.get());
  uint8_t encoded[kHalf];
  return group.Encode(check.get(), encoded) && std::memcmp(encoded, signature.data(), kHalf) == 0;
}

}  // namespace ed25519
