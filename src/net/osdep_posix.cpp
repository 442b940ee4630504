// BSD sockets backend of the socket layer.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

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
  // A peer that vanishes must give a send error, not kill the process.
  signal(SIGPIPE, SIG_IGN);
  return 0;
}

int sys_socket() { return socket(AF_INET, SOCK_STREAM, 0); }
int sys_close(int s) { return close(s); }
int sys_shutdown_both(int s) { return shutdown(s, SHUT_RDWR); }

int sys_set_nonblocking(int s) {
  int flags = fcntl(s, F_GETFL, 0);
  if (flags < 0) return -1;
  return fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0 ? -1 : 0;
}

int sys_setsockopt_int(int s, SockOpt opt, int value) {
  int level = 0, name = 0;
  if (!to_native(opt, &level, &name)) return -1;
  return setsockopt(s, level, name, &value, sizeof value);
}

int sys_getsockopt_int(int s, SockOpt opt, int* value) {
  int level = 0, name = 0;
  if (!to_native(opt, &level, &name)) return -1;
  socklen_t len = sizeof *value;
  return getsockopt(s, level, name, value, &len);
}

uint32_t sys_inet_addr(const char* host) { return inet_addr(host); }

bool sys_gethostbyname(const char* host, uint8_t out[4]) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &res) != 0 || res == nullptr) return false;
  const sockaddr_in* sa = reinterpret_cast<const sockaddr_in*>(res->ai_addr);
  std::memcpy(out, &sa->sin_addr, 4);
  freeaddrinfo(res);
  return true;
}

int sys_connect(int s, const uint8_t addr[4], uint16_t port) {
  sockaddr_in sa = make_addr(addr, port);
  if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return 0;
  return (errno == EINPROGRESS || errno == EWOULDBLOCK) ? 1 : -1;
}

int sys_getsockname(int s, uint8_t addr[4], uint16_t* port) {
  sockaddr_in sa;
  socklen_t len = sizeof sa;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return -1;
  std::memcpy(addr, &sa.sin_addr, 4);
  *port = ntohs(sa.sin_port);
  return 0;
}

int sys_bind(int s, const uint8_t addr[4], uint16_t port) {
  sockaddr_in sa = make_addr(addr, port);
  return bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
}

int sys_listen(int s, int backlog) { return listen(s, backlog); }

int sys_accept(int s, uint8_t addr[4], uint16_t* port, bool* retry) {
  sockaddr_in sa;
  socklen_t len = sizeof sa;
  int fd = accept(s, reinterpret_cast<sockaddr*>(&sa), &len);
  if (fd < 0) {
    *retry = (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
    return -1;
  }
  std::memcpy(addr, &sa.sin_addr, 4);
  *port = ntohs(sa.sin_port);
  return fd;
}

int sys_pending_error(int s) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

int sys_recv(int s, void* buf, int len) {
  return static_cast<int>(recvfrom(s, buf, static_cast<size_t>(len), 0, nullptr, nullptr));
}

int sys_send(int s, const void* buf, int len) {
  return static_cast<int>(send(s, buf, static_cast<size_t>(len), MSG_NOSIGNAL));
}

int sys_poll(SysPollEntry* entries, int count, bool for_write, int32_t wait_usec, int /*width*/) {
  // poll instead of select: descriptors above FD_SETSIZE are common on a
  // busy server and select cannot take them.
  if (count <= 0) return 0;
  pollfd fds[64];
  if (count > 64) count = 64;
  short want = for_write ? POLLOUT : POLLIN;
  for (int i = 0; i < count; ++i) {
    fds[i].fd = entries[i].handle;
    fds[i].events = want;
    fds[i].revents = 0;
  }
  int timeout_ms = (!for_write && wait_usec > 0) ? (wait_usec + 999) / 1000 : 0;
  int r = poll(fds, static_cast<nfds_t>(count), timeout_ms);
  if (r < 0) {
    for (int i = 0; i < count; ++i) entries[i].ready = false;
    return -1;
  }
  int ready = 0;
  for (int i = 0; i < count; ++i) {
    // Errors and hang-ups count as ready, as select reports them: the
    // following recv or send then tells the connection what happened.
    entries[i].ready = (fds[i].revents & (want | POLLERR | POLLHUP)) != 0;
    if (entries[i].ready) ++ready;
  }
  return ready;
}

int sys_errno() { return errno; }
int sys_last_error() { return 0; }
uint32_t sys_process_id() { return static_cast<uint32_t>(getpid()); }
