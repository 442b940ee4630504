// SHA-256 over bytes fed in pieces, for the signed manifest: the publisher
// hashes every file in the read that also gives its CRC, the starter every
// block it installs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

struct gcry_md_handle;

class CSha256 {
 public:
  static constexpr size_t kSize = 32;
  using Digest = std::array<uint8_t, kSize>;

  // Throws std::runtime_error when libgcrypt cannot be set up or has no
  // memory left: a hasher that could give a wrong digest is never made.
  CSha256();
  ~CSha256();
  CSha256(const CSha256&) = delete;
  CSha256& operator=(const CSha256&) = delete;

  // Starts over as if newly made.
  void Reset();
  void Update(const void* data, size_t size);
  // The digest of every byte fed since construction or the last Reset. The
  // running state is left as it is: Update may go on afterwards and a later
  // GetValue covers the bytes before and after. Throws std::runtime_error
  // only when out of memory.
  Digest GetValue() const;

  static Digest Of(const void* data, size_t size);

 private:
  gcry_md_handle* m_hMd = nullptr;
};
