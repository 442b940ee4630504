// Ed25519 signatures (pure Ed25519 of RFC 8032) by libgcrypt, of messages of
// at most kMaxMessageBytes (sign a digest of anything longer). Every function
// returns false when libgcrypt cannot be set up or refuses, and never leaves
// a half-filled output that could pass for a real one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ed25519 {

using Seed = std::array<uint8_t, 32>;  // the private key (RFC 8032 secret key)
using PublicKey = std::array<uint8_t, 32>;
using Signature = std::array<uint8_t, 64>;

inline constexpr size_t kMaxMessageBytes = 4096;

// A new private key from the strongest random source libgcrypt has.
bool GenerateSeed(Seed* seed);
bool PublicKeyOf(const Seed& seed, PublicKey* key);
// Deterministic: the same seed and message always give the same signature.
bool Sign(const Seed& seed, const void* message, size_t size, Signature* signature);
// True only for a valid signature of exactly these bytes under this key; a
// key that is no point of the curve (or has a y below 2^192, which no real
// key has) is false too.
bool Verify(const PublicKey& key, const void* message, size_t size, const Signature& signature);

}  // namespace ed25519
