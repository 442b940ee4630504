// TCP contexts: creation, connect, accept, release.
#include "net/tcp.h"

#include <cstdio>
#include <cstring>

#include "net/array.h"
#include "net/cipher_hook.h"
#include "net/core.h"
#include "net/osdep.h"
#include "net/state.h"
#include "net/vec.h"

namespace {

constexpr int32_t kDefaultHiwaterMark = 999999999;

uint16_t host_port(const tcpcontext* ctx) { return static_cast<uint16_t>((ctx->port >> 8) | (ctx->port << 8)); }

uint16_t to_network(uint16_t port) { return static_cast<uint16_t>((port >> 8) | (port << 8)); }

bool is_context(const tcpcontext* ctx) {
  return ctx != nullptr && g_net.tcpctx_array >= 0 && net_array_index(g_net.tcpctx_array, ctx) >= 0;
}

void end_arrays(tcpcontext* ctx) {
  net_tcpcontext_disable_circuits(ctx);
  for (int32_t& index : ctx->buffer_arrays) {
    if (index >= 0) net_end_array(index);
    index = -1;
  }
  if (ctx->state_buffer_array >= 0) net_end_array(ctx->state_buffer_array);
  ctx->state_buffer_array = -1;
}

tcpcontext* fail_create(tcpcontext* ctx, int code) {
  end_arrays(ctx);
  if (ctx->listen_socket >= 0) net_socket_close(ctx->listen_socket);
  ctx->listen_socket = -1;
  net_array_free(g_net.tcpctx_array, ctx);
  net_fail(code);
  return nullptr;
}

// Chooses the coders for the cipher flags; 0 or the refusal code.
int choose_coders(tcpcontext* ctx, uint32_t flags, int32_t key_length) {
  if (flags & NET_CIPHER_BLOWFISH) {
    ctx->decoder = net_decode_blowfish;
    ctx->encoder = net_encode_blowfish;
  } else if (flags & NET_CIPHER_RIJNDAEL) {
    ctx->decoder = net_decode_rijndael;
    ctx->encoder = net_encode_rijndael;
  } else if (flags & NET_CIPHER_TWOFISH) {
    net_log_important("Fatal: Twofish algorithm is not supported now\n");
    return NET_ERR_BAD_PREFIX;
  } else {
    ctx->decoder = net_decode_plain;
    ctx->encoder = net_encode_plain;
  }
  bool key_ok = true;
  if (flags & NET_CIPHER_BLOWFISH)
    key_ok = key_length >= 4 && key_length <= 56;
  else if (flags & (NET_CIPHER_RIJNDAEL | NET_CIPHER_TWOFISH))
    key_ok = key_length == 16 || key_length == 24 || key_length == 32;
  if (!key_ok) {
    net_log_important("Fatal:1201 tcp: bad secret key length: %d\n", key_length);
    return NET_ERR_KEY_LENGTH;
  }
  bool only_recv = flags & NET_BLOCK_CIPHER_ONLY_RECV;
  bool only_send = flags & NET_BLOCK_CIPHER_ONLY_SEND;
  if (only_recv && only_send) {
    net_log_important(
        "Fatal: cannot use NET_BLOCK_CIPHER_ONLY_RECV and NET_BLOCK_CIPHER_ONLY_SEND at the same time\n");
    return NET_ERR_INVALID;
  }
  if (only_recv) ctx->encoder = net_encode_plain;
  if (only_send) ctx->decoder = net_decode_plain;
  if (flags != 0 && !net_cipher_available()) {
    net_log_important("Fatal: encryption is not available in this build\n");
    return NET_ERR_BAD_PREFIX;
  }
  return 0;
}

int open_listener(tcpcontext* ctx, const char* bind_host, uint16_t port) {
  const char* addr_text = bind_host != nullptr ? bind_host : "*";
  int s = net_socket_create();
  if (s < 0) {
    net_log_important("Fatal:1204 socket() fail addr:%s port:%d os_err:%s\n", addr_text, port,
                      net_socket_error_text());
    return NET_ERR_SOCKET;
  }
  ctx->listen_socket = s;
  if (net_socket_set_reuseaddr(s) < 0) {
    net_log_important("Fatal:1277 setsockopt(SO_REUSEADDR) fail:%s\n", net_socket_error_text());
    return NET_ERR_SOCKOPT;
  }
  if (net_socket_set_keepalive(s) < 0)
    net_log_verbose("warning: net_socket_set_keepalive fail (%s)\n", net_socket_error_text());
  if (net_socket_bind(s, bind_host, port) < 0) {
    net_log_important("Fatal:1207 bind() error. os_err:%s addr:%s port:%d\n", net_socket_error_text(), addr_text,
                      port);
    return NET_ERR_BIND;
  }
  uint8_t local[16];
  int32_t local_len = 0;
  uint16_t bound = port;
  if (net_socket_local_name(s, local, &local_len, &bound) < 0) bound = port;
  ctx->port = to_network(bound);
  net_log_verbose("net_tcpcontext bound to local port %d\n", bound);
  if (net_socket_listen(s) != 0) {
    net_log_important("Fatal:1208 listen() error. os_err:%s addr:%s port:%d\n", net_socket_error_text(), addr_text,
                      port);
    return NET_ERR_LISTEN;
  }
  // Accept runs only on readability, but a peer that gives up in between
  // must not leave accept() waiting inside the heartbeat.
  if (net_socket_set_nonblocking(s) < 0) return NET_ERR_SOCKOPT;
  if (net_set_so_sndbuf(s) < 0) net_log_verbose("net_tcpcontext_create warning: cannot set SNDBUF size. ignoring.\n");
  return 0;
}

int create_array(int32_t size, int32_t count, const char* format, uint16_t port) {
  char name[32];
  std::snprintf(name, sizeof name, format, port);
  return init_array(static_cast<uint32_t>(size), count, name);
}

}  // namespace

tcpcontext* net_tcpcontext_create(int server, const char* bind_host, uint16_t port, int32_t max_conn,
                                  int32_t read_buffer_size, int32_t write_buffer_size, int32_t timeout_sec,
                                  uint32_t cipher_flags, int32_t key_length, int nonblocking_connect, int nodelay,
                                  int32_t state_buffer_size) {
  // Sizes that cannot make arrays are refused before anything is taken.
  if (max_conn <= 0 || read_buffer_size <= 0 || write_buffer_size <= 0 || state_buffer_size < 0 ||
      read_buffer_size > 0x7FFFFFF0 - 8 || write_buffer_size > 0x7FFFFFF0 - 8) {
    net_fail(NET_ERR_INVALID);
    return nullptr;
  }
  tcpcontext* ctx = static_cast<tcpcontext*>(net_array_alloc(g_net.tcpctx_array));
  if (ctx == nullptr) return nullptr;
  std::memset(ctx, 0, sizeof *ctx);
  ctx->server = server ? 1 : 0;
  ctx->timeout = timeout_sec;
  ctx->cipher_flags = cipher_flags;
  ctx->key_length = key_length;
  ctx->max_conn = max_conn;
  ctx->read_buffer_size = read_buffer_size;
  ctx->write_buffer_size = write_buffer_size;
  ctx->state_buffer_size = state_buffer_size;
  ctx->state_buffer_array = -1;
  for (int32_t& index : ctx->buffer_arrays) index = -1;
  ctx->port = server ? to_network(port) : 0;
  ctx->listen_socket = -1;
  ctx->index = net_array_index(g_net.tcpctx_array, ctx);
  ctx->nonblocking_connect = nonblocking_connect ? 1 : 0;
  ctx->nodelay = nodelay ? 1 : 0;
  ctx->hiwater_mark = kDefaultHiwaterMark;
  ctx->circuit_array = ctx->circuit_queue_array = ctx->circuit_state_array = -1;
  ctx->circuit_hashtable = -1;
  ctx->parse_passes = 1;

  int r = choose_coders(ctx, cipher_flags, key_length);
  if (r < 0) return fail_create(ctx, r);
  if (ctx->server) {
    r = open_listener(ctx, bind_host, port);
    if (r < 0) return fail_create(ctx, r);
  }

  uint16_t name_port = host_port(ctx);
  if (state_buffer_size != 0) {
    ctx->state_buffer_array = create_array(state_buffer_size, max_conn, "stateb%d", name_port);
    if (ctx->state_buffer_array < 0) {
      ctx->state_buffer_array = -1;
      net_log_important("Fatal:1265 Memory shortage when creating tcpcontext state buffer\n");
      return fail_create(ctx, NET_ERR_INIT_ARRAY);
    }
    net_log_verbose("Note:10345 net_tcpcontext_create could allocate state buffer.\n");
  }
  struct {
    int slot;
    int32_t size;
    const char* format;
  } queues[] = {
      {NET_BUF_RB, read_buffer_size, "rb%d"},
      {NET_BUF_ERB, read_buffer_size + 8, "erb%d"},
      {NET_BUF_WB, write_buffer_size, "wb%d"},
      {NET_BUF_EWB, write_buffer_size + 8, "ewb%d"},
  };
  for (const auto& q : queues) {
    int index = create_array(q.size, max_conn, q.format, name_port);
    if (index < 0) return fail_create(ctx, NET_ERR_INIT_ARRAY);
    ctx->buffer_arrays[q.slot] = index;
  }
  net_succeed();
  return ctx;
}

void net_tcpcontext_set_conn_parser(tcpcontext* ctx, net_parser_fn parser, net_record_handler_fn handler) {
  if (!is_context(ctx)) {
    net_fail(NET_ERR_INVALID);
    return;
  }
  ctx->parser = parser;
  ctx->record_handler = handler;
  net_succeed();
}

void net_tcpcontext_set_conn_closewatcher(tcpcontext* ctx, net_closewatcher_fn watcher) {
  if (!is_context(ctx)) {
    net_fail(NET_ERR_INVALID);
    return;
  }
  ctx->close_watcher = watcher;
  net_succeed();
}

void net_tcpcontext_set_conn_finalizer(tcpcontext* ctx, net_finalizer_fn finalizer) {
  if (!is_context(ctx)) {
    net_fail(NET_ERR_INVALID);
    return;
  }
  ctx->finalizer = finalizer;
  net_succeed();
}

void net_tcpcontext_set_parse_passes(tcpcontext* ctx, int32_t passes) {
  if (!is_context(ctx) || passes < 1) {
    net_fail(NET_ERR_INVALID);
    return;
  }
  ctx->parse_passes = passes;
  net_succeed();
}

void net_tcpcontext_set_accept_watcher(tcpcontext* ctx, net_acceptwatcher_fn watcher) {
  if (!is_context(ctx)) {
    net_fail(NET_ERR_INVALID);
    return;
  }
  ctx->accept_watcher = watcher;
  net_succeed();
}

void net_tcpcontext_set_hiwater_accept_watcher(tcpcontext* ctx, net_acceptwatcher_fn watcher, int32_t mark) {
  if (!is_context(ctx)) {
    net_fail(NET_ERR_INVALID);
    return;
  }
  ctx->hiwater_accept_watcher = watcher;
  ctx->hiwater_mark = mark;
  net_succeed();
}

uint16_t net_tcpcontext_local_port(const tcpcontext* ctx) { return is_context(ctx) ? host_port(ctx) : 0; }

conn_t net_tcpcontext_connect(tcpcontext* ctx, const char* host, uint16_t port) {
  const conn_t null_handle{nullptr, 0};
  if (!is_context(ctx) || host == nullptr) {
    net_fail(NET_ERR_INVALID);
    return null_handle;
  }
  int s = net_socket_create();
  if (s < 0) return null_handle;
  if (ctx->nonblocking_connect && net_socket_set_nonblocking(s) < 0) {
    net_socket_close(s);
    net_fail(NET_ERR_SOCKOPT);
    return null_handle;
  }
  if (net_socket_set_keepalive(s) < 0) net_log_important("warning: failed to set KEEPALIVE socket option\n");
  if (ctx->conn_in_use >= ctx->max_conn) {
    net_socket_close(s);
    net_log_important("error: cannot over max conn, conn_in_use=%d, max_conn=%d\n", ctx->conn_in_use,
                      ctx->max_conn);
    net_fail(NET_ERR_NOROOM);
    return null_handle;
  }
  uint8_t remote[16], local[16];
  int32_t remote_len = 0, local_len = 0;
  uint16_t local_port = 0;
  int r = net_socket_connect(s, host, port, remote, &remote_len, local, &local_len, &local_port);
  if (r < 0) {
    // A failed connect closed the socket already; a failed resolve did not.
    if (r != NET_ERR_CONNECT) net_socket_close(s);
    net_log_verbose("tcp.c : connect: returning null_ct %p, %d\n", static_cast<void*>(nullptr), 0);
    net_fail(NET_ERR_CONNECT);
    return null_handle;
  }
  net_log_verbose("Note:10202 connect ok on %d\n", s);
  // The heartbeat must never block on this socket, even when the connect
  // itself was allowed to wait.
  if (!ctx->nonblocking_connect) net_socket_set_nonblocking(s);

  net_conn* c = g_net.conn_array >= 0 ? static_cast<net_conn*>(net_array_alloc(g_net.conn_array)) : nullptr;
  if (c == nullptr) {
    net_socket_close(s);
    net_fail(NET_ERR_NOROOM);
    return null_handle;
  }
  r = net_conn_setup(c, ctx, s, 0);
  if (r < 0) {
    net_socket_close(s);
    net_fail(r);
    return null_handle;
  }
  std::memcpy(c->remote_addr, remote, sizeof remote);
  c->remote_addr_len = remote_len;
  c->remote_port = port;
  std::memcpy(c->local_addr, local, sizeof local);
  c->local_addr_len = local_len;
  c->local_port = local_port;

  if (ctx->nodelay && net_socket_set_nodelay(s) < 0) {
    net_log_verbose("Fatal:1213 setsockopt() fail: %s\n", net_socket_error_text());
    net_conn_discard(c);
    net_fail(NET_ERR_SOCKOPT);
    return null_handle;
  }
  if (net_set_so_sndbuf(s) < 0) net_log_verbose("tcpcontext_connect: cannot set so_sndbuf. ignoring.\n");
  if (net_set_so_sndlowat(s) < 0) net_log_verbose("tcpcontext_connect: cannot set so_sndlowat. ignoring.\n");
  if (c->cipher_flags != 0) {
    r = keyex_start_client(c);
    if (r < 0) {
      net_log_important("Fatal:1214 keyex_start_client fail on fd:%d\n", s);
      net_conn_discard(c);
      net_fail(r);
      return null_handle;
    }
  }
  net_succeed();
  return net_conn_handle(c);
}

void net_conn_close_tcpcontext_all(tcpcontext* ctx) {
  if (ctx == nullptr || g_net.conn_array < 0) return;
  int visited = 0;
  for (void* e = net_array_first(g_net.conn_array); e != nullptr; e = net_array_next(g_net.conn_array, e)) {
    net_conn* c = static_cast<net_conn*>(e);
    if (c->context != ctx) continue;
    net_conn_close(net_conn_handle(c));
    net_log_verbose("net_conn_close_tcpcontext_all: closed serial %d\n", c->serial);
    ++visited;
  }
  net_log_verbose("net_conn_close_tcpcontext_all: closed %d connections\n", visited);
}

void net_tcpcontext_release(tcpcontext* ctx) {
  if (!is_context(ctx)) {
    net_fail(NET_ERR_INVALID);
    return;
  }
  net_conn_close_tcpcontext_all(ctx);
  // Connections cannot outlive the buffers about to be ended: a heartbeat
  // would otherwise work on freed queues. They go without notice.
  if (g_net.conn_array >= 0) {
    for (void* e = net_array_first(g_net.conn_array); e != nullptr;) {
      net_conn* c = static_cast<net_conn*>(e);
      e = net_array_next(g_net.conn_array, e);
      if (c->context == ctx) net_conn_free(c, 0, NET_CLOSE_NONE);
    }
  }
  if (ctx->server && ctx->listen_socket >= 0) net_socket_close(ctx->listen_socket);
  ctx->listen_socket = -1;
  end_arrays(ctx);
  net_array_free(g_net.tcpctx_array, ctx);
  net_succeed();
}

int net_tcpcontext_add_ipfilter(tcpcontext* ctx, uint32_t addr, uint32_t mask, uint32_t flags) {
  if (!is_context(ctx)) return net_fail(NET_ERR_INVALID);
  if (ctx->ipfilter_count >= NET_IPFILTER_MAX) return net_fail(NET_ERR_NOROOM);
  ctx->ipfilter[ctx->ipfilter_count++] = net_ipfilter_entry{addr, mask, flags};
  return net_fail(NET_OK);
}

int net_ipv4filter_check(const tcpcontext* ctx, uint32_t addr) {
  if (ctx->ipfilter_count == 0) return 1;
  for (int i = 0; i < ctx->ipfilter_count; ++i) {
    const net_ipfilter_entry& e = ctx->ipfilter[i];
    if (!(e.flags & NET_IPFILTER_ACCEPT) || (addr & e.mask) != (e.addr & e.mask)) continue;
    if (e.flags & NET_IPFILTER_LOG) {
      uint8_t b[4] = {static_cast<uint8_t>(addr >> 24), static_cast<uint8_t>(addr >> 16),
                      static_cast<uint8_t>(addr >> 8), static_cast<uint8_t>(addr)};
      char text[16];
      net_format_ipv4(b, 4, text);
      net_log_important("IP filter: ACCEPT %s %08x\n", text, addr);
    }
    return 1;
  }
  net_log_verbose("ipv4filter_check: no match: %08x\n", addr);
  return 0;
}

void net_tcpcontext_accept(tcpcontext* ctx) {
  uint8_t remote[16], local[16];
  int32_t remote_len = 0, local_len = 0;
  uint16_t remote_port = 0, local_port = 0;
  int s = net_socket_accept(ctx->listen_socket, remote, sizeof remote, &remote_len, &remote_port, local, &local_len,
                            &local_port);
  if (s < 0) return;
  if (ctx->conn_in_use >= ctx->max_conn) {
    net_log_verbose("Warning:4225 net_tcpcontext_create: reached max connection num %d\n", ctx->max_conn);
    net_socket_close(s);
    return;
  }
  uint32_t addr = static_cast<uint32_t>(remote[0]) << 24 | static_cast<uint32_t>(remote[1]) << 16 |
                  static_cast<uint32_t>(remote[2]) << 8 | remote[3];
  if (!net_ipv4filter_check(ctx, addr)) {
    net_socket_close(s);
    return;
  }
  net_conn* c = g_net.conn_array >= 0 ? static_cast<net_conn*>(net_array_alloc(g_net.conn_array)) : nullptr;
  if (c == nullptr) {
    net_socket_close(s);
    return;
  }
  if (net_conn_setup(c, ctx, s, 1) < 0) {
    net_socket_close(s);
    return;
  }
  std::memcpy(c->remote_addr, remote, sizeof remote);
  c->remote_addr_len = remote_len;
  c->remote_port = remote_port;
  std::memcpy(c->local_addr, local, sizeof local);
  c->local_addr_len = local_len;
  c->local_port = local_port;
  net_socket_set_nonblocking(s);
  if (net_socket_set_keepalive(s) < 0) net_log_important("warning: failed to set KEEPALIVE socket option\n");
  if (ctx->nodelay && net_socket_set_nodelay(s) < 0) {
    net_log_verbose("Fatal:1213 setsockopt() fail: %s\n", net_socket_error_text());
    net_conn_discard(c);
    return;
  }
  if (net_set_so_sndbuf(s) < 0) net_log_verbose("tcpcontext_connect: cannot set so_sndbuf. ignoring.\n");
  // With a cipher, the watcher runs once the key exchange is done.
  if (c->cipher_flags != 0) return;
  net_acceptwatcher_fn watcher = c->accept_watcher;
  if (c->hiwater_accept_watcher != nullptr && ctx->conn_in_use >= ctx->hiwater_mark - 1)
    watcher = c->hiwater_accept_watcher;
  if (watcher != nullptr && watcher(net_conn_handle(c)) < 0) net_conn_free(c, 0, NET_CLOSE_NONE);
}
