// Circuits: numbered sub-channels multiplexed over the connections of a
// context, found through a two-key hash table.
#pragma once

#include <cstdint>

#include "net/conn.h"

struct net_hashentry {
  int32_t key1;
  int32_t key2;
  void* value;
  net_hashentry* next;
};

struct net_hashtable {
  int32_t in_use;
  int32_t bucket_count;
  net_hashentry** buckets;
  int32_t entry_array;
};

// The block of max_hashtable table records, made by initialisation.
bool net_hashtables_create(int32_t count);
void net_hashtables_release();

// A table with its buckets and room for max_entries entries: index or a
// negative code.
int net_hashtable_create(int32_t buckets, int32_t max_entries);
int net_hashtable_release(int table);
int net_hashtable_put(int table, int32_t key1, int32_t key2, void* value);
void* net_hashtable_get(int table, int32_t key1, int32_t key2);
int net_hashtable_remove(int table, int32_t key1, int32_t key2);  // 0, -6 or -8

struct net_circuit {
  int32_t in_use;
  int32_t id;
  uint16_t key;
  int32_t serial;
  conn_t conn;
  tcpcontext* context;
  int32_t last_activity;
  int32_t timeout;
  void* state_buffer;
  int32_t state_buffer_array;
  net_buffer queue;
};

// Sets a context up for up to count circuits, each with a byte queue of
// queue_size bytes and an optional state buffer. 0 or a negative code.
int net_tcpcontext_enable_circuits(tcpcontext* ctx, int32_t count, int32_t queue_size, int32_t state_size,
                                   net_circ_closecb_fn close_cb, net_circ_finalizer_fn finalizer);
// Ends what enable_circuits made (context release does it too).
void net_tcpcontext_disable_circuits(tcpcontext* ctx);
net_circuit* net_circ_open(tcpcontext* ctx, conn_t conn, int32_t id, uint16_t key, int32_t timeout_sec);
net_circuit* net_circ_find(tcpcontext* ctx, int32_t id, uint16_t key);
int net_circ_close(net_circuit* circ);
int net_circ_close_internal(net_circuit* circ, int notify, int send_closed, int reason);
// The heartbeat's circuit step for one context.
void net_circ_step(tcpcontext* ctx);
