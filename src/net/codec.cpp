#include "net/codec.h"

#include <cstring>

#include "net/core.h"
#include "net/state.h"

namespace {

uint32_t get_u32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         p[3];
}

void put_u32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

// Index arithmetic in 64 bits: a caller's index near INT32_MAX must not
// wrap into a "fits" answer.
bool fits(int32_t index, int32_t need, int32_t limit) {
  return index >= 0 && static_cast<int64_t>(index) + need <= limit;
}

}  // namespace

int net_read_length_prefix(const unsigned char* bytes, int32_t available, uint32_t* high, uint32_t* low) {
  if (bytes == nullptr || available < 1) return net_fail(NET_ERR_TRUNCATED);
  unsigned char first = bytes[0];
  if (first <= 252) {
    *high = 0;
    *low = first;
    net_succeed();
    return 1;
  }
  if (first == 253) {
    if (available < 5) return net_fail(NET_ERR_TRUNCATED);
    *high = 0;
    *low = get_u32(bytes + 1);
    net_succeed();
    return 5;
  }
  if (first == 254) {
    if (available < 9) return net_fail(NET_ERR_TRUNCATED);
    *high = get_u32(bytes + 1);
    *low = get_u32(bytes + 5);
    net_succeed();
    return 9;
  }
  *high = 0;
  *low = 0;
  return net_fail(NET_ERR_BAD_PREFIX);
}

int net_write_u32(unsigned char* buffer, int32_t index, int32_t capacity, uint32_t value) {
  if (buffer == nullptr || !fits(index, 4, capacity)) return net_fail(NET_ERR_NOROOM);
  put_u32(buffer + index, value);
  net_succeed();
  return index + 4;
}

int net_read_u8(const unsigned char* bytes, int32_t length, int32_t index, unsigned char* out) {
  if (bytes == nullptr || index < 0 || index >= length) return net_fail(NET_ERR_NOROOM);
  *out = bytes[index];
  net_succeed();
  return index + 1;
}

int net_read_u32(const unsigned char* bytes, int32_t length, int32_t index, uint32_t* out) {
  if (bytes == nullptr || !fits(index, 4, length)) return net_fail(NET_ERR_NOROOM);
  *out = get_u32(bytes + index);
  net_succeed();
  return index + 4;
}

int net_read_counted_bytes(const unsigned char* bytes, int32_t length, int32_t index, unsigned char* out,
                           int32_t* capacity) {
  // An index outside the input has nothing to read.
  if (bytes == nullptr || capacity == nullptr || index < 0 || index > length) return net_fail(NET_ERR_TRUNCATED);
  uint32_t high = 0, low = 0;
  int32_t available = length - index;
  int size = net_read_length_prefix(bytes + index, available, &high, &low);
  if (size < 0) return size;
  if (high != 0) return net_fail(NET_ERR_BAD_PREFIX);
  if (static_cast<uint64_t>(size) + low > static_cast<uint64_t>(available)) return net_fail(NET_ERR_TRUNCATED);
  if (*capacity < 0 || low > static_cast<uint32_t>(*capacity)) return net_fail(NET_ERR_NOROOM);
  if (low > 0) std::memcpy(out, bytes + index + size, low);
  *capacity = static_cast<int32_t>(low);
  net_succeed();
  return index + size + static_cast<int32_t>(low);
}

int net_write_length_prefix(unsigned char* buffer, int32_t index, int32_t capacity, uint64_t value) {
  int32_t need = value <= 252 ? 1 : (value <= 0xFFFFFFFFu ? 5 : 9);
  if (buffer == nullptr || !fits(index, need, capacity)) return net_fail(NET_ERR_NOROOM);
  unsigned char* p = buffer + index;
  if (need == 1) {
    p[0] = static_cast<unsigned char>(value);
  } else if (need == 5) {
    p[0] = 253;
    put_u32(p + 1, static_cast<uint32_t>(value));
  } else {
    p[0] = 254;
    put_u32(p + 1, static_cast<uint32_t>(value >> 32));
    put_u32(p + 5, static_cast<uint32_t>(value));
  }
  net_succeed();
  return index + need;
}
