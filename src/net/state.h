// Library-wide state shared by the middleware's units. Not for callers.
#pragma once

#include <cstdint>

#include "net/core.h"

struct net_hashtable;

struct net_state {
  net_limits limits{16, 16, 1000, 64, 256, 8192, 8192};
  int32_t now_sec = 0;
  int64_t now_usec = 0;
  int32_t start_time = 0;
  uint32_t heartbeat_count = 0;
  int32_t serial_counter = 0;
  int32_t conn_count = 0;
  bool network_ready = false;
  int32_t select_width = 0;
  uint32_t pid = 0;
  char* work_buffer_1 = nullptr;
  char* work_buffer_2 = nullptr;
  int tcpctx_array = -1;
  int conn_array = -1;
  int taskworld_array = -1;
  net_hashtable* hashtables = nullptr;
};

extern net_state g_net;

// Stores code as the last error and returns it, so failures read
// "return net_fail(NET_ERR_INVALID);".
int net_fail(int code);
inline void net_succeed() { net_fail(NET_OK); }
