#include "trust/sha256.h"

#include <gcrypt.h>

#include <cstring>
#include <stdexcept>

#include "trust/gcrypt_init.h"

CSha256::CSha256() {
  if (!InitGcrypt()) throw std::runtime_error("SHA-256: libgcrypt is older than " GCRYPT_VERSION);
  if (gcry_md_open(&m_hMd, GCRY_MD_SHA256, 0) != 0) throw std::runtime_error("SHA-256: libgcrypt has no memory left");
}

CSha256::~CSha256() { gcry_md_close(m_hMd); }

void CSha256::Reset() { gcry_md_reset(m_hMd); }

void CSha256::Update(const void* data, size_t size) { gcry_md_write(m_hMd, data, size); }

CSha256::Digest CSha256::GetValue() const {
  // Reading a handle finalises it; a copy keeps ours running.
  gcry_md_hd_t copy = nullptr;
  if (gcry_md_copy(&copy, m_hMd) != 0) throw std::runtime_error("SHA-256: libgcrypt has no memory left");
  Digest digest;
  std::memcpy(digest.data(), gcry_md_read(copy, GCRY_MD_SHA256), kSize);
  gcry_md_close(copy);
  return digest;
}

CSha256::Digest CSha256::Of(const void* data, size_t size) {
  CSha256 sha;
  sha.Update(data, size);
  return sha.GetValue();
}
