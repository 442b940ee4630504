// Feeds arbitrary bytes, in arbitrary pieces, to one record parser on a
// connection record of its own (no socket), the way the I/O step does.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net/net.h"
#include "net/state.h"

namespace {

const unsigned char* g_rb_begin = nullptr;
const unsigned char* g_rb_end = nullptr;

int Check(conn_t, const unsigned char* p, int n) {
  // A record lies inside the read buffer and never runs past its bytes.
  if (n < 0 || p < g_rb_begin || p + n > g_rb_end) std::abort();
  volatile unsigned char sink = 0;
  for (int i = 0; i < n; ++i) sink = sink ^ p[i];
  return (n > 0 && p[0] == 0xEE) ? -1 : 0;  // sometimes the handler refuses
}

struct Library {
  tcpcontext* ctx = nullptr;
  Library() {
    net_set_log_level(-1);
    net_limits lim{1, 0, 1, 0, 16, 16, 16};
    if (net_init_with_limits(&lim) != 0) std::abort();
    ctx = net_tcpcontext_create(0, nullptr, 0, 1, 512, 64, 600, 0, 0, 0, 0, 0);
    if (ctx == nullptr) std::abort();
    net_tcpcontext_set_conn_parser(ctx, FUZZ_PARSER, Check);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Library lib;
  if (size < 1) return 0;
  net_conn* c = static_cast<net_conn*>(net_array_alloc(g_net.conn_array));
  if (c == nullptr || net_conn_setup(c, lib.ctx, -1, 0) != 0) std::abort();
  conn_t h = net_conn_handle(c);
  size_t piece = data[0] % 64 + 1;
  size_t pos = 1;
  bool failed = false;
  while (pos < size && !failed) {
    size_t n = size - pos < piece ? size - pos : piece;
    int room = net_buffer_room(&c->rb);
    if (room == 0) break;  // a full buffer with no record: the parser refuses it
    if (n > static_cast<size_t>(room)) n = static_cast<size_t>(room);
    if (net_buffer_append(&c->rb, data + pos, static_cast<int>(n)) != static_cast<int>(n)) std::abort();
    pos += n;
    for (int pass = 0; pass < 8 && net_buffer_used(&c->rb) > 0; ++pass) {
      g_rb_begin = reinterpret_cast<const unsigned char*>(c->rb.data);
      g_rb_end = g_rb_begin + c->rb.capacity;
      int before = net_buffer_used(&c->rb);
      int r = FUZZ_PARSER(h);
      if (r < 0) {
        failed = true;
        break;
      }
      if (net_buffer_used(&c->rb) > before) std::abort();
      if (net_buffer_used(&c->rb) == before) break;
    }
  }
  net_conn_discard(c);
  return 0;
}
