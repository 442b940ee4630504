// Set-up and tear-down of the library, last error, clock, allocation and log.
#include "net/core.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/array.h"
#include "net/cipher_hook.h"
#include "net/conn.h"
#include "net/osdep.h"
#include "net/state.h"
#include "net/task.h"
#include "net/vec.h"

bool net_array_table_create(int count);
void net_array_table_release();

net_state g_net;

namespace {

// Per thread, like errno: the library itself runs on one thread, but its
// codecs are also used by the threads of the file-information server.
thread_local int g_last_error = 0;
net_time_source_fn g_time_source = nullptr;
net_malloc_fn g_malloc = nullptr;
net_free_fn g_free = nullptr;

int32_t g_log_level = 0;
char g_log_dir[256] = "";
uint32_t g_log_limit = 0;
uint32_t g_log_written = 0;
int g_log_sequence = 0;

void system_time(int64_t* sec, int32_t* msec) {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  *sec = ms / 1000;
  *msec = static_cast<int32_t>(ms % 1000);
}

void log_write(const char* format, va_list args) {
  if (g_log_dir[0] != '\0') {
    if (g_log_limit != 0 && g_log_written > g_log_limit) {
      ++g_log_sequence;
      g_log_written = 0;
    }
    char path[512];
    std::snprintf(path, sizeof path, "%s/stderr.%d.%d", g_log_dir, static_cast<int>(g_net.pid), g_log_sequence);
    if (FILE* f = std::fopen(path, "a")) {
      int n = std::vfprintf(f, format, args);
      if (n > 0) g_log_written += static_cast<uint32_t>(n);
      std::fclose(f);
      return;
    }
  }
  std::vfprintf(stderr, format, args);
}

void release_work_buffers() {
  net_free(g_net.work_buffer_1);
  net_free(g_net.work_buffer_2);
  g_net.work_buffer_1 = nullptr;
  g_net.work_buffer_2 = nullptr;
}

void end_library_array(int* index) {
  if (*index >= 0) net_end_array(*index);
  *index = -1;
}

// Undoes steps of a failed initialisation.
void unwind_init() {
  end_library_array(&g_net.taskworld_array);
  end_library_array(&g_net.conn_array);
  end_library_array(&g_net.tcpctx_array);
  net_array_table_release();
  release_work_buffers();
}

// Sockets still open when the library goes away would leak: close them.
void close_leftover_sockets() {
  if (g_net.conn_array >= 0) {
    for (void* e = net_array_first(g_net.conn_array); e != nullptr; e = net_array_next(g_net.conn_array, e)) {
      net_conn* c = static_cast<net_conn*>(e);
      if (c->socket >= 0) net_socket_close(c->socket);
      c->socket = -1;
      c->serial = 0;
      net_conn_cipher_release(c);
    }
  }
  if (g_net.tcpctx_array >= 0) {
    for (void* e = net_array_first(g_net.tcpctx_array); e != nullptr; e = net_array_next(g_net.tcpctx_array, e)) {
      tcpcontext* ctx = static_cast<tcpcontext*>(e);
      if (ctx->server && ctx->listen_socket >= 0) net_socket_close(ctx->listen_socket);
      ctx->listen_socket = -1;
    }
  }
}

}  // namespace

int net_fail(int code) {
  g_last_error = code;
  return code;
}

int net_last_error() { return g_last_error; }

const net_limits& net_current_limits() { return g_net.limits; }

void net_limits_reset(net_limits* limits) {
  limits->max_tcpcontext = -1;
  limits->max_taskworld = -1;
  limits->max_conn = -1;
  limits->max_hashtable = -1;
  limits->max_array = -1;
  limits->work_buffer_size_1 = -1;
  limits->work_buffer_size_2 = -1;
}

int net_init_with_limits(const net_limits* limits) {
  if (limits == nullptr) return net_fail(NET_ERR_INVALID);
  net_limits& cur = g_net.limits;
  const int32_t* src[] = {&limits->max_tcpcontext, &limits->max_taskworld, &limits->max_conn,
                          &limits->max_hashtable,  &limits->max_array,     &limits->work_buffer_size_1,
                          &limits->work_buffer_size_2};
  int32_t* dst[] = {&cur.max_tcpcontext, &cur.max_taskworld,      &cur.max_conn,          &cur.max_hashtable,
                    &cur.max_array,      &cur.work_buffer_size_1, &cur.work_buffer_size_2};
  for (size_t i = 0; i < sizeof src / sizeof src[0]; ++i)
    if (*src[i] != -1) *dst[i] = *src[i];
  if (cur.max_array < 8) cur.max_array = 8;
  return net_init();
}

int net_init() {
  const net_limits& lim = g_net.limits;
  // Negative sizes other than -1 make no sense; refuse them rather than
  // let them turn into huge allocations.
  if (lim.max_tcpcontext < 0 || lim.max_taskworld < 0 || lim.max_conn < 0 || lim.max_hashtable < 0 ||
      lim.max_array < 1 || lim.work_buffer_size_1 < 0 || lim.work_buffer_size_2 < 0)
    return net_fail(NET_ERR_INVALID);

  g_net.pid = net_process_id();
  g_net.network_ready = net_socket_startup() == 0;
  net_clock_update();

  g_net.work_buffer_1 = static_cast<char*>(net_malloc(static_cast<size_t>(lim.work_buffer_size_1)));
  g_net.work_buffer_2 = static_cast<char*>(net_malloc(static_cast<size_t>(lim.work_buffer_size_2)));
  if (g_net.work_buffer_1 == nullptr || g_net.work_buffer_2 == nullptr) {
    release_work_buffers();
    return net_fail(NET_ERR_NOMEM);
  }
  if (!net_array_table_create(lim.max_array)) {
    release_work_buffers();
    return net_fail(NET_ERR_NOMEM);
  }
  g_net.taskworld_array = g_net.conn_array = g_net.tcpctx_array = -1;
  struct {
    int32_t count;
    uint32_t size;
    const char* name;
    int* index;
  } arrays[] = {
      {lim.max_taskworld, sizeof(net_taskworld), "taskworld", &g_net.taskworld_array},
      {lim.max_conn, sizeof(net_conn), "conn", &g_net.conn_array},
      {lim.max_tcpcontext, sizeof(tcpcontext), "tcpctx", &g_net.tcpctx_array},
  };
  for (auto& a : arrays) {
    if (a.count <= 0) continue;
    int index = init_array(a.size, a.count, a.name);
    if (index < 0) {
      unwind_init();
      return net_fail(NET_ERR_INIT_ARRAY);
    }
    *a.index = index;
  }
  if (lim.max_hashtable > 0 && !net_hashtables_create(lim.max_hashtable)) {
    unwind_init();
    return net_fail(NET_ERR_NOMEM);
  }
  g_net.start_time = g_net.now_sec;
  g_net.select_width = lim.max_conn + lim.max_tcpcontext + 8;
  g_net.conn_count = 0;
  return net_fail(NET_OK);
}

int net_finalize() {
  close_leftover_sockets();
  net_hashtables_release();
  if (g_net.tcpctx_array >= 0) net_end_array(g_net.tcpctx_array);
  bool failed = false;
  if (g_net.conn_array >= 0 && net_end_array(g_net.conn_array) < 0) failed = true;
  if (g_net.taskworld_array >= 0 && net_end_array(g_net.taskworld_array) < 0) failed = true;
  g_net.tcpctx_array = g_net.conn_array = g_net.taskworld_array = -1;
  net_socket_cleanup();
  net_array_table_release();
  release_work_buffers();
  g_net.conn_count = 0;
  net_log_verbose("Note:10400: net: finalized\n");
  return net_fail(failed ? NET_ERR_FINALIZE : NET_OK);
}

void net_set_time_source(net_time_source_fn source) { g_time_source = source; }

void net_clock_update() {
  int64_t sec = 0;
  int32_t msec = 0;
  (g_time_source != nullptr ? g_time_source : system_time)(&sec, &msec);
  g_net.now_sec = static_cast<int32_t>(sec);
  g_net.now_usec = static_cast<int64_t>(g_net.now_sec) * 1000000 + static_cast<int64_t>(msec) * 1000;
}

int32_t net_now_sec() { return g_net.now_sec; }
int64_t net_now_usec() { return g_net.now_usec; }

void net_set_alloc_hooks(net_malloc_fn alloc, net_free_fn release) {
  g_malloc = alloc;
  g_free = release;
}

void* net_malloc(size_t size) {
  void* p = g_malloc != nullptr ? g_malloc(size) : std::malloc(size);
  net_log_verbose("Note:10220 malloc(%u) returns %p\n", static_cast<unsigned>(size), p);
  net_fail(NET_OK);
  return p;
}

void net_free(void* ptr) {
  net_log_verbose("Note:10221 free(%p)\n", ptr);
  if (g_free != nullptr)
    g_free(ptr);
  else
    std::free(ptr);
  net_fail(NET_OK);
}

void net_log_important(const char* format, ...) {
  if (g_log_level < 0) return;
  va_list args;
  va_start(args, format);
  log_write(format, args);
  va_end(args);
}

void net_log_verbose(const char* format, ...) {
  if (g_log_level < 1) return;
  va_list args;
  va_start(args, format);
  log_write(format, args);
  va_end(args);
}

void net_set_log_level(int32_t level) { g_log_level = level; }
int32_t net_log_level() { return g_log_level; }

void net_set_log_dir(const char* dir, uint32_t size_limit) {
  std::snprintf(g_log_dir, sizeof g_log_dir, "%s", dir != nullptr ? dir : "");
  g_log_limit = size_limit;
  g_log_written = 0;
  g_log_sequence = 0;
}

uint32_t net_heartbeat_count() { return g_net.heartbeat_count; }
int32_t net_start_time() { return g_net.start_time; }
int32_t net_select_width() { return g_net.select_width; }
int32_t net_conn_count() { return g_net.conn_count; }
