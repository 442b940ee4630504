#include "trust/gcrypt_init.h"

#include <gcrypt.h>

bool InitGcrypt() {
  static const bool ready = [] {
    // The version check is also what initialises the library.
    if (gcry_check_version(GCRYPT_VERSION) == nullptr) return false;
    if (!gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
      // Secure memory wants locked pages, which our programs may not get;
      // without them libgcrypt would warn on every secret it holds.
      gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
      gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    }
    return true;
  }();
  return ready;
}
