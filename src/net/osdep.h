// The middleware's socket layer: every call to the platform's sockets goes
// through here. Handles are signed 32-bit, negative for none; ports are in
// host order; IPv4 addresses are 4 bytes in network order.
#pragma once

#include <cstdint>

struct net_conn;

// Each readiness set holds at most this many handles; more are ignored.
constexpr int NET_FDSET_MAX = 64;

int net_socket_startup();  // 0, or -41 after logging
int net_socket_cleanup();  // always 0
int net_socket_create();   // handle, or -10
int net_socket_close(int s);
int net_socket_shutdown(int s);
int net_socket_set_nonblocking(int s);  // 0 or -16
int net_socket_set_keepalive(int s);    // 0 or -39
int net_socket_set_reuseaddr(int s);    // 0 or -39
int net_socket_set_nodelay(int s);      // 0 or -39
int net_set_so_sndbuf(int s);           // 0 or -1 (target 32768)
int net_set_so_sndlowat(int s);         // 0 or -1 (target 16384)

// Host text (dotted or a name) to an IPv4 address; 0 or -12.
int net_resolve_ipv4(const char* host, uint8_t out[4]);
// Connects s; on success fills both addresses (length 4, or local 0 when
// unknown). A pending non-blocking connect counts as success.
int net_socket_connect(int s, const char* host, uint16_t port, uint8_t remote[16], int32_t* remote_len,
                       uint8_t local[16], int32_t* local_len, uint16_t* local_port);
int net_socket_local_name(int s, uint8_t addr[16], int32_t* addr_len, uint16_t* port);  // 0 or -1
int net_socket_bind(int s, const char* host, uint16_t port);  // 0 or -11
int net_socket_listen(int s);
// Accepts on a listening socket: new handle with both addresses, or -38
// (error), -46 (address buffer under 4 bytes); would-block and
// interruption give -38 without a log line.
int net_socket_accept(int s, uint8_t* remote, int remote_capacity, int32_t* remote_len, uint16_t* remote_port,
                      uint8_t local[16], int32_t* local_len, uint16_t* local_port);
// 0 when the non-blocking connect of s went through, else non-zero.
int net_socket_connect_failed(int s);
int net_socket_recv(int s, void* buf, int len);
int net_socket_send(int s, const void* buf, int len);

// Readiness: sets are filled, then one wait answers for both.
void net_fdset_clear();
void net_fdset_add_read(int s);
void net_fdset_add_write(int s);
int net_fdset_read_count();
int net_fdset_write_count();
void net_socket_wait(int width, int* read_ready, int* write_ready);
int net_socket_is_readable(int s);
int net_socket_is_writable(int s);
// Microseconds the read check may wait; 0 keeps the heartbeat from sleeping.
void net_socket_set_wait_usec(int32_t usec);

// "errno:'...' WSAGetLastError:%d" in a static 64-byte buffer.
const char* net_socket_error_text();

// Address texts; buf needs 16 (IPv4) or 40 (IPv6) bytes.
void net_format_ipv4(const uint8_t* addr, int32_t len, char* buf);
void net_format_ipv6(const uint8_t* addr, int32_t len, char* buf);
// "%s:%d" of the connection's peer; null with -46 if buf is too short.
const char* net_format_peer(const net_conn* c, char* buf, int len);

// Process id, for log file names.
uint32_t net_process_id();
