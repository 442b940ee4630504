// Socket layer: fixed arguments, option values, failure codes and log lines
// over the backend's raw calls (osdep_posix.cpp / osdep_win32.cpp).
#include "net/osdep.h"

#include <cstdio>
#include <cstring>

#include "net/conn.h"
#include "net/core.h"
#include "net/osdep_sys.h"
#include "net/state.h"

namespace {

constexpr int kSndBufTarget = 32768;
constexpr int kSndLowatTarget = 16384;

struct FdSet {
  SysPollEntry entries[NET_FDSET_MAX];
  int count;
};

FdSet g_read_set;
FdSet g_write_set;
int32_t g_wait_usec = 0;
char g_error_text[64];

void fdset_add(FdSet& set, int s) {
  for (int i = 0; i < set.count; ++i)
    if (set.entries[i].handle == s) return;
  if (set.count >= NET_FDSET_MAX) return;
  set.entries[set.count].handle = s;
  set.entries[set.count].ready = false;
  ++set.count;
}

int fdset_ready(const FdSet& set, int s) {
  for (int i = 0; i < set.count; ++i)
    if (set.entries[i].handle == s) return set.entries[i].ready ? 1 : 0;
  return 0;
}

}  // namespace

int net_socket_startup() {
  if (sys_startup() != 0) {
    net_log_important("Fatal:1000 cannot initialize winsock\n");
    return net_fail(NET_ERR_STARTUP);
  }
  return net_fail(NET_OK);
}

int net_socket_cleanup() { return 0; }

int net_socket_create() {
  int s = sys_socket();
  if (s < 0) return net_fail(NET_ERR_SOCKET);
  net_succeed();
  return s;
}

int net_socket_close(int s) { return sys_close(s); }
int net_socket_shutdown(int s) { return sys_shutdown_both(s); }

int net_socket_set_nonblocking(int s) {
  if (sys_set_nonblocking(s) != 0) {
    net_log_important("osdep.c: cannot ioctlsocket for FIONBIO\n");
    return net_fail(NET_ERR_NONBLOCK);
  }
  return net_fail(NET_OK);
}

static int set_flag_option(int s, SockOpt opt) {
  return net_fail(sys_setsockopt_int(s, opt, 1) == 0 ? NET_OK : NET_ERR_SOCKOPT);
}

int net_socket_set_keepalive(int s) { return set_flag_option(s, SockOpt::KeepAlive); }
int net_socket_set_reuseaddr(int s) { return set_flag_option(s, SockOpt::ReuseAddr); }
int net_socket_set_nodelay(int s) { return set_flag_option(s, SockOpt::NoDelay); }

int net_set_so_sndbuf(int s) {
  int value = 0;
  if (sys_getsockopt_int(s, SockOpt::SndBuf, &value) != 0) {
    net_log_important("net_set_so_sndbuf: cannot getsockopt():%s\n", std::strerror(sys_errno()));
    return -1;
  }
  if (value >= kSndBufTarget) {
    net_log_verbose("net_set_so_sndbuf: SO_SNDBUF is set %d. desired:%d\n", value, kSndBufTarget);
    return 0;
  }
  if (sys_setsockopt_int(s, SockOpt::SndBuf, kSndBufTarget) != 0) {
    net_log_verbose("net_set_so_sndbuf: cannot setsockopt():%s\n", std::strerror(sys_errno()));
    return -1;
  }
  if (sys_getsockopt_int(s, SockOpt::SndBuf, &value) != 0) {
    net_log_important("net_set_so_sndbuf: cannot getsockopt():%s\n", std::strerror(sys_errno()));
    return -1;
  }
  if (value < kSndBufTarget) {
    net_log_important("net_set_so_sndbuf: cannot set SO_SNDBUF to %d ( now %d )\n", kSndBufTarget, value);
    return -1;
  }
  net_log_verbose("net_set_so_sndbuf: SO_SNDBUF is set %d. desired:%d\n", value, kSndBufTarget);
  return 0;
}

int net_set_so_sndlowat(int s) {
  if (sys_setsockopt_int(s, SockOpt::SndLowat, kSndLowatTarget) != 0) {
    net_log_verbose("cannot setsockopt(SO_SNDLOWAT):%s\n", std::strerror(sys_errno()));
    return -1;
  }
  int value = 0;
  if (sys_getsockopt_int(s, SockOpt::SndLowat, &value) != 0) {
    net_log_important("cannot getsockopt(SO_SNDLOWAT):%s\n", std::strerror(sys_errno()));
    return -1;
  }
  if (value < kSndLowatTarget) {
    net_log_important("cannot set SO_SNDLOWAT to %d\n", kSndLowatTarget);
    return -1;
  }
  return 0;
}

int net_resolve_ipv4(const char* host, uint8_t out[4]) {
  if (host == nullptr) return net_fail(NET_ERR_RESOLVE);
  uint32_t a = sys_inet_addr(host);
  if (a != 0xFFFFFFFFu) {
    std::memcpy(out, &a, 4);
    return net_fail(NET_OK);
  }
  if (!sys_gethostbyname(host, out)) {
    net_log_important("Fatal:1260 win32 fatal: gethostbyname() error:%s\n", host);
    return net_fail(NET_ERR_RESOLVE);
  }
  return net_fail(NET_OK);
}

int net_socket_connect(int s, const char* host, uint16_t port, uint8_t remote[16], int32_t* remote_len,
                       uint8_t local[16], int32_t* local_len, uint16_t* local_port) {
  uint8_t addr[4];
  int r = net_resolve_ipv4(host, addr);
  if (r < 0) return r;
  if (sys_connect(s, addr, port) < 0) {
    sys_close(s);
    return net_fail(NET_ERR_CONNECT);
  }
  std::memcpy(remote, addr, 4);
  *remote_len = 4;
  uint16_t lport = 0;
  if (sys_getsockname(s, local, &lport) != 0) {
    net_log_verbose("Warning: getosockname() fail(connect):%d\n", sys_errno());
    *local_len = 0;
    *local_port = 0;
  } else {
    *local_len = 4;
    *local_port = lport;
  }
  return net_fail(NET_OK);
}

int net_socket_local_name(int s, uint8_t addr[16], int32_t* addr_len, uint16_t* port) {
  if (sys_getsockname(s, addr, port) != 0) {
    net_log_verbose("Warning: getsockname() fail: %d\n", sys_errno());
    *addr_len = 0;
    *port = 0;
    return -1;
  }
  *addr_len = 4;
  return 0;
}

int net_socket_bind(int s, const char* host, uint16_t port) {
  uint8_t addr[4] = {0, 0, 0, 0};
  if (host != nullptr && net_resolve_ipv4(host, addr) < 0) return net_fail(NET_ERR_BIND);
  if (sys_bind(s, addr, port) != 0) return net_fail(NET_ERR_BIND);
  return net_fail(NET_OK);
}

int net_socket_listen(int s) { return sys_listen(s, 5); }

int net_socket_accept(int s, uint8_t* remote, int remote_capacity, int32_t* remote_len, uint16_t* remote_port,
                      uint8_t local[16], int32_t* local_len, uint16_t* local_port) {
  if (remote_capacity < 4) return net_fail(NET_ERR_TRUNCATED);
  uint8_t addr[4];
  uint16_t port = 0;
  bool retry = false;
  int fd = sys_accept(s, addr, &port, &retry);
  if (fd < 0) {
    if (!retry) {
      uint8_t laddr[16];
      int32_t llen = 0;
      uint16_t lport = 0;
      net_socket_local_name(s, laddr, &llen, &lport);
      net_log_verbose("Warning:4101 tcp: accept() error. os_err:%s port:%d\n", net_socket_error_text(), lport);
    }
    return net_fail(NET_ERR_ACCEPT);
  }
  std::memcpy(remote, addr, 4);
  *remote_len = 4;
  *remote_port = port;
  net_socket_local_name(fd, local, local_len, local_port);
  net_succeed();
  return fd;
}

int net_socket_connect_failed(int s) { return sys_pending_error(s) != 0 ? 1 : 0; }
int net_socket_recv(int s, void* buf, int len) { return sys_recv(s, buf, len); }
int net_socket_send(int s, const void* buf, int len) { return sys_send(s, buf, len); }

void net_fdset_clear() {
  g_read_set.count = 0;
  g_write_set.count = 0;
}

void net_fdset_add_read(int s) { fdset_add(g_read_set, s); }
void net_fdset_add_write(int s) { fdset_add(g_write_set, s); }
int net_fdset_read_count() { return g_read_set.count; }
int net_fdset_write_count() { return g_write_set.count; }

void net_socket_wait(int width, int* read_ready, int* write_ready) {
  *read_ready = sys_poll(g_read_set.entries, g_read_set.count, false, g_wait_usec, width);
  *write_ready = sys_poll(g_write_set.entries, g_write_set.count, true, 0, width);
}

int net_socket_is_readable(int s) { return fdset_ready(g_read_set, s); }
int net_socket_is_writable(int s) { return fdset_ready(g_write_set, s); }
void net_socket_set_wait_usec(int32_t usec) { g_wait_usec = usec < 0 ? 0 : usec; }

const char* net_socket_error_text() {
  std::snprintf(g_error_text, sizeof g_error_text, "errno:'%s' WSAGetLastError:%d", std::strerror(sys_errno()),
                sys_last_error());
  return g_error_text;
}

void net_format_ipv4(const uint8_t* addr, int32_t len, char* buf) {
  if (len != 4) {
    std::strcpy(buf, "ERROR");
    return;
  }
  std::snprintf(buf, 16, "%d.%d.%d.%d", addr[0], addr[1], addr[2], addr[3]);
}

void net_format_ipv6(const uint8_t* addr, int32_t len, char* buf) {
  if (len != 16) {
    std::strcpy(buf, "ERROR");
    return;
  }
  unsigned g[8];
  for (int i = 0; i < 8; ++i) g[i] = static_cast<unsigned>(addr[2 * i] << 8 | addr[2 * i + 1]);
  std::snprintf(buf, 40, "%x:%x:%x:%x:%x:%x:%x:%x", g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7]);
}

const char* net_format_peer(const net_conn* c, char* buf, int len) {
  char addr[40];
  if (c->remote_addr_len == 4) {
    if (len < 32) {
      net_fail(NET_ERR_TRUNCATED);
      return nullptr;
    }
    net_format_ipv4(c->remote_addr, 4, addr);
  } else if (c->remote_addr_len == 16) {
    if (len < 50) {
      net_fail(NET_ERR_TRUNCATED);
      return nullptr;
    }
    net_format_ipv6(c->remote_addr, 16, addr);
  } else {
    net_fail(NET_ERR_INVALID);
    return nullptr;
  }
  std::snprintf(buf, static_cast<size_t>(len), "%s:%d", addr, c->remote_port);
  net_succeed();
  return buf;
}

uint32_t net_process_id() { return sys_process_id(); }
