// Windows backend of the random source: RtlGenRandom (advapi32).
#include "platform/random.h"

#include <windows.h>
#include <ntsecapi.h>

namespace plat {

bool GetRandomBytes(void* buffer, size_t len) {
  auto* p = static_cast<unsigned char*>(buffer);
  while (len > 0) {
    ULONG chunk = len > 0x10000000 ? 0x10000000 : static_cast<ULONG>(len);
    if (!RtlGenRandom(p, chunk)) return false;
    p += chunk;
    len -= chunk;
  }
  return true;
}

}  // namespace plat
