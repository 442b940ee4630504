// The signed manifest: what the publisher vouches for in one publication.
// It names the strong hash of the exact file-list bytes the server hands out
// and the size and hash of every target file, and carries the publisher's
// Ed25519 signature, so a starter that knows the public key can refuse a list
// or a file that anyone between it and the publisher has changed.
//
// Layout, little-endian:
//   0   8 bytes   "WRENMAN1"
//   8   u64       serial, larger with every publication
//   16  32 bytes  SHA-256 of the file-list bytes (the packed container)
//   48  u32       file count N
//   52  N x (u32 size, 32 bytes SHA-256), one per file record in list order
//   52 + 36 N     64 bytes: the Ed25519 signature of the SHA-256 of every byte before it
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "trust/ed25519.h"
#include "trust/sha256.h"

inline constexpr const char* kManifestName = "manifest.dat";  // in the publish folder, beside filelist.dat
inline constexpr size_t kMaxManifestBytes = 16u << 20;

struct CManifestFile {
  uint32_t m_dwSize = 0;
  CSha256::Digest m_sha256{};
};

struct CManifest {
  uint64_t m_qwSerial = 0;
  CSha256::Digest m_listSha256{};
  std::vector<CManifestFile> m_files;
};

// The signed bytes, or an empty vector when they would exceed
// kMaxManifestBytes (no reader would take them) or signing failed.
std::vector<uint8_t> BuildSignedManifest(const CManifest& manifest, const ed25519::Seed& seed);

enum class ManifestCheck { Ok, Malformed, BadSignature };

// Reads untrusted bytes: Malformed for a wrong magic or a length other than
// the one the file count asks for (and anything over kMaxManifestBytes),
// BadSignature when the signature is not the key's for these bytes. out is
// filled only on Ok.
ManifestCheck ReadSignedManifest(const void* data, size_t size, const ed25519::PublicKey& key, CManifest* out);
