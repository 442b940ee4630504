// Bytes from the operating system's cryptographic random source.
#pragma once

#include <cstddef>

namespace plat {

// Fills len bytes; false when the source failed (the buffer is then undefined).
bool GetRandomBytes(void* buffer, size_t len);

}  // namespace plat
