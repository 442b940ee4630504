// The heartbeat and periodic tasks. The library has no thread: everything
// it does on the network happens inside net_tick.
#pragma once

#include <cstdint>

struct net_task;
struct net_taskworld;

// A task callback; a negative result removes the task.
using net_task_fn = int (*)(net_task* task, void* user, void* arg);

struct net_task {
  int32_t in_use;
  int64_t interval_usec;
  int64_t last_run_usec;
  uint32_t run_count;
  net_task_fn callback;
  void* user;
  void* arg;
  net_taskworld* world;
};

struct net_taskworld {
  char name[32];
  int64_t interval_usec;
  int64_t last_run_usec;
  int32_t task_array;
  int32_t cursor;
  int32_t slots;
  int32_t slots_per_tick;
  int32_t task_count;
  int32_t log_scan;
};

// One heartbeat: I/O of every connection, accepts, tasks, then the clock.
void net_tick();

// Write rotation: with a spread of n, a connection joins the write set
// every n-th heartbeat (by its array position). Default 1.
void net_set_write_spread(int32_t spread);

// Task worlds and tasks. A world visits slots_per_tick of its slots each
// time its own interval has passed.
net_taskworld* net_taskworld_create(const char* name, int64_t interval_usec, int32_t slots, int32_t slots_per_tick,
                                    int log_scan);
int net_taskworld_release(net_taskworld* world);
net_task* net_task_add(net_taskworld* world, int64_t interval_usec, net_task_fn callback, void* user, void* arg);
int net_task_remove(net_task* task);
