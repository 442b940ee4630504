// Winsock 2 backend of the socket layer.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <errno.h>
#include <cstring>

#include "net/osdep_sys.h"

namespace {

bool to_native(SockOpt opt, int* level, int* name) {
  switch (opt) {
    case SockOpt::KeepAlive: *level = SOL_SOCKET; *name = SO_KEEPALIVE; return true;
    case SockOpt::ReuseAddr: *level = SOL_SOCKET; *name = SO_REUSEADDR; return true;
    case SockOpt::NoDelay: *level = IPPROTO_TCP; *name = TCP_NODELAY; return true;
    case SockOpt::SndBuf: *level = SOL_SOCKET; *name = SO_SNDBUF; return true;
    case SockOpt::SndLowat: *level = SOL_SOCKET; *name = SO_SNDLOWAT; return true;
  }
  return false;
}

SOCKET native(int s) { return static_cast<SOCKET>(static_cast<unsigned int>(s)); }

int handle_of(SOCKET s) { return s == INVALID_SOCKET ? -1 : static_cast<int>(s); }

sockaddr_in make_addr(const uint8_t addr[4], uint16_t port) {
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  std::memcpy(&sa.sin_addr, addr, 4);
  return sa;
}

}  // namespace

int sys_startup() {
  WSADATA data;
  return WSAStartup(0x0101, &data);
}

int sys_socket() { return handle_of(socket(AF_INET, SOCK_STREAM, 0)); }
int sys_close(int s) { return closesocket(native(s)); }
int sys_shutdown_both(int s) { return shutdown(native(s), SD_BOTH); }

int sys_set_nonblocking(int s) {
  u_long on = 1;
  return ioctlsocket(native(s), FIONBIO, &on) == 0 ? 0 : -1;
}

int sys_setsockopt_int(int s, SockOpt opt, int value) {
  int level = 0, name = 0;
  if (!to_native(opt, &level, &name)) return -1;
  return setsockopt(native(s), level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

int sys_getsockopt_int(int s, SockOpt opt, int* value) {
  int level = 0, name = 0;
  if (!to_native(opt, &level, &name)) return -1;
  int len = sizeof *value;
  return getsockopt(native(s), level, name, reinterpret_cast<char*>(value), &len);
}

uint32_t sys_inet_addr(const char* host) { return inet_addr(host); }

bool sys_gethostbyname(const char* host, uint8_t out[4]) {
  hostent* he = gethostbyname(host);
  if (he == nullptr || he->h_addr_list == nullptr || he->h_addr_list[0] == nullptr) return false;
  int n = he->h_length < 4 ? he->h_length : 4;
  std::memset(out, 0, 4);
  std::memcpy(out, he->h_addr_list[0], static_cast<size_t>(n));
  return true;
}

int sys_connect(int s, const uint8_t addr[4], uint16_t port) {
  sockaddr_in sa = make_addr(addr, port);
  if (connect(native(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return 0;
  return WSAGetLastError() == WSAEWOULDBLOCK ? 1 : -1;
}

int sys_getsockname(int s, uint8_t addr[4], uint16_t* port) {
  sockaddr_in sa;
  int len = sizeof sa;
  if (getsockname(native(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return -1;
  std::memcpy(addr, &sa.sin_addr, 4);
  *port = ntohs(sa.sin_port);
  return 0;
}

int sys_bind(int s, const uint8_t addr[4], uint16_t port) {
  sockaddr_in sa = make_addr(addr, port);
  return bind(native(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
}

int sys_listen(int s, int backlog) { return listen(native(s), backlog); }

int sys_accept(int s, uint8_t addr[4], uint16_t* port, bool* retry) {
  sockaddr_in sa;
  int len = sizeof sa;
  SOCKET fd = accept(native(s), reinterpret_cast<sockaddr*>(&sa), &len);
  if (fd == INVALID_SOCKET) {
    int e = WSAGetLastError();
    *retry = (e == WSAEWOULDBLOCK || e == WSAEINTR);
    return -1;
  }
  std::memcpy(addr, &sa.sin_addr, 4);
  *port = ntohs(sa.sin_port);
  return handle_of(fd);
}

int sys_pending_error(int s) {
  int err = 0;
  int len = sizeof err;
  if (getsockopt(native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0) return WSAGetLastError();
  return err;
}

int sys_recv(int s, void* buf, int len) {
  return recvfrom(native(s), static_cast<char*>(buf), len, 0, nullptr, nullptr);
}

int sys_send(int s, const void* buf, int len) { return send(native(s), static_cast<const char*>(buf), len, 0); }

int sys_poll(SysPollEntry* entries, int count, bool for_write, int32_t wait_usec, int width) {
  // Winsock refuses a select without any socket; nothing asked, nothing ready.
  if (count <= 0) return 0;
  fd_set set;
  fd_set failed;
  FD_ZERO(&set);
  FD_ZERO(&failed);
  for (int i = 0; i < count; ++i) {
    FD_SET(native(entries[i].handle), &set);
    if (for_write) FD_SET(native(entries[i].handle), &failed);
  }
  timeval tv;
  tv.tv_sec = 0;
  tv.tv_usec = for_write ? 0 : wait_usec;
  // Winsock reports a refused non-blocking connect only in the exception
  // set; it is folded into writability so the connect does not look
  // pending until the idle time-out.
  int r = for_write ? select(width, nullptr, &set, &failed, &tv) : select(width, &set, nullptr, nullptr, &tv);
  int ready = 0;
  for (int i = 0; i < count; ++i) {
    SOCKET h = native(entries[i].handle);
    entries[i].ready = r > 0 && (FD_ISSET(h, &set) || (for_write && FD_ISSET(h, &failed)));
    if (entries[i].ready) ++ready;
  }
  return r < 0 ? -1 : ready;
}

int sys_errno() { return errno; }
int sys_last_error() { return WSAGetLastError(); }
uint32_t sys_process_id() { return static_cast<uint32_t>(GetCurrentProcessId()); }
