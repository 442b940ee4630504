// Connections: byte queues, handles, writer-side entry points, the I/O step
// and the release path.
#include "net/conn.h"

#include <cstring>

#include "net/array.h"
#include "net/cipher_hook.h"
#include "net/core.h"
#include "net/osdep.h"
#include "net/state.h"

// ---------------------------------------------------------------------------
// Byte queues

int net_buffer_init(net_buffer* b, int array_index) {
  b->data = nullptr;
  b->read_offset = 0;
  b->write_offset = 0;
  b->capacity = 0;
  b->array_index = array_index;
  void* e = net_array_alloc(array_index);
  if (e == nullptr) return net_last_error();
  b->data = static_cast<char*>(e);
  b->capacity = net_array_element_size(array_index);
  return 0;
}

void net_buffer_release(net_buffer* b) {
  if (b->data == nullptr) return;
  net_array_free(b->array_index, b->data);
  b->data = nullptr;
  b->read_offset = 0;
  b->write_offset = 0;
}

int net_buffer_append(net_buffer* b, const void* bytes, int n) {
  if (n < 0) return NET_ERR_INVALID;
  if (b->capacity - b->write_offset < n) {
    int used = net_buffer_used(b);
    if (used > 0 && b->read_offset > 0) std::memmove(b->data, b->data + b->read_offset, static_cast<size_t>(used));
    b->read_offset = 0;
    b->write_offset = used;
    if (b->capacity - b->write_offset < n) return NET_ERR_NOROOM;
  }
  if (n > 0) std::memcpy(b->data + b->write_offset, bytes, static_cast<size_t>(n));
  b->write_offset += n;
  return n;
}

int net_buffer_consume(net_buffer* b, void* dest, int n) {
  int used = net_buffer_used(b);
  if (used == 0 || n <= 0) return 0;
  int take = n < used ? n : used;
  if (dest != nullptr) std::memcpy(dest, b->data + b->read_offset, static_cast<size_t>(take));
  b->read_offset += take;
  if (b->read_offset == b->write_offset) b->read_offset = b->write_offset = 0;
  return take;
}

// ---------------------------------------------------------------------------
// Handles

namespace {

bool is_conn_element(const net_conn* p) {
  return g_net.conn_array >= 0 && net_array_index(g_net.conn_array, p) >= 0;
}

// The record of a valid handle, or null.
net_conn* conn_of(conn_t h) {
  if (h.ptr == nullptr || h.serial == 0) return nullptr;
  int saved = net_last_error();
  bool element = is_conn_element(h.ptr);
  net_fail(saved);
  if (!element) {
    net_log_verbose("conn.c : bad pointer %p\n", static_cast<void*>(h.ptr));
    return nullptr;
  }
  return h.ptr->serial == h.serial ? h.ptr : nullptr;
}

bool awaiting_keyex(const net_conn* c) { return c->cipher_flags != 0 && c->keyex_state != NET_KEYEX_DONE; }

bool awaiting_connect(const net_conn* c) { return c->context->nonblocking_connect && !c->connected; }

// Returns everything the record holds to its arrays and closes its socket;
// no callbacks.
void release_resources(net_conn* c) {
  if (c->socket >= 0) {
    net_socket_shutdown(c->socket);
    net_socket_close(c->socket);
    c->socket = -1;
  }
  net_buffer_release(&c->rb);
  net_buffer_release(&c->wb);
  net_buffer_release(&c->erb);
  net_buffer_release(&c->ewb);
  c->serial = 0;
  net_array_free(g_net.conn_array, c);
  net_conn_cipher_release(c);
  if (c->state_buffer != nullptr) {
    net_array_free(c->state_buffer_array, c->state_buffer);
    c->state_buffer = nullptr;
    net_log_verbose("Note:10347 freed state buffer for conn\n");
  }
  if (c->context != nullptr) --c->context->conn_in_use;
  --g_net.conn_count;
}

}  // namespace

void net_conn_release_for(net_conn* c, int reason) {
  bool silent = awaiting_keyex(c) && (reason == NET_CLOSE_EOF || reason == NET_CLOSE_DRAINED);
  net_conn_free(c, silent ? 0 : 1, silent ? NET_CLOSE_NONE : reason);
}

namespace {

const char* peer_text(const net_conn* c, char* buf, int len) {
  const char* t = net_format_peer(c, buf, len);
  return t != nullptr ? t : "?";
}

}  // namespace

conn_t net_conn_handle(net_conn* c) { return conn_t{c, c != nullptr ? c->serial : 0}; }

int net_conn_valid(conn_t h) { return conn_of(h) != nullptr ? 1 : 0; }

void net_conn_reset_handle(conn_t* h) {
  if (h == nullptr) return;
  h->ptr = nullptr;
  h->serial = 0;
}

int net_conn_close(conn_t h) {
  net_conn* c = conn_of(h);
  if (c == nullptr) return net_fail(NET_ERR_INVALID);
  if (c->closed) {
    net_log_verbose("net_conn_close: already closed serial: %d\n", c->serial);
    return net_fail(NET_ERR_CLOSED);
  }
  c->closed = 1;
  return net_fail(NET_OK);
}

int net_conn_set_idle_timeout(conn_t h, int32_t seconds) {
  net_conn* c = conn_of(h);
  if (c == nullptr) {
    net_fail(NET_ERR_INVALID);
    return 0;
  }
  c->timeout = seconds;
  net_succeed();
  return 1;
}

int net_conn_write_room(conn_t h) {
  net_conn* c = conn_of(h);
  if (c == nullptr) return net_fail(NET_ERR_INVALID);
  net_succeed();
  if (awaiting_keyex(c) || awaiting_connect(c)) return 0;
  return net_buffer_room(&c->wb);
}

int net_conn_write(conn_t h, const void* bytes, int length) {
  net_conn* c = h.ptr;
  if (c == nullptr) return net_fail(NET_ERR_INVALID);
  if (bytes == nullptr || length <= 0) return net_fail(NET_ERR_INVALID);
  // A pointer that is not one of our records is never dereferenced.
  if (!is_conn_element(c)) return net_fail(NET_ERR_INVALID);
  if (c->serial != h.serial || h.serial == 0) return net_fail(NET_ERR_SERIAL);
  if (awaiting_keyex(c)) return net_fail(NET_ERR_NEGOTIATING);
  if (awaiting_connect(c)) return net_fail(NET_ERR_CONNECTING);
  if (c->closed) return net_fail(NET_ERR_WRITE_CLOSED);
  if (net_buffer_append(&c->wb, bytes, length) < 0) return net_fail(NET_ERR_NOROOM);
  net_succeed();
  return length;
}

void* net_conn_state_buffer(conn_t h, int32_t* size) {
  net_conn* c = conn_of(h);
  if (c == nullptr) {
    net_fail(NET_ERR_INVALID);
    return nullptr;
  }
  if (size != nullptr) *size = c->state_buffer_size;
  net_succeed();
  return c->state_buffer;
}

// ---------------------------------------------------------------------------
// Set-up and release

int32_t net_conn_next_serial() {
  int32_t next = static_cast<int32_t>(static_cast<uint32_t>(g_net.serial_counter) + 1u);
  if (next == 0) next = 1;
  g_net.serial_counter = next;
  return next;
}

int net_conn_setup(net_conn* c, tcpcontext* ctx, int s, int accepted) {
  // Elements keep their old bytes; start from a clean record.
  std::memset(c, 0, sizeof *c);
  c->socket = s;
  c->context = ctx;
  c->state_buffer_array = -1;
  ++g_net.conn_count;
  ++ctx->conn_in_use;

  if (ctx->state_buffer_array >= 0) {
    void* sb = net_array_alloc(ctx->state_buffer_array);
    if (sb == nullptr) {
      net_log_important("Bug:7112 connect: statebuf shortage\n");
      c->socket = -1;
      release_resources(c);
      return net_fail(NET_ERR_NOMEM);
    }
    std::memset(sb, 0, static_cast<size_t>(ctx->state_buffer_size));
    c->state_buffer = sb;
    c->state_buffer_size = ctx->state_buffer_size;
    c->state_buffer_array = ctx->state_buffer_array;
  }

  c->cipher_flags = ctx->cipher_flags;
  c->key_length = ctx->key_length;
  c->accepted = accepted;
  // An accepted socket is connected already; only our own connects wait.
  c->connected = accepted ? 1 : 0;
  c->decoder = ctx->decoder;
  c->parser = ctx->parser;
  c->encoder = ctx->encoder;
  c->accept_watcher = ctx->accept_watcher;
  c->hiwater_accept_watcher = ctx->hiwater_accept_watcher;
  c->close_watcher = ctx->close_watcher;
  c->record_handler = ctx->record_handler;
  net_clock_update();
  c->last_activity = g_net.now_sec;
  c->timeout = ctx->timeout;
  c->index = net_array_index(g_net.conn_array, c);
  c->keyex_state = 0;
  c->serial = net_conn_next_serial();
  c->parse_passes = ctx->parse_passes;

  net_buffer* queues[4] = {&c->rb, &c->wb, &c->erb, &c->ewb};
  for (net_buffer* q : queues) q->data = nullptr;
  for (int i = 0; i < 4; ++i) {
    if (net_buffer_init(queues[i], ctx->buffer_arrays[i]) < 0) {
      net_log_verbose("connect: cannot allocate send/recv buf\n");
      c->socket = -1;
      release_resources(c);
      return net_fail(NET_ERR_NOMEM);
    }
  }
  return net_fail(NET_OK);
}

void net_conn_discard(net_conn* c) {
  if (c != nullptr && c->serial != 0) release_resources(c);
}

void net_conn_free(net_conn* c, int notify, int reason) {
  if (c == nullptr || c->serial == 0) return;
  conn_t h = net_conn_handle(c);
  if (notify && c->close_watcher != nullptr) c->close_watcher(h, reason);
  // The watcher may have released the record already (it must not, but a
  // stale record is never released twice).
  if (c->serial != h.serial) return;
  tcpcontext* ctx = c->context;
  if (ctx != nullptr && ctx->finalizer != nullptr) {
    net_log_verbose("net_conn_free: calling finalizer serial: %d\n", c->serial);
    ctx->finalizer(h);
    if (c->serial != h.serial) return;
  }
  release_resources(c);
}

// ---------------------------------------------------------------------------
// Plain coders

int net_decode_plain(net_conn* c) {
  int n = net_buffer_room(&c->rb);
  if (n > NET_IO_CHUNK) n = NET_IO_CHUNK;
  int used = net_buffer_used(&c->erb);
  if (n > used) n = used;
  if (n <= 0) return 0;
  net_buffer_append(&c->rb, net_buffer_peek(&c->erb), n);
  net_buffer_consume(&c->erb, nullptr, n);
  return 0;
}

int net_encode_plain(net_conn* c) {
  int n = net_buffer_room(&c->ewb);
  if (n > NET_IO_CHUNK) n = NET_IO_CHUNK;
  int used = net_buffer_used(&c->wb);
  if (n > used) n = used;
  if (n <= 0) return 0;
  net_buffer_append(&c->ewb, net_buffer_peek(&c->wb), n);
  net_buffer_consume(&c->wb, nullptr, n);
  return 0;
}

// ---------------------------------------------------------------------------
// The I/O step

void net_conn_io(net_conn* c, int readable, int writable) {
  char peer[64];
  const int32_t serial = c->serial;
  if (serial == 0) return;

  if (readable && net_buffer_room(&c->erb) > 0) {
    char buf[NET_IO_CHUNK];
    int room = net_buffer_room(&c->erb);
    int r = net_socket_recv(c->socket, buf, room < NET_IO_CHUNK ? room : NET_IO_CHUNK);
    if (r <= 0) {
      if (r == 0)
        net_log_verbose("Note:10320 conn_t detected EOF on fd %d addr:%s\n", c->socket, peer_text(c, peer, sizeof peer));
      else
        net_log_verbose("Note:10321 conn_t detected read error on fd %d addr:%s\n", c->socket,
                        peer_text(c, peer, sizeof peer));
      net_conn_release_for(c, NET_CLOSE_EOF);
      return;
    }
    net_buffer_append(&c->erb, buf, r);
    c->last_activity = g_net.now_sec;
  }

  if (writable) {
    if (awaiting_connect(c)) {
      // Writability is how a non-blocking connect reports completion, of
      // a refused one too (Winsock tells that only this way).
      if (net_socket_connect_failed(c->socket)) {
        net_log_verbose("Note:10321 conn_t detected read error on fd %d addr:%s\n", c->socket,
                        peer_text(c, peer, sizeof peer));
        net_conn_release_for(c, NET_CLOSE_EOF);
        return;
      }
      c->connected = 1;
      net_socket_local_name(c->socket, c->local_addr, &c->local_addr_len, &c->local_port);
    } else if (net_buffer_used(&c->ewb) > 0) {
      int used = net_buffer_used(&c->ewb);
      int len = used < NET_IO_CHUNK ? used : NET_IO_CHUNK;
      int r = net_socket_send(c->socket, net_buffer_peek(&c->ewb), len);
      if (r <= 0) {
        const char* err = net_socket_error_text();
        net_log_verbose("conn.c: os error is '%s' writelen is %d\n", err, len);
        net_log_verbose("Note:10322 conn_t detected write error on fd %d (%s) addr:%s\n", c->socket, err,
                        peer_text(c, peer, sizeof peer));
        net_conn_release_for(c, NET_CLOSE_EOF);
        return;
      }
      net_buffer_consume(&c->ewb, nullptr, r);
    }
  }

  if (net_buffer_used(&c->erb) > 0) {
    if (awaiting_keyex(c)) {
      int r = c->accepted ? keyex_server_step(c) : keyex_client_step(c);
      if (r < 0) {
        net_log_verbose("Note:10323 conn_t detected encryption negotiation error on fd %d error code:%d\n", c->socket,
                        r);
        net_conn_free(c, 0, NET_CLOSE_NONE);
        return;
      }
    } else if (c->decoder != nullptr) {
      for (int i = 0; i < c->parse_passes + 1; ++i) {
        int r = c->decoder(c);
        if (r < 0) {
          net_log_verbose("Note:10324 conn_t detected decoding error on fd %d error code: %d\n", c->socket, r);
          net_conn_free(c, 1, NET_CLOSE_DECODE);
          return;
        }
      }
    }
  }

  if (net_buffer_used(&c->wb) > 0 && net_buffer_room(&c->ewb) >= net_buffer_used(&c->wb) + 8 &&
      c->encoder != nullptr) {
    int r = c->encoder(c);
    if (r < 0) {
      net_log_verbose("Note:10325 conn_t detected encoding error on fd %d error code: %d\n", c->socket, r);
      net_conn_free(c, 1, NET_CLOSE_ENCODE);
      return;
    }
  }

  if (net_buffer_used(&c->rb) > 0) {
    if (c->parser == nullptr) {
      net_log_verbose(
          "Warning:4300 net_conn_io: conn does not have parser function. use net_tcpcontext_set_conn_parser\n");
      return;
    }
    conn_t h = net_conn_handle(c);
    for (int i = 0; i < c->parse_passes; ++i) {
      int r = c->parser(h);
      if (c->serial != serial) return;  // released from inside a callback
      if (r < 0) {
        net_log_verbose("Note:10326 conn_t detected protocol error on fd %d error code: %d\n", c->socket, r);
        net_conn_free(c, 1, NET_CLOSE_PROTOCOL);
        return;
      }
      if (net_buffer_used(&c->rb) == 0) break;
    }
  }
}
