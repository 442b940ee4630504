#include "trust/manifest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// The file count sits after the magic, the serial and the list's hash.
constexpr size_t kCountOffset = 48;

ed25519::Seed SeedOf(uint8_t fill) {
  ed25519::Seed seed;
  seed.fill(fill);
  return seed;
}

ed25519::PublicKey KeyOf(const ed25519::Seed& seed) {
  ed25519::PublicKey key{};
  EXPECT_TRUE(ed25519::PublicKeyOf(seed, &key));
  return key;
}

CManifest Sample(size_t files) {
  CManifest m;
  m.m_qwSerial = 0x0102030405060708ull;
  m.m_listSha256 = CSha256::Of("list", 4);
  for (size_t i = 0; i < files; ++i) {
    CManifestFile file;
    file.m_dwSize = static_cast<uint32_t>(0xA0000000u + i);
    for (size_t b = 0; b < file.m_sha256.size(); ++b) file.m_sha256[b] = static_cast<uint8_t>(i >> (b % 4 * 8));
    m.m_files.push_back(file);
  }
  return m;
}

void PutCount(Bytes& bytes, uint32_t count) {
  for (int i = 0; i < 4; ++i) bytes[kCountOffset + i] = static_cast<uint8_t>(count >> (8 * i));
}

// Re-signs everything before the signature (its SHA-256, as the manifest is
// signed), as a forger with the key would; shows a check is about the
// layout, not just the signature.
void Resign(Bytes& bytes, const ed25519::Seed& seed) {
  ed25519::Signature signature;
  const CSha256::Digest digest = CSha256::Of(bytes.data(), bytes.size() - 64);
  ASSERT_TRUE(ed25519::Sign(seed, digest.data(), digest.size(), &signature));
  std::memcpy(bytes.data() + bytes.size() - 64, signature.data(), 64);
}

TEST(Manifest, BuildsTheFixedLayoutAndReadsItBack) {
  const ed25519::Seed seed = SeedOf(7);
  for (size_t files : {0u, 1u, 3u}) {
    SCOPED_TRACE(files);
    const CManifest m = Sample(files);
    const Bytes bytes = BuildSignedManifest(m, seed);
    ASSERT_EQ(bytes.size(), 52 + 36 * files + 64);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "WRENMAN1");
    EXPECT_EQ(bytes[8], 0x08);  // little-endian serial
    EXPECT_EQ(bytes[15], 0x01);
    EXPECT_EQ(bytes[kCountOffset], files);
    if (files > 0) {
      EXPECT_EQ(bytes[52 + 3], 0xA0);  // little-endian size of the first file
    }

    CManifest read;
    read.m_qwSerial = 99;
    ASSERT_EQ(ReadSignedManifest(bytes.data(), bytes.size(), KeyOf(seed), &read), ManifestCheck::Ok);
    EXPECT_EQ(read.m_qwSerial, m.m_qwSerial);
    EXPECT_EQ(read.m_listSha256, m.m_listSha256);
    ASSERT_EQ(read.m_files.size(), files);
    for (size_t i = 0; i < files; ++i) {
      EXPECT_EQ(read.m_files[i].m_dwSize, m.m_files[i].m_dwSize);
      EXPECT_EQ(read.m_files[i].m_sha256, m.m_files[i].m_sha256);
    }
  }
}

TEST(Manifest, CorruptionsAreRefusedWithTheRightResult) {
  const ed25519::Seed seed = SeedOf(7);
  const ed25519::PublicKey key = KeyOf(seed);
  const Bytes good = BuildSignedManifest(Sample(3), seed);
  struct Case {
    const char* what;
    std::function<void(Bytes&)> spoil;
    ManifestCheck want;
  } cases[] = {
      {"magic", [&](Bytes& b) { b[7] = '2'; Resign(b, seed); }, ManifestCheck::Malformed},
      {"one byte short", [](Bytes& b) { b.pop_back(); }, ManifestCheck::Malformed},
      {"one byte long", [](Bytes& b) { b.push_back(0); }, ManifestCheck::Malformed},
      {"one entry short, re-signed", [&](Bytes& b) { b.erase(b.begin() + 52, b.begin() + 88); Resign(b, seed); },
       ManifestCheck::Malformed},
      {"count one too large, re-signed", [&](Bytes& b) { PutCount(b, 4); Resign(b, seed); }, ManifestCheck::Malformed},
      {"count one too small, re-signed", [&](Bytes& b) { PutCount(b, 2); Resign(b, seed); }, ManifestCheck::Malformed},
      // 36 * 0x71C71C72 wraps around 32 bits to 8: a count multiplied out in
      // 32 bits would look like a fit.
      {"count that overflows", [&](Bytes& b) { PutCount(b, 0x71C71C72u); Resign(b, seed); }, ManifestCheck::Malformed},
      {"count of 2^32 - 1", [&](Bytes& b) { PutCount(b, 0xFFFFFFFFu); Resign(b, seed); }, ManifestCheck::Malformed},
      {"only a header", [](Bytes& b) { b.resize(52); }, ManifestCheck::Malformed},
      {"empty", [](Bytes& b) { b.clear(); }, ManifestCheck::Malformed},
      {"serial changed", [](Bytes& b) { b[8] ^= 1; }, ManifestCheck::BadSignature},
      {"file hash changed", [](Bytes& b) { b[52 + 36 + 10] ^= 0x80; }, ManifestCheck::BadSignature},
      {"signature bit flipped", [](Bytes& b) { b[b.size() - 1] ^= 0x01; }, ManifestCheck::BadSignature},
      {"signed with another key", [](Bytes& b) { Resign(b, SeedOf(8)); }, ManifestCheck::BadSignature},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes bytes = good;
    c.spoil(bytes);
    CManifest out = Sample(1);
    EXPECT_EQ(ReadSignedManifest(bytes.data(), bytes.size(), key, &out), c.want);
    EXPECT_EQ(out.m_files.size(), 1u) << "out changed although the manifest was refused";
  }
}

TEST(Manifest, SizeLimitHoldsOnBothSides) {
  const ed25519::Seed seed = SeedOf(7);
  const size_t mostFiles = (kMaxManifestBytes - 52 - 64) / 36;
  const Bytes largest = BuildSignedManifest(Sample(mostFiles), seed);
  ASSERT_FALSE(largest.empty());
  EXPECT_LE(largest.size(), kMaxManifestBytes);
  CManifest out;
  EXPECT_EQ(ReadSignedManifest(largest.data(), largest.size(), KeyOf(seed), &out), ManifestCheck::Ok);
  EXPECT_EQ(out.m_files.size(), mostFiles);

  EXPECT_TRUE(BuildSignedManifest(Sample(mostFiles + 1), seed).empty());
  // One entry more, counted and signed correctly, is still over the limit.
  Bytes over(largest.size() + 36, 0);
  std::memcpy(over.data(), largest.data(), 52);
  PutCount(over, static_cast<uint32_t>(mostFiles + 1));
  Resign(over, seed);
  EXPECT_EQ(ReadSignedManifest(over.data(), over.size(), KeyOf(seed), &out), ManifestCheck::Malformed);
}

}  // namespace
