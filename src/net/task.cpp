// The heartbeat: TCP step, task step, circuit step, clock.
#include "net/task.h"

#include <cstring>

#include "net/array.h"
#include "net/conn.h"
#include "net/core.h"
#include "net/osdep.h"
#include "net/state.h"
#include "net/tcp.h"
#include "net/vec.h"

namespace {

int32_t g_write_counter = 0;
int32_t g_write_spread = 1;

// Readiness sets hold NET_FDSET_MAX sockets. With more candidates than
// that, each heartbeat starts adding where the previous one stopped, so no
// connection waits for ever behind the newest ones.
struct Rotation {
  int32_t skip = 0;
  int32_t candidates = 0;
  int32_t added = 0;

  bool take_now(int32_t ordinal) const { return ordinal >= skip; }
  void advance() {
    if (candidates > added && candidates > 0)
      skip = (skip + added) % candidates;
    else
      skip = 0;
  }
};

Rotation g_read_rotation;
Rotation g_write_rotation;

bool timed_out(int32_t last_activity, int32_t timeout) {
  return static_cast<int64_t>(last_activity) < static_cast<int64_t>(g_net.now_sec) - timeout;
}

template <typename F>
void for_each_conn(F&& visit) {
  if (g_net.conn_array < 0) return;
  for (void* e = net_array_first(g_net.conn_array); e != nullptr;) {
    net_conn* c = static_cast<net_conn*>(e);
    // Fetch the successor only after the visit: a connection released by
    // the visit still knows the one taken before it.
    visit(c);
    e = net_array_next(g_net.conn_array, c);
  }
}

template <typename F>
void for_each_context(F&& visit) {
  if (g_net.tcpctx_array < 0) return;
  for (void* e = net_array_first(g_net.tcpctx_array); e != nullptr; e = net_array_next(g_net.tcpctx_array, e))
    visit(static_cast<tcpcontext*>(e));
}

// What a recorded connection asks of this heartbeat's wait.
void wants(const net_conn* c, bool* read, bool* write) {
  *read = *write = false;
  if (!c->closed) {
    bool connecting = c->context->nonblocking_connect && !c->connected;
    if ((net_buffer_used(&c->ewb) > 0 || connecting) && c->index % g_write_spread == g_write_counter) *write = true;
    if (net_buffer_room(&c->erb) > 0) *read = true;
  } else if (net_buffer_used(&c->ewb) > 0) {
    *read = *write = true;
  }
}

struct Ordinals {
  int32_t read = 0;
  int32_t write = 0;
};

// Adds c to the sets it wants. first_pass: only candidates at or after the
// rotation point; otherwise only those before it.
void add_to_sets(const net_conn* c, Ordinals* ord, bool first_pass) {
  bool rd = false, wr = false;
  wants(c, &rd, &wr);
  if (rd) {
    if (g_read_rotation.take_now(ord->read) == first_pass && net_fdset_read_count() < NET_FDSET_MAX) {
      net_fdset_add_read(c->socket);
      ++g_read_rotation.added;
    }
    ++ord->read;
  }
  if (wr) {
    if (g_write_rotation.take_now(ord->write) == first_pass && net_fdset_write_count() < NET_FDSET_MAX) {
      net_fdset_add_write(c->socket);
      ++g_write_rotation.added;
    }
    ++ord->write;
  }
}

// Releases a closed connection that is done or out of time; true if it went.
bool release_if_finished(net_conn* c) {
  if (!c->closed) return false;
  if (net_buffer_used(&c->wb) > 0 || net_buffer_used(&c->ewb) > 0) {
    if (!timed_out(c->last_activity, c->timeout)) {
      if (net_buffer_used(&c->ewb) > 0)
        net_log_verbose(
            "tcp.c: check if I can write/read some data to client while closed_flag is true.. ser:%d.\n", c->serial);
      return false;
    }
    net_log_verbose("tcp.c: absolute close_timeout for ser:%d! calling closewatcher 2.\n", c->serial);
    net_conn_free(c, 1, NET_CLOSE_DRAIN_TIMEOUT);
    net_log_verbose("tcp.c: conn_free(c,1) and continue 2.\n");
    return true;
  }
  if (c->cipher_flags != 0 && c->keyex_state != NET_KEYEX_DONE)
    net_log_verbose("tcp.c: conn_free(c,0) and continue 1.\n");
  else
    net_log_verbose("tcp.c: conn_free(c,1) and continue 1.\n");
  net_conn_release_for(c, NET_CLOSE_DRAINED);
  return true;
}

void tcp_step() {
  g_write_counter = (g_write_counter + 1) % g_write_spread;
  net_fdset_clear();
  for_each_context([](tcpcontext* ctx) {
    if (ctx->server && ctx->listen_socket >= 0) net_fdset_add_read(ctx->listen_socket);
  });

  g_read_rotation.candidates = g_read_rotation.added = 0;
  g_write_rotation.candidates = g_write_rotation.added = 0;
  Ordinals ord;
  for_each_conn([&](net_conn* c) {
    if (release_if_finished(c)) return;
    add_to_sets(c, &ord, true);
  });
  if (g_read_rotation.skip > 0 || g_write_rotation.skip > 0) {
    Ordinals again;
    for_each_conn([&](net_conn* c) { add_to_sets(c, &again, false); });
  }
  g_read_rotation.candidates = ord.read;
  g_write_rotation.candidates = ord.write;
  g_read_rotation.advance();
  g_write_rotation.advance();

  int read_ready = 0, write_ready = 0;
  net_socket_wait(g_net.select_width, &read_ready, &write_ready);

  for_each_conn([&](net_conn* c) {
    if (timed_out(c->last_activity, c->timeout)) {
      net_log_verbose("Warning:4105 connection timeout. fd:%d sec:%d\n", c->socket, c->timeout);
      net_conn_close(net_conn_handle(c));
      return;
    }
    int readable = read_ready > 0 && net_socket_is_readable(c->socket);
    int writable = write_ready > 0 && net_socket_is_writable(c->socket);
    net_conn_io(c, readable, writable);
  });

  if (read_ready > 0) {
    for_each_context([](tcpcontext* ctx) {
      if (ctx->server && ctx->listen_socket >= 0 && net_socket_is_readable(ctx->listen_socket))
        net_tcpcontext_accept(ctx);
    });
  }
  for_each_context([](tcpcontext* ctx) {
    if (ctx->circuit_array >= 0) net_circ_step(ctx);
  });
}

void task_step() {
  if (g_net.taskworld_array < 0) return;
  for (void* e = net_array_first(g_net.taskworld_array); e != nullptr; e = net_array_next(g_net.taskworld_array, e)) {
    net_taskworld* w = static_cast<net_taskworld*>(e);
    if (w->last_run_usec + w->interval_usec > g_net.now_usec) continue;
    w->last_run_usec = g_net.now_usec;
    for (int32_t n = 0; n < w->slots_per_tick && w->slots > 0; ++n) {
      net_task* t = static_cast<net_task*>(net_array_get(w->task_array, w->cursor));
      if (t == nullptr) {
        net_log_important("Bug: task.c: net_task_poll bug 1\n");
        break;
      }
      if (t->in_use && t->last_run_usec + t->interval_usec < g_net.now_usec) {
        t->last_run_usec = g_net.now_usec;
        ++t->run_count;
        if (t->callback != nullptr && t->callback(t, t->user, t->arg) < 0) net_task_remove(t);
      }
      if (++w->cursor >= w->slots) {
        w->cursor = 0;
        if (w->log_scan) net_log_important("[task %s scan complete]\n", w->name);
      }
    }
  }
}

}  // namespace

void net_tick() {
  ++g_net.heartbeat_count;
  tcp_step();
  task_step();
  net_clock_update();
}

void net_set_write_spread(int32_t spread) {
  g_write_spread = spread < 1 ? 1 : spread;
  g_write_counter = 0;
}

net_taskworld* net_taskworld_create(const char* name, int64_t interval_usec, int32_t slots, int32_t slots_per_tick,
                                    int log_scan) {
  if (slots <= 0 || slots_per_tick <= 0) {
    net_fail(NET_ERR_INVALID);
    return nullptr;
  }
  auto* w = static_cast<net_taskworld*>(net_array_alloc(g_net.taskworld_array));
  if (w == nullptr) return nullptr;
  std::memset(w, 0, sizeof *w);
  int tasks = init_array(sizeof(net_task), slots, name != nullptr ? name : "task");
  if (tasks < 0) {
    net_array_free(g_net.taskworld_array, w);
    net_fail(NET_ERR_NOMEM);
    return nullptr;
  }
  if (name != nullptr) std::strncpy(w->name, name, sizeof w->name - 1);
  w->interval_usec = interval_usec;
  w->last_run_usec = 0;
  w->task_array = tasks;
  w->slots = slots;
  w->slots_per_tick = slots_per_tick;
  w->log_scan = log_scan;
  net_succeed();
  return w;
}

int net_taskworld_release(net_taskworld* w) {
  if (w == nullptr || g_net.taskworld_array < 0 || net_array_index(g_net.taskworld_array, w) < 0)
    return net_fail(NET_ERR_INVALID);
  net_end_array(w->task_array);
  return net_array_free(g_net.taskworld_array, w);
}

net_task* net_task_add(net_taskworld* w, int64_t interval_usec, net_task_fn callback, void* user, void* arg) {
  if (w == nullptr || callback == nullptr) {
    net_fail(NET_ERR_INVALID);
    return nullptr;
  }
  auto* t = static_cast<net_task*>(net_array_alloc(w->task_array));
  if (t == nullptr) return nullptr;
  t->in_use = 1;
  t->interval_usec = interval_usec;
  t->last_run_usec = g_net.now_usec;
  t->run_count = 0;
  t->callback = callback;
  t->user = user;
  t->arg = arg;
  t->world = w;
  ++w->task_count;
  net_succeed();
  return t;
}

int net_task_remove(net_task* t) {
  if (t == nullptr || !t->in_use) return net_fail(NET_ERR_INVALID);
  net_taskworld* w = t->world;
  t->in_use = 0;
  --w->task_count;
  return net_array_free(w->task_array, t);
}
