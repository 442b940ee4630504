// Runs the value readers over arbitrary record bodies, chained the way a
// message decoder chains them, and checks that no call reads or writes
// outside its buffers or moves backwards.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "net/codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 1 << 20) return 0;
  // Own copy of exactly `size` bytes so any over-read is caught.
  std::vector<unsigned char> body(data, data + size);
  const int32_t len = static_cast<int32_t>(size);
  int32_t index = data[0] % 4;
  const unsigned char ops = data[1];
  for (int step = 0; step < 64 && index >= 0; ++step) {
    int32_t next = -1;
    switch ((ops >> (step % 4 * 2)) & 3) {
      case 0: {
        unsigned char b = 0;
        next = net_read_u8(body.data(), len, index, &b);
        break;
      }
      case 1: {
        uint32_t v = 0;
        next = net_read_u32(body.data(), len, index, &v);
        break;
      }
      case 2: {
        std::vector<unsigned char> out(static_cast<size_t>(step * 37 % 300));
        int32_t cap = static_cast<int32_t>(out.size());
        next = net_read_counted_bytes(body.data(), len, index, out.data(), &cap);
        if (next >= 0 && (cap < 0 || cap > static_cast<int32_t>(out.size()))) std::abort();
        break;
      }
      case 3: {
        uint32_t hi = 0, lo = 0;
        int r = net_read_length_prefix(body.data() + index, len - index, &hi, &lo);
        next = r < 0 ? r : index + r;
        break;
      }
    }
    if (next >= 0 && (next <= index || next > len)) std::abort();
    index = next;
  }
  // The writers stay inside their capacity too.
  unsigned char out[16];
  int32_t at = data[0] % 20;
  if (net_write_u32(out, at, sizeof out, 0x01020304u) >= 0 && at + 4 > 16) std::abort();
  if (net_write_length_prefix(out, at, sizeof out, size) >= 0 && at > 15) std::abort();
  return 0;
}
