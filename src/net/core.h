// Networking middleware: limits, set-up and tear-down, last error, clock,
// allocation wrappers and log output. Single-threaded, global state.
#pragma once

#include <cstddef>
#include <cstdint>

// Error codes: 0 is success, every failure is negative.
enum : int {
  NET_OK = 0,
  NET_ERR_CIPHER = -1,             // block cipher set-up or block operation
  NET_ERR_NOROOM = -2,             // buffer, array or value does not fit
  NET_ERR_TWICE = -3,              // freed twice; key exchange in wrong state
  NET_ERR_INVALID = -6,            // bad argument, pointer or handle
  NET_ERR_NOMEM = -7,              // allocation failed
  NET_ERR_NOTFOUND = -8,           // hash table entry not found
  NET_ERR_SOCKET = -10,
  NET_ERR_BIND = -11,
  NET_ERR_RESOLVE = -12,
  NET_ERR_LISTEN = -13,
  NET_ERR_NONBLOCK = -16,
  NET_ERR_CONNECT = -17,
  NET_ERR_KEYEX_ROOM = -18,
  NET_ERR_KEYEX_PEER = -19,
  NET_ERR_CONNECTING = -20,        // write before a non-blocking connect completed
  NET_ERR_NEGOTIATING = -21,       // write before encryption negotiation completed
  NET_ERR_CHUNK_NEGATIVE = -22,
  NET_ERR_CHUNK_BLOCK = -23,
  NET_ERR_BAD_LENGTH = -24,        // chunk plain length; 4-byte record length
  NET_ERR_BAD_PREFIX = -26,        // invalid length prefix; unsupported cipher
  NET_ERR_SERIAL = -28,            // write with a stale serial
  NET_ERR_ALIGN = -32,             // pointer not on an element boundary
  NET_ERR_NO_CONN_ARRAY = -36,
  NET_ERR_KEY_LENGTH = -37,
  NET_ERR_ACCEPT = -38,
  NET_ERR_SOCKOPT = -39,
  NET_ERR_STARTUP = -41,
  NET_ERR_WRITE_ROOM = -44,        // not enough room for the whole record
  NET_ERR_TOO_LONG = -45,          // record too long for its length header
  NET_ERR_TRUNCATED = -46,         // input truncated; text buffer too small
  NET_ERR_CLOSED = -62,            // connection already closed
  NET_ERR_FINALIZE = -63,
  NET_ERR_WRITE_CLOSED = -64,      // write to a closed connection
  NET_ERR_INIT_ARRAY = -79,
};

// Limits applied by the next initialisation; -1 keeps the current value.
struct net_limits {
  int32_t max_tcpcontext;
  int32_t max_taskworld;
  int32_t max_conn;
  int32_t max_hashtable;
  int32_t max_array;
  int32_t work_buffer_size_1;
  int32_t work_buffer_size_2;
};

void net_limits_reset(net_limits* limits);
int net_init_with_limits(const net_limits* limits);
int net_init();
int net_finalize();
int net_last_error();

// The limits the library runs with (defaults until changed).
const net_limits& net_current_limits();

// Clock, refreshed only by net_clock_update (the heartbeat calls it).
void net_clock_update();
int32_t net_now_sec();
int64_t net_now_usec();
// Where the clock reads the wall time; null restores the system clock.
// Tests use it to move time without sleeping.
using net_time_source_fn = void (*)(int64_t* sec, int32_t* msec);
void net_set_time_source(net_time_source_fn source);

// Allocation through replaceable hooks (null restores malloc/free).
using net_malloc_fn = void* (*)(size_t);
using net_free_fn = void (*)(void*);
void net_set_alloc_hooks(net_malloc_fn alloc, net_free_fn release);
void* net_malloc(size_t size);
void net_free(void* ptr);

// Log output: important lines at level 0 and above, verbose ones at 1 and
// above. With a directory set, lines go to "<dir>/stderr.<pid>.<seq>".
#if defined(__MINGW32__)
#define NET_PRINTF_FORMAT __attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__)
#define NET_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#else
#define NET_PRINTF_FORMAT
#endif
void net_log_important(const char* format, ...) NET_PRINTF_FORMAT;
void net_log_verbose(const char* format, ...) NET_PRINTF_FORMAT;
void net_set_log_level(int32_t level);
int32_t net_log_level();
void net_set_log_dir(const char* dir, uint32_t size_limit);

// Counters of the running library.
uint32_t net_heartbeat_count();
int32_t net_start_time();
int32_t net_select_width();
int32_t net_conn_count();
