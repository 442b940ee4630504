// POSIX backend of the clock, process and thread services.
#include "platform/system.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace plat {

uint32_t GetTickCount() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

uint32_t GetCurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

void Sleep(uint32_t milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

bool StartThread(std::function<void()> fn) {
  try {
    std::thread(std::move(fn)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

CriticalSection::CriticalSection() : m_impl(new std::recursive_mutex) {}
CriticalSection::~CriticalSection() { delete static_cast<std::recursive_mutex*>(m_impl); }
void CriticalSection::Lock() { static_cast<std::recursive_mutex*>(m_impl)->lock(); }
void CriticalSection::Unlock() { static_cast<std::recursive_mutex*>(m_impl)->unlock(); }

namespace {
struct EventState {
  std::mutex mutex;
  std::condition_variable changed;
  bool set = false;
};
EventState& State(void* impl) { return *static_cast<EventState*>(impl); }
}  // namespace

ManualResetEvent::ManualResetEvent(bool initiallySet) : m_impl(new EventState) { State(m_impl).set = initiallySet; }
ManualResetEvent::~ManualResetEvent() { delete &State(m_impl); }

void ManualResetEvent::Set() {
  EventState& s = State(m_impl);
  std::lock_guard<std::mutex> lock(s.mutex);
  s.set = true;
  s.changed.notify_all();
}

void ManualResetEvent::Reset() {
  EventState& s = State(m_impl);
  std::lock_guard<std::mutex> lock(s.mutex);
  s.set = false;
}

bool ManualResetEvent::Wait(uint32_t timeout) {
  EventState& s = State(m_impl);
  std::unique_lock<std::mutex> lock(s.mutex);
  if (timeout == kInfinite) {
    s.changed.wait(lock, [&] { return s.set; });
    return true;
  }
  return s.changed.wait_for(lock, std::chrono::milliseconds(timeout), [&] { return s.set; });
}

}  // namespace plat
