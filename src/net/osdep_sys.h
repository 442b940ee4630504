// The raw platform calls under the socket layer, one backend file per
// platform (osdep_posix.cpp, osdep_win32.cpp) with these same functions.
// They translate types and constants only; codes and log lines are added
// by osdep.cpp.
#pragma once

#include <cstdint>

enum class SockOpt { KeepAlive, ReuseAddr, NoDelay, SndBuf, SndLowat };

struct SysPollEntry {
  int handle;
  bool ready;
};

int sys_startup();  // 0 on success
int sys_socket();   // handle or negative
int sys_close(int s);
int sys_shutdown_both(int s);
int sys_set_nonblocking(int s);  // 0 on success
int sys_setsockopt_int(int s, SockOpt opt, int value);
int sys_getsockopt_int(int s, SockOpt opt, int* value);
// inet_addr: the address in network order, or 0xFFFFFFFF for none.
uint32_t sys_inet_addr(const char* host);
// First IPv4 address of a name; false when it does not resolve.
bool sys_gethostbyname(const char* host, uint8_t out[4]);
// 0 connected, 1 in progress, -1 failed.
int sys_connect(int s, const uint8_t addr[4], uint16_t port);
int sys_getsockname(int s, uint8_t addr[4], uint16_t* port);  // 0 on success
int sys_bind(int s, const uint8_t addr[4], uint16_t port);
int sys_listen(int s, int backlog);
// New handle, or negative; *retry is set when the failure is only
// would-block or an interruption.
int sys_accept(int s, uint8_t addr[4], uint16_t* port, bool* retry);
// The socket's pending error (SO_ERROR): 0 when a connect went through.
int sys_pending_error(int s);
int sys_recv(int s, void* buf, int len);
int sys_send(int s, const void* buf, int len);
// Zero time-out readiness check of entries; returns the count of ready
// entries or negative on error. For the write check, failures of a
// pending connect count as ready so the connection layer sees them.
int sys_poll(SysPollEntry* entries, int count, bool for_write, int32_t wait_usec, int width);
int sys_errno();        // errno
int sys_last_error();   // WSAGetLastError, 0 where the platform has none
uint32_t sys_process_id();
