// TCP contexts, connections and their byte queues.
//
// A connection moves bytes socket -> erb -> (decoder) -> rb -> parser on the
// way in, and user -> wb -> (encoder) -> ewb -> socket on the way out, one
// bounded step per heartbeat. Every record and queue is an element of a
// fixed array created up front.
#pragma once

#include <cstdint>

struct net_conn;
struct tcpcontext;

// Handle of a connection: valid while the record's serial still matches.
struct conn_t {
  net_conn* ptr;
  int32_t serial;
};

// Cipher flags of a context.
enum : uint32_t {
  NET_CIPHER_BLOWFISH = 0x0001,
  NET_CIPHER_RIJNDAEL = 0x0002,
  NET_CIPHER_TWOFISH = 0x0004,
  NET_BLOCK_CIPHER_ONLY_RECV = 0x2000,
  NET_BLOCK_CIPHER_ONLY_SEND = 0x4000,
};

// Reasons given to the close watcher.
enum : int {
  NET_CLOSE_NONE = -1,          // released without notice
  NET_CLOSE_EOF = 1,            // end of stream, read or write error
  NET_CLOSE_DRAINED = 2,        // closed and nothing left to send
  NET_CLOSE_DRAIN_TIMEOUT = 3,  // closed, bytes left when the time-out ran out
  NET_CLOSE_DECODE = 4,
  NET_CLOSE_ENCODE = 5,
  NET_CLOSE_PROTOCOL = 6,
};

// Key exchange finished.
constexpr int32_t NET_KEYEX_DONE = 999;

// Per-step limit of every socket read and send and of the plain coders.
constexpr int NET_IO_CHUNK = 8192;

using net_coder_fn = int (*)(net_conn*);
using net_parser_fn = int (*)(conn_t);
using net_record_handler_fn = int (*)(conn_t, const unsigned char* bytes, int length);
using net_closewatcher_fn = int (*)(conn_t, int reason);
using net_finalizer_fn = void (*)(conn_t);
using net_acceptwatcher_fn = int (*)(conn_t);

// One byte queue; data is an element of one of the context's buffer arrays.
struct net_buffer {
  char* data;
  int32_t read_offset;
  int32_t write_offset;
  int32_t capacity;
  int32_t array_index;
};

int net_buffer_init(net_buffer* b, int array_index);
void net_buffer_release(net_buffer* b);
int net_buffer_append(net_buffer* b, const void* bytes, int n);  // n or -2
int net_buffer_consume(net_buffer* b, void* dest, int n);       // bytes taken
inline int net_buffer_used(const net_buffer* b) { return b->write_offset - b->read_offset; }
inline int net_buffer_room(const net_buffer* b) { return b->capacity - net_buffer_used(b); }
inline const unsigned char* net_buffer_peek(const net_buffer* b) {
  return reinterpret_cast<const unsigned char*>(b->data + b->read_offset);
}

constexpr int NET_IPFILTER_MAX = 64;
enum : uint32_t { NET_IPFILTER_ACCEPT = 1, NET_IPFILTER_LOG = 2 };

struct net_ipfilter_entry {
  uint32_t addr;  // host order
  uint32_t mask;  // host order
  uint32_t flags;
};

struct net_circuit;
using net_circ_closecb_fn = int (*)(net_circuit*, int32_t serial, int reason);
using net_circ_finalizer_fn = void (*)(net_circuit*);

struct tcpcontext {
  int32_t server;
  int32_t timeout;
  uint32_t cipher_flags;
  int32_t key_length;
  int32_t max_conn;
  int32_t conn_in_use;
  int32_t read_buffer_size;
  int32_t write_buffer_size;
  int32_t state_buffer_size;
  int32_t state_buffer_array;
  int32_t buffer_arrays[4];  // rb, wb, erb, ewb
  uint16_t port;             // network order
  int32_t listen_socket;
  int32_t index;
  int32_t nonblocking_connect;
  int32_t nodelay;
  net_coder_fn decoder;
  net_parser_fn parser;
  net_coder_fn encoder;
  net_acceptwatcher_fn accept_watcher;
  net_acceptwatcher_fn hiwater_accept_watcher;
  net_closewatcher_fn close_watcher;
  net_record_handler_fn record_handler;
  net_finalizer_fn finalizer;
  int32_t hiwater_mark;
  // Circuits: array of circuit records, hash table, cursor and callbacks.
  int32_t circuit_array;
  int32_t circuit_queue_array;
  int32_t circuit_state_array;
  int32_t circuit_hashtable;
  int32_t circuit_count;
  int32_t circuit_cursor;
  net_circ_closecb_fn circuit_close_cb;
  net_circ_finalizer_fn circuit_finalizer;
  int32_t ipfilter_count;
  net_ipfilter_entry ipfilter[NET_IPFILTER_MAX];
  int32_t parse_passes;
};

enum { NET_BUF_RB = 0, NET_BUF_WB = 1, NET_BUF_ERB = 2, NET_BUF_EWB = 3 };

struct net_conn {
  uint32_t cipher_flags;
  int32_t socket;
  int32_t closed;
  int32_t connected;
  uint8_t remote_addr[16];
  int32_t remote_addr_len;
  uint16_t remote_port;
  uint8_t local_addr[16];
  int32_t local_addr_len;
  uint16_t local_port;
  int32_t key_length;
  uint8_t recv_key[64];
  uint8_t send_key[64];
  int32_t send_cipher_ready;
  int32_t recv_cipher_ready;
  // Each direction's cipher, set up by the encryption unit (crypt.cpp) when
  // its first chunk passes: a libgcrypt handle and where the decoder is in
  // a chunk. The key schedule itself lives in libgcrypt's memory.
  alignas(8) uint8_t send_cipher_state[32];
  alignas(8) uint8_t recv_cipher_state[32];
  char keyex_generator[16];
  char keyex_private[128];
  char keyex_prime[512];
  char keyex_public[512];
  char keyex_peer_public[512];
  int32_t last_activity;
  int32_t timeout;
  net_buffer rb;
  net_buffer wb;
  net_buffer erb;
  net_buffer ewb;
  tcpcontext* context;
  int32_t index;
  int32_t accepted;
  void* state_buffer;
  int32_t state_buffer_size;
  int32_t state_buffer_array;
  net_coder_fn decoder;
  net_parser_fn parser;
  net_coder_fn encoder;
  net_acceptwatcher_fn accept_watcher;
  net_acceptwatcher_fn hiwater_accept_watcher;
  net_closewatcher_fn close_watcher;
  net_record_handler_fn record_handler;
  int32_t keyex_state;
  int32_t serial;
  int32_t parse_passes;
};

// Entry points on connections.
int net_conn_valid(conn_t c);
void net_conn_reset_handle(conn_t* c);
int net_conn_close(conn_t c);
int net_conn_set_idle_timeout(conn_t c, int32_t seconds);
int net_conn_write_room(conn_t c);
int net_conn_write(conn_t c, const void* bytes, int length);
void* net_conn_state_buffer(conn_t c, int32_t* size);
conn_t net_conn_handle(net_conn* c);

// Internal to the library: the I/O step run by the heartbeat, and the one
// release path of a connection.
void net_conn_io(net_conn* c, int readable, int writable);
void net_conn_free(net_conn* c, int notify, int reason);
int net_decode_plain(net_conn* c);
int net_encode_plain(net_conn* c);
// Takes the next serial (never 0).
int32_t net_conn_next_serial();
// Fills a freshly taken record for socket s of context ctx: queues, state
// buffer, callbacks, serial. On failure everything taken is returned and the
// record is back in the array (the socket stays open). 0 or a negative code.
int net_conn_setup(net_conn* c, tcpcontext* ctx, int s, int accepted);
// Undoes a set-up that failed later: returns everything and closes the
// socket, without callbacks.
void net_conn_discard(net_conn* c);
// net_conn_free with the reason, except that an end of stream or a drained
// close before the key exchange finished goes without notice.
void net_conn_release_for(net_conn* c, int reason);
