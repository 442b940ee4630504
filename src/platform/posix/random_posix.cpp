// POSIX backend of the random source: the kernel's getrandom.
#include "platform/random.h"

#include <cerrno>
#include <sys/random.h>

namespace plat {

bool GetRandomBytes(void* buffer, size_t len) {
  auto* p = static_cast<unsigned char*>(buffer);
  while (len > 0) {
    ssize_t got = ::getrandom(p, len, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += got;
    len -= static_cast<size_t>(got);
  }
  return true;
}

}  // namespace plat
