// The starter reads the manifest from any HTTP server on the way: arbitrary
// bytes must come out Malformed or BadSignature (nobody here can sign for the
// key), never a crash or an overrun; and a manifest made from the same bytes
// and signed with the key reads back as it was built.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "trust/manifest.h"

namespace {

const ed25519::Seed kSeed = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                             17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

const ed25519::PublicKey& Key() {
  static ed25519::PublicKey key = [] {
    ed25519::PublicKey k{};
    if (!ed25519::PublicKeyOf(kSeed, &k)) __builtin_trap();
    return k;
  }();
  return key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CManifest read;
  if (ReadSignedManifest(data, size, Key(), &read) == ManifestCheck::Ok) __builtin_trap();

  CManifest built;
  if (size >= 8) std::memcpy(&built.m_qwSerial, data, 8);
  for (size_t at = 8; at + 4 <= size && built.m_files.size() < 64; at += 4) {
    CManifestFile file;
    std::memcpy(&file.m_dwSize, data + at, 4);
    file.m_sha256[at % 32] = data[at];
    built.m_files.push_back(file);
  }
  const std::vector<uint8_t> bytes = BuildSignedManifest(built, kSeed);
  if (ReadSignedManifest(bytes.data(), bytes.size(), Key(), &read) != ManifestCheck::Ok) __builtin_trap();
  if (read.m_qwSerial != built.m_qwSerial || read.m_files.size() != built.m_files.size()) __builtin_trap();
  for (size_t i = 0; i < read.m_files.size(); ++i)
    if (read.m_files[i].m_dwSize != built.m_files[i].m_dwSize || read.m_files[i].m_sha256 != built.m_files[i].m_sha256)
      __builtin_trap();
  return 0;
}
