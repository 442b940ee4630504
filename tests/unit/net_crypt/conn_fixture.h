// A connection record with its four queues over plain memory, so the coders
// and the key exchange steps run without sockets or the library's arrays.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "net/cipher_hook.h"
#include "net/conn.h"

struct FakeConn {
  explicit FakeConn(int read_size = 32768, int write_size = 32768, int key_length = 16,
                    int accepted = 0)
      : rb_mem(read_size), erb_mem(read_size + 8), wb_mem(write_size), ewb_mem(write_size + 8),
        c(new net_conn) {
    std::memset(c.get(), 0, sizeof(net_conn));
    Attach(&c->rb, rb_mem);
    Attach(&c->erb, erb_mem);
    Attach(&c->wb, wb_mem);
    Attach(&c->ewb, ewb_mem);
    c->key_length = key_length;
    c->accepted = accepted;
    c->socket = 3;
    c->serial = 1;
  }

  // The coders open libgcrypt handles; the library's release path closes
  // them for real records, this for fake ones.
  ~FakeConn() { net_conn_cipher_release(c.get()); }
  FakeConn(const FakeConn&) = delete;
  FakeConn& operator=(const FakeConn&) = delete;

  net_conn* operator->() { return c.get(); }
  net_conn* get() { return c.get(); }

  // Moves up to n bytes of this connection's ewb into the peer's erb, as
  // the socket would.
  int SendTo(FakeConn& peer, int n = 1 << 30) {
    int k = std::min({n, net_buffer_used(&c->ewb), net_buffer_room(&peer->erb)});
    if (k <= 0) return 0;
    net_buffer_append(&peer->erb, net_buffer_peek(&c->ewb), k);
    net_buffer_consume(&c->ewb, nullptr, k);
    return k;
  }

  std::vector<unsigned char> Take(net_buffer* b) {
    std::vector<unsigned char> out(net_buffer_peek(b), net_buffer_peek(b) + net_buffer_used(b));
    net_buffer_consume(b, nullptr, net_buffer_used(b));
    return out;
  }

  std::vector<char> rb_mem, erb_mem, wb_mem, ewb_mem;
  std::unique_ptr<net_conn> c;

 private:
  static void Attach(net_buffer* b, std::vector<char>& mem) {
    b->data = mem.data();
    b->read_offset = 0;
    b->write_offset = 0;
    b->capacity = static_cast<int32_t>(mem.size());
    b->array_index = -1;
  }
};
