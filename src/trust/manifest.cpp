#include "trust/manifest.h"

#include <array>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace {

constexpr char kMagic[8] = {'W', 'R', 'E', 'N', 'M', 'A', 'N', '1'};
constexpr size_t kHeaderBytes = 52;
constexpr size_t kEntryBytes = 4 + CSha256::kSize;
constexpr size_t kSignatureBytes = std::tuple_size_v<ed25519::Signature>;
// The most entries a manifest within kMaxManifestBytes can hold.
constexpr size_t kMaxEntries = (kMaxManifestBytes - kHeaderBytes - kSignatureBytes) / kEntryBytes;

void AppendLE(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t ReadLE(const uint8_t* p, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

}  // namespace

std::vector<uint8_t> BuildSignedManifest(const CManifest& manifest, const ed25519::Seed& seed) {
  if (manifest.m_files.size() > kMaxEntries) return {};
  std::vector<uint8_t> out;
  out.reserve(kHeaderBytes + kEntryBytes * manifest.m_files.size() + kSignatureBytes);
  out.insert(out.end(), kMagic, kMagic + sizeof kMagic);
  AppendLE(out, manifest.m_qwSerial, 8);
  out.insert(out.end(), manifest.m_listSha256.begin(), manifest.m_listSha256.end());
  AppendLE(out, manifest.m_files.size(), 4);
  for (const CManifestFile& file : manifest.m_files) {
    AppendLE(out, file.m_dwSize, 4);
    out.insert(out.end(), file.m_sha256.begin(), file.m_sha256.end());
  }
  ed25519::Signature signature;
  try {
    const CSha256::Digest digest = CSha256::Of(out.data(), out.size());
    if (!ed25519::Sign(seed, digest.data(), digest.size(), &signature)) return {};
  } catch (const std::exception&) {
    return {};
  }
  out.insert(out.end(), signature.begin(), signature.end());
  return out;
}

ManifestCheck ReadSignedManifest(const void* data, size_t size, const ed25519::PublicKey& key, CManifest* out) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  if (size < kHeaderBytes + kSignatureBytes || size > kMaxManifestBytes) return ManifestCheck::Malformed;
  if (std::memcmp(bytes, kMagic, sizeof kMagic) != 0) return ManifestCheck::Malformed;
  // The count is untrusted: compare it with what the size allows instead of
  // multiplying it out.
  const uint64_t count = ReadLE(bytes + 48, 4);
  if ((size - kHeaderBytes - kSignatureBytes) % kEntryBytes != 0 ||
      count != (size - kHeaderBytes - kSignatureBytes) / kEntryBytes)
    return ManifestCheck::Malformed;

  const size_t signedBytes = size - kSignatureBytes;
  ed25519::Signature signature;
  std::memcpy(signature.data(), bytes + signedBytes, signature.size());
  try {
    const CSha256::Digest digest = CSha256::Of(bytes, signedBytes);
    if (!ed25519::Verify(key, digest.data(), digest.size(), signature)) return ManifestCheck::BadSignature;
  } catch (const std::exception&) {
    return ManifestCheck::BadSignature;  // it cannot be confirmed
  }

  CManifest manifest;
  manifest.m_qwSerial = ReadLE(bytes + 8, 8);
  std::memcpy(manifest.m_listSha256.data(), bytes + 16, CSha256::kSize);
  manifest.m_files.resize(static_cast<size_t>(count));
  const uint8_t* entry = bytes + kHeaderBytes;
  for (CManifestFile& file : manifest.m_files) {
    file.m_dwSize = static_cast<uint32_t>(ReadLE(entry, 4));
    std::memcpy(file.m_sha256.data(), entry + 4, CSha256::kSize);
    entry += kEntryBytes;
  }
  if (out != nullptr) *out = std::move(manifest);
  return ManifestCheck::Ok;
}
