// Circuits and their hash tables.
#include "net/vec.h"

#include <cstdio>
#include <cstring>
#include <cstdlib>

#include "net/array.h"
#include "net/core.h"
#include "net/state.h"

namespace {

constexpr uint16_t kCircuitMagic = 1909;
constexpr uint16_t kMsgClosed = 2;

net_hashtable* table_at(int table) {
  if (g_net.hashtables == nullptr || table < 0 || table >= g_net.limits.max_hashtable) return nullptr;
  net_hashtable* t = &g_net.hashtables[table];
  return t->in_use ? t : nullptr;
}

int32_t bucket_of(const net_hashtable* t, int32_t key1, int32_t key2) {
  int32_t sum = static_cast<int32_t>(static_cast<uint32_t>(key1) + static_cast<uint32_t>(key2));
  int32_t m = sum % t->bucket_count;
  return m < 0 ? -m : m;
}

void put16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}

}  // namespace

bool net_hashtables_create(int32_t count) {
  size_t bytes = sizeof(net_hashtable) * static_cast<size_t>(count);
  g_net.hashtables = static_cast<net_hashtable*>(net_malloc(bytes));
  if (g_net.hashtables == nullptr) return false;
  std::memset(g_net.hashtables, 0, bytes);
  return true;
}

void net_hashtables_release() {
  if (g_net.hashtables == nullptr) return;
  for (int32_t i = 0; i < g_net.limits.max_hashtable; ++i)
    if (g_net.hashtables[i].in_use) net_hashtable_release(i);
  net_free(g_net.hashtables);
  g_net.hashtables = nullptr;
}

int net_hashtable_create(int32_t buckets, int32_t max_entries) {
  if (g_net.hashtables == nullptr || buckets <= 0 || max_entries <= 0) return net_fail(NET_ERR_INVALID);
  for (int32_t i = 0; i < g_net.limits.max_hashtable; ++i) {
    net_hashtable* t = &g_net.hashtables[i];
    if (t->in_use) continue;
    int entries = init_array(sizeof(net_hashentry), max_entries, "hashentry");
    if (entries < 0) return net_fail(NET_ERR_NOMEM);
    size_t bytes = sizeof(net_hashentry*) * static_cast<size_t>(buckets);
    t->buckets = static_cast<net_hashentry**>(net_malloc(bytes));
    if (t->buckets == nullptr) {
      net_end_array(entries);
      return net_fail(NET_ERR_NOMEM);
    }
    std::memset(t->buckets, 0, bytes);
    t->bucket_count = buckets;
    t->entry_array = entries;
    t->in_use = 1;
    net_succeed();
    return i;
  }
  return net_fail(NET_ERR_NOROOM);
}

int net_hashtable_release(int table) {
  net_hashtable* t = table_at(table);
  if (t == nullptr) return net_fail(NET_ERR_INVALID);
  net_end_array(t->entry_array);
  net_free(t->buckets);
  std::memset(t, 0, sizeof *t);
  return net_fail(NET_OK);
}

int net_hashtable_put(int table, int32_t key1, int32_t key2, void* value) {
  net_hashtable* t = table_at(table);
  if (t == nullptr) return net_fail(NET_ERR_INVALID);
  auto* e = static_cast<net_hashentry*>(net_array_alloc(t->entry_array));
  if (e == nullptr) return net_fail(NET_ERR_NOROOM);
  int32_t b = bucket_of(t, key1, key2);
  e->key1 = key1;
  e->key2 = key2;
  e->value = value;
  e->next = t->buckets[b];
  t->buckets[b] = e;
  return net_fail(NET_OK);
}

void* net_hashtable_get(int table, int32_t key1, int32_t key2) {
  net_hashtable* t = table_at(table);
  if (t == nullptr) {
    net_fail(NET_ERR_INVALID);
    return nullptr;
  }
  for (net_hashentry* e = t->buckets[bucket_of(t, key1, key2)]; e != nullptr; e = e->next) {
    if (e->key1 == key1 && e->key2 == key2) {
      net_succeed();
      return e->value;
    }
  }
  net_fail(NET_ERR_NOTFOUND);
  return nullptr;
}

int net_hashtable_remove(int table, int32_t key1, int32_t key2) {
  net_hashtable* t = table_at(table);
  if (t == nullptr) return net_fail(NET_ERR_INVALID);
  net_hashentry** link = &t->buckets[bucket_of(t, key1, key2)];
  for (net_hashentry* e = *link; e != nullptr; link = &e->next, e = e->next) {
    if (e->key1 == key1 && e->key2 == key2) {
      *link = e->next;
      net_array_free(t->entry_array, e);
      return net_fail(NET_OK);
    }
  }
  return net_fail(NET_ERR_NOTFOUND);
}

int net_tcpcontext_enable_circuits(tcpcontext* ctx, int32_t count, int32_t queue_size, int32_t state_size,
                                   net_circ_closecb_fn close_cb, net_circ_finalizer_fn finalizer) {
  if (ctx == nullptr || count <= 0 || queue_size <= 0 || state_size < 0 || ctx->circuit_array >= 0)
    return net_fail(NET_ERR_INVALID);
  int circuits = init_array(sizeof(net_circuit), count, "circ");
  int queues = circuits >= 0 ? init_array(static_cast<uint32_t>(queue_size), count, "circq") : -1;
  int states = (queues >= 0 && state_size > 0) ? init_array(static_cast<uint32_t>(state_size), count, "circst") : -1;
  int table = (queues >= 0 && (state_size == 0 || states >= 0)) ? net_hashtable_create(count, count) : -1;
  if (table < 0) {
    if (states >= 0) net_end_array(states);
    if (queues >= 0) net_end_array(queues);
    if (circuits >= 0) net_end_array(circuits);
    return net_fail(NET_ERR_NOMEM);
  }
  ctx->circuit_array = circuits;
  ctx->circuit_queue_array = queues;
  ctx->circuit_state_array = states;
  ctx->circuit_hashtable = table;
  ctx->circuit_count = count;
  ctx->circuit_cursor = -1;
  ctx->circuit_close_cb = close_cb;
  ctx->circuit_finalizer = finalizer;
  return net_fail(NET_OK);
}

void net_tcpcontext_disable_circuits(tcpcontext* ctx) {
  if (ctx == nullptr || ctx->circuit_array < 0) return;
  if (ctx->circuit_state_array >= 0) net_end_array(ctx->circuit_state_array);
  net_end_array(ctx->circuit_queue_array);
  net_hashtable_release(ctx->circuit_hashtable);
  net_end_array(ctx->circuit_array);
  ctx->circuit_array = ctx->circuit_queue_array = ctx->circuit_state_array = -1;
  ctx->circuit_hashtable = -1;
  ctx->circuit_count = 0;
}

net_circuit* net_circ_open(tcpcontext* ctx, conn_t conn, int32_t id, uint16_t key, int32_t timeout_sec) {
  if (ctx == nullptr || ctx->circuit_array < 0 || !net_conn_valid(conn)) {
    net_fail(NET_ERR_INVALID);
    return nullptr;
  }
  auto* circ = static_cast<net_circuit*>(net_array_alloc(ctx->circuit_array));
  if (circ == nullptr) return nullptr;
  std::memset(circ, 0, sizeof *circ);
  circ->state_buffer_array = -1;
  int code = NET_OK;
  if (net_buffer_init(&circ->queue, ctx->circuit_queue_array) < 0) {
    code = NET_ERR_NOMEM;
  } else if (ctx->circuit_state_array >= 0) {
    circ->state_buffer = net_array_alloc(ctx->circuit_state_array);
    if (circ->state_buffer == nullptr) {
      code = NET_ERR_NOMEM;
    } else {
      std::memset(circ->state_buffer, 0, static_cast<size_t>(net_array_element_size(ctx->circuit_state_array)));
      circ->state_buffer_array = ctx->circuit_state_array;
    }
  }
  if (code == NET_OK && net_hashtable_put(ctx->circuit_hashtable, id, key, circ) < 0) code = NET_ERR_NOROOM;
  if (code != NET_OK) {
    if (circ->state_buffer != nullptr) net_array_free(circ->state_buffer_array, circ->state_buffer);
    net_buffer_release(&circ->queue);
    net_array_free(ctx->circuit_array, circ);
    net_fail(code);
    return nullptr;
  }
  circ->in_use = 1;
  circ->id = id;
  circ->key = key;
  circ->serial = net_conn_next_serial();
  circ->conn = conn;
  circ->context = ctx;
  circ->last_activity = g_net.now_sec;
  circ->timeout = timeout_sec;
  net_succeed();
  return circ;
}

net_circuit* net_circ_find(tcpcontext* ctx, int32_t id, uint16_t key) {
  if (ctx == nullptr || ctx->circuit_hashtable < 0) {
    net_fail(NET_ERR_INVALID);
    return nullptr;
  }
  return static_cast<net_circuit*>(net_hashtable_get(ctx->circuit_hashtable, id, key));
}

int net_circ_close(net_circuit* circ) {
  if (circ == nullptr || !circ->in_use) return net_fail(NET_ERR_INVALID);
  tcpcontext* ctx = circ->context;
  if (ctx->circuit_finalizer != nullptr) {
    net_log_verbose("net_circ_close: calling finalizer serial: %d\n", circ->serial);
    ctx->circuit_finalizer(circ);
  }
  if (net_hashtable_remove(ctx->circuit_hashtable, circ->id, circ->key) < 0)
    net_log_verbose("Bug:7106 vecsv: net_circ_close fail\n");
  if (circ->state_buffer != nullptr) {
    net_array_free(circ->state_buffer_array, circ->state_buffer);
    circ->state_buffer = nullptr;
    net_log_verbose("Note:10349: vec: freed state buffer for a circ\n");
  }
  net_buffer_release(&circ->queue);
  if (net_array_free(ctx->circuit_array, circ) < 0)
    net_log_verbose("vec.c: cannot free circ array ind:%d\n", ctx->circuit_array);
  circ->in_use = 0;
  return net_fail(NET_OK);
}

int net_circ_close_internal(net_circuit* circ, int notify, int send_closed, int reason) {
  if (circ == nullptr || !circ->in_use) return net_fail(NET_ERR_INVALID);
  tcpcontext* ctx = circ->context;
  if (notify && ctx->circuit_close_cb != nullptr) ctx->circuit_close_cb(circ, circ->serial, reason);
  if (send_closed) {
    unsigned char msg[14];
    put16(msg, kCircuitMagic);
    put16(msg + 2, kMsgClosed);
    uint32_t id = static_cast<uint32_t>(circ->id);
    msg[4] = static_cast<unsigned char>(id >> 24);
    msg[5] = static_cast<unsigned char>(id >> 16);
    msg[6] = static_cast<unsigned char>(id >> 8);
    msg[7] = static_cast<unsigned char>(id);
    put16(msg + 8, circ->key);
    put16(msg + 10, 2);
    put16(msg + 12, 0);
    if (net_conn_write(circ->conn, msg, sizeof msg) < 0)
      net_log_important("VEC_DEBUG: cannot send %s to len:%d\n", "CLOSED(circ_close)", 14);
    else
      net_log_important("VEC_DEBUG: SEND: %s len:%d\n", "CLOSED(circ_close)", 14);
  }
  net_circ_close(circ);
  net_log_important("VEC_DEBUG: net_circ_close_internal: ok\n");
  return net_fail(NET_OK);
}

void net_circ_step(tcpcontext* ctx) {
  if (ctx->circuit_array < 0 || ctx->circuit_count <= 0) return;
  ctx->circuit_cursor = (ctx->circuit_cursor + 1) % ctx->circuit_count;
  auto* circ = static_cast<net_circuit*>(net_array_get_in_use(ctx->circuit_array, ctx->circuit_cursor));
  if (circ == nullptr || !circ->in_use) return;
  if (static_cast<int64_t>(circ->last_activity) < static_cast<int64_t>(g_net.now_sec) - circ->timeout)
    net_circ_close_internal(circ, 1, 1, NET_CLOSE_DRAIN_TIMEOUT);
}
