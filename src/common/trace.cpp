#include "common/trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace trace {
namespace {

using Clock = std::chrono::steady_clock;

struct Category {
  const char* name;
  Clock::duration total;
  uint64_t count;
};

struct State {
  std::mutex lock;
  std::FILE* file = nullptr;
  Clock::time_point start = Clock::now();
  std::vector<Category> categories;
};

// Opened on first use; a trace that cannot be opened is simply off.
State* Get() {
  static State* state = [] {
    const char* path = std::getenv("WREN_TRACE");
    if (path == nullptr || *path == '\0') return static_cast<State*>(nullptr);
    std::FILE* file = std::fopen(path, "w");
    if (file == nullptr) return static_cast<State*>(nullptr);
    State* created = new State;  // lives as long as the process
    created->file = file;
    return created;
  }();
  return state;
}

long long MillisecondsOf(Clock::duration d) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

}  // namespace

bool Enabled() { return Get() != nullptr; }

void Event(const char* name, const char* detail) {
  State* state = Get();
  if (state == nullptr) return;
  std::lock_guard<std::mutex> guard(state->lock);
  std::fprintf(state->file, "T\t%lld\t%s%s%s\n", MillisecondsOf(Clock::now() - state->start), name,
               detail ? "\t" : "", detail ? detail : "");
  std::fflush(state->file);
}

void Add(const char* category, Clock::duration spent) {
  State* state = Get();
  if (state == nullptr) return;
  std::lock_guard<std::mutex> guard(state->lock);
  for (Category& known : state->categories) {
    if (std::strcmp(known.name, category) == 0) {
      known.total += spent;
      ++known.count;
      return;
    }
  }
  state->categories.push_back({category, spent, 1});
}

void WriteSummary() {
  State* state = Get();
  if (state == nullptr) return;
  std::lock_guard<std::mutex> guard(state->lock);
  for (const Category& category : state->categories)
    std::fprintf(state->file, "S\t%s\t%lld\t%llu\n", category.name, MillisecondsOf(category.total),
                 static_cast<unsigned long long>(category.count));
  state->categories.clear();
  std::fflush(state->file);
}

}  // namespace trace
