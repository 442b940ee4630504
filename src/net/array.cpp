#include "net/array.h"

#include <cstring>

#include "net/core.h"
#include "net/state.h"

namespace {

struct Slot {
  int32_t in_use;
  Slot* older;
  Slot* newer;
  char* element;
};

struct ArrayDesc {
  int32_t in_use;
  int32_t num;
  uint32_t size;
  Slot* slots;
  Slot** free_stack;
  int32_t used;
  char* master;
  uint32_t total;
  Slot* newest;
  Slot* oldest;
  char name[32];
};

ArrayDesc* g_table = nullptr;
int g_table_size = 0;

ArrayDesc* desc_at(int index) {
  if (g_table == nullptr || index < 0 || index >= g_table_size) return nullptr;
  ArrayDesc* d = &g_table[index];
  return d->in_use ? d : nullptr;
}

// Position of element in d, or -1 when it is not exactly on an element.
int position_of(const ArrayDesc* d, const void* element) {
  const char* p = static_cast<const char*>(element);
  if (p < d->master) return -1;
  size_t offset = static_cast<size_t>(p - d->master);
  if (offset % d->size != 0) return -1;
  size_t pos = offset / d->size;
  if (pos >= static_cast<size_t>(d->num)) return -1;
  return static_cast<int>(pos);
}

}  // namespace

// The array table itself is created and released by initialisation.
bool net_array_table_create(int count) {
  g_table = static_cast<ArrayDesc*>(net_malloc(sizeof(ArrayDesc) * static_cast<size_t>(count)));
  if (g_table == nullptr) return false;
  std::memset(g_table, 0, sizeof(ArrayDesc) * static_cast<size_t>(count));
  g_table_size = count;
  return true;
}

void net_array_table_release() {
  // Arrays that their owners never ended (contexts, task worlds still
  // open) go with the table rather than leak.
  for (int i = 0; i < g_table_size; ++i)
    if (g_table[i].in_use) net_end_array(i);
  net_free(g_table);
  g_table = nullptr;
  g_table_size = 0;
}

int init_array(uint32_t element_size, int32_t count, const char* name) {
  int index = -1;
  for (int i = 0; i < g_table_size; ++i) {
    if (!g_table[i].in_use) {
      index = i;
      break;
    }
  }
  if (index < 0) {
    net_log_verbose("Fatal:1003 array table scarcity (init_array)\n");
    return net_fail(NET_ERR_NOROOM);
  }
  if (element_size == 0 || count <= 0) return net_fail(NET_ERR_INVALID);

  size_t n = static_cast<size_t>(count);
  size_t total = static_cast<size_t>(element_size) * n;
  if (total / n != element_size || total > 0xFFFFFFFFu) return net_fail(NET_ERR_INVALID);
  char* master = static_cast<char*>(net_malloc(total));
  if (master == nullptr) {
    net_log_verbose("Fatal:1010 MALLOC fail (index=%d)\n", index);
    return net_fail(NET_ERR_NOROOM);
  }
  Slot* slots = static_cast<Slot*>(net_malloc(sizeof(Slot) * n));
  if (slots == nullptr) {
    net_log_verbose("Fatal:1011 MALLOC fail (index=%d)\n", index);
    net_free(master);
    return net_fail(NET_ERR_NOROOM);
  }
  Slot** free_stack = static_cast<Slot**>(net_malloc(sizeof(Slot*) * n));
  if (free_stack == nullptr) {
    net_log_verbose("Fatal:1012 MALLOC fail (index=%d)\n", index);
    net_free(master);
    net_free(slots);
    return net_fail(NET_ERR_NOROOM);
  }
  std::memset(master, 0, total);
  std::memset(slots, 0, sizeof(Slot) * n);
  std::memset(free_stack, 0, sizeof(Slot*) * n);
  for (size_t i = 0; i < n; ++i) {
    slots[i].element = master + i * element_size;
    free_stack[i] = &slots[i];
  }

  ArrayDesc& d = g_table[index];
  d.in_use = 1;
  d.num = count;
  d.size = element_size;
  d.slots = slots;
  d.free_stack = free_stack;
  d.used = 0;
  d.master = master;
  d.total = static_cast<uint32_t>(total);
  d.newest = nullptr;
  d.oldest = nullptr;
  std::memset(d.name, 0, sizeof d.name);
  if (name != nullptr) std::strncpy(d.name, name, sizeof d.name - 1);
  net_log_verbose("Note:10310 init_array OK index:%d bufmaster:%p size:%u num:%d name:%s\n",
                  index, static_cast<void*>(master), element_size, count, d.name);
  net_succeed();
  return index;
}

void* net_array_alloc(int index) {
  ArrayDesc* d = desc_at(index);
  if (d == nullptr) {
    net_fail(NET_ERR_INVALID);
    return nullptr;
  }
  if (d->used == d->num) {
    net_log_verbose("Fatal:1020 array full in %s\n", d->name);
    net_fail(NET_ERR_NOROOM);
    return nullptr;
  }
  Slot* s = d->free_stack[d->used++];
  s->in_use = 1;
  s->older = d->newest;
  s->newer = nullptr;
  if (d->newest != nullptr)
    d->newest->newer = s;
  else
    d->oldest = s;
  d->newest = s;
  net_succeed();
  return s->element;
}

int net_array_free(int index, void* element) {
  ArrayDesc* d = desc_at(index);
  if (d == nullptr) return net_fail(NET_ERR_INVALID);
  char* p = static_cast<char*>(element);
  if (p == nullptr) {
    net_log_verbose("Warning:4000 freeing null pointer in %s\n", d->name);
    return net_fail(NET_ERR_INVALID);
  }
  if (p < d->master) {
    net_log_verbose("Warning:4001 freeing an out-of-bound element in %s address:%p master-address:%p\n",
                    d->name, element, static_cast<void*>(d->master));
    return net_fail(NET_ERR_INVALID);
  }
  size_t offset = static_cast<size_t>(p - d->master);
  if (offset % d->size != 0) {
    net_log_verbose(
        "Warning:4002 freeing an oddly-aligned element in %s address:%p master-address:%p sizeof:%u\n",
        d->name, element, static_cast<void*>(d->master), d->size);
    return net_fail(NET_ERR_INVALID);
  }
  size_t pos = offset / d->size;
  if (pos >= static_cast<size_t>(d->num)) {
    net_log_verbose(
        "Warning:4003 freeing an out-of-bound element in %s address:%p master-address:%p sizeof:%u\n",
        d->name, element, static_cast<void*>(d->master), d->size);
    return net_fail(NET_ERR_INVALID);
  }
  Slot* s = &d->slots[pos];
  if (!s->in_use) {
    net_log_verbose("Warning:4214 re-freeing an element in %s address:%p\n", d->name, element);
    return net_fail(NET_ERR_TWICE);
  }
  d->free_stack[--d->used] = s;
  // Unlink, but leave the slot's own links alone: a walk that is standing
  // on this element must still find the one before it.
  if (s->newer != nullptr)
    s->newer->older = s->older;
  else
    d->newest = s->older;
  if (s->older != nullptr)
    s->older->newer = s->newer;
  else
    d->oldest = s->newer;
  s->in_use = 0;
  return net_fail(NET_OK);
}

void* net_array_first(int index) {
  ArrayDesc* d = desc_at(index);
  if (d == nullptr) {
    net_fail(NET_ERR_INVALID);
    return nullptr;
  }
  return d->newest != nullptr ? d->newest->element : nullptr;
}

void* net_array_next(int index, void* element) {
  ArrayDesc* d = desc_at(index);
  if (d == nullptr || element == nullptr) {
    net_fail(NET_ERR_INVALID);
    return nullptr;
  }
  int pos = position_of(d, element);
  if (pos < 0) {
    net_fail(NET_ERR_INVALID);
    return nullptr;
  }
  Slot* older = d->slots[pos].older;
  // A released slot keeps its stale link; skip anything released since,
  // so a walk never hands back a free element.
  for (int hops = 0; older != nullptr && !older->in_use && hops < d->num; ++hops) older = older->older;
  if (older != nullptr && !older->in_use) older = nullptr;
  return older != nullptr ? older->element : nullptr;
}

int net_array_index(int index, const void* element) {
  ArrayDesc* d = desc_at(index);
  if (d == nullptr) return net_fail(NET_ERR_INVALID);
  int pos = position_of(d, element);
  if (pos < 0) return net_fail(NET_ERR_ALIGN);
  net_succeed();
  return pos;
}

void* net_array_get(int index, int position) {
  ArrayDesc* d = desc_at(index);
  if (d == nullptr || position < 0 || position >= d->num) {
    net_fail(NET_ERR_INVALID);
    return nullptr;
  }
  net_succeed();
  return d->slots[position].element;
}

void* net_array_get_in_use(int index, int position) {
  void* e = net_array_get(index, position);
  if (e == nullptr) return nullptr;
  return g_table[index].slots[position].in_use ? e : nullptr;
}

int net_array_element_size(int index) {
  ArrayDesc* d = desc_at(index);
  if (d == nullptr) return net_fail(NET_ERR_INVALID);
  net_succeed();
  return static_cast<int>(d->size);
}

int net_end_array(int index) {
  ArrayDesc* d = desc_at(index);
  if (d == nullptr) return net_fail(NET_ERR_INVALID);
  net_free(d->master);
  net_free(d->slots);
  net_free(d->free_stack);
  std::memset(d, 0, sizeof *d);
  net_log_verbose("net_end_array: index %d\n", index);
  return net_fail(NET_OK);
}

int net_array_count(int index) {
  ArrayDesc* d = desc_at(index);
  return d != nullptr ? d->num : NET_ERR_INVALID;
}

int net_array_used(int index) {
  ArrayDesc* d = desc_at(index);
  return d != nullptr ? d->used : NET_ERR_INVALID;
}

const char* net_array_name(int index) {
  ArrayDesc* d = desc_at(index);
  return d != nullptr ? d->name : nullptr;
}
