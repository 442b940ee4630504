// Record framings: 2-byte length, 4-byte length, text line, none. A parser
// is installed with net_tcpcontext_set_conn_parser and delivers at most one
// record per call to the record handler; a sender writes one whole record
// or nothing.
#pragma once

#include <cstdint>

#include "net/conn.h"

constexpr int32_t NET_LEN16_MAX = 65535;
constexpr uint32_t NET_LEN32_MAX = 0x40000000u;

int net_parse_len16(conn_t c);
int net_parse_len32(conn_t c);
int net_parse_line(conn_t c);
int net_parse_raw(conn_t c);

// Return the bytes queued including the header, or a negative code.
int net_send_len16(conn_t c, const void* bytes, int length);
int net_send_len32(conn_t c, const void* bytes, int length);
int net_send_line(conn_t c, const void* bytes, int length);
int net_send_raw(conn_t c, const void* bytes, int length);

// The length header of the 2-byte (header 2) and 4-byte (header 4) framings,
// for programs that frame records outside a connection's write buffer.
void net_write_length_header(unsigned char* out, int header, uint32_t length);
uint32_t net_read_length_header(const unsigned char* bytes, int header);

// The framings by number (0 len16, 1 len32, 2 line, 3 raw).
using net_sender_fn = int (*)(conn_t, const void*, int);
struct net_framing {
  net_parser_fn parser;
  net_sender_fn sender;
  int header_size;
};
// Null for a number outside 0-3.
const net_framing* net_framing_by_index(int index);
