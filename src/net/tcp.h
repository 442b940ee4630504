// TCP contexts: families of connections that share buffer sizes, time-out,
// cipher choice, parser and callbacks. Client contexts connect; server
// contexts listen and accept inside the heartbeat.
#pragma once

#include <cstdint>

#include "net/conn.h"

tcpcontext* net_tcpcontext_create(int server, const char* bind_host, uint16_t port, int32_t max_conn,
                                  int32_t read_buffer_size, int32_t write_buffer_size, int32_t timeout_sec,
                                  uint32_t cipher_flags, int32_t key_length, int nonblocking_connect, int nodelay,
                                  int32_t state_buffer_size);
void net_tcpcontext_set_conn_parser(tcpcontext* ctx, net_parser_fn parser, net_record_handler_fn handler);
void net_tcpcontext_set_conn_closewatcher(tcpcontext* ctx, net_closewatcher_fn watcher);
void net_tcpcontext_set_conn_finalizer(tcpcontext* ctx, net_finalizer_fn finalizer);
void net_tcpcontext_set_parse_passes(tcpcontext* ctx, int32_t passes);
conn_t net_tcpcontext_connect(tcpcontext* ctx, const char* host, uint16_t port);
void net_tcpcontext_release(tcpcontext* ctx);
void net_conn_close_tcpcontext_all(tcpcontext* ctx);

// Server side. The accept watcher sees each new connection (after the key
// exchange when the context encrypts); a negative result refuses it. Once
// the context holds high-water mark - 1 connections, the high-water watcher
// is called instead.
void net_tcpcontext_set_accept_watcher(tcpcontext* ctx, net_acceptwatcher_fn watcher);
void net_tcpcontext_set_hiwater_accept_watcher(tcpcontext* ctx, net_acceptwatcher_fn watcher, int32_t mark);
// Port the listening socket is bound to, in host order (useful after
// binding port 0).
uint16_t net_tcpcontext_local_port(const tcpcontext* ctx);
// IP filter: with at least one entry, a peer is accepted only when an
// entry with NET_IPFILTER_ACCEPT matches it under the mask. Addresses and
// masks in host order. 0, or -2 when the list is full.
int net_tcpcontext_add_ipfilter(tcpcontext* ctx, uint32_t addr, uint32_t mask, uint32_t flags);
int net_ipv4filter_check(const tcpcontext* ctx, uint32_t addr);  // 1 pass, 0 refused

// The heartbeat's accept step for one server context: accepts one pending
// connection.
void net_tcpcontext_accept(tcpcontext* ctx);
