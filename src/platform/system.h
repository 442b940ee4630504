// Clock, process and thread services for the portable core.
#pragma once

#include <cstdint>
#include <functional>

namespace plat {

// Milliseconds since start-up; wraps after 49.7 days (GetTickCount).
uint32_t GetTickCount();
uint32_t GetCurrentProcessId();
void Sleep(uint32_t milliseconds);

// Starts fn on a new detached thread; the thread ends by returning from fn.
bool StartThread(std::function<void()> fn);

// A recursive lock, like a Windows critical section.
class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void Lock();
  void Unlock();

 private:
  void* m_impl;
};

class Lock {
 public:
  explicit Lock(CriticalSection& cs) : m_cs(cs) { m_cs.Lock(); }
  ~Lock() { m_cs.Unlock(); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  CriticalSection& m_cs;
};

// A manual-reset event: stays signalled until Reset.
class ManualResetEvent {
 public:
  explicit ManualResetEvent(bool initiallySet = false);
  ~ManualResetEvent();
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;
  void Set();
  void Reset();
  // Waits up to timeout milliseconds (kInfinite: no limit); true when signalled.
  bool Wait(uint32_t timeout);
  static constexpr uint32_t kInfinite = 0xFFFFFFFF;

 private:
  void* m_impl;
};

}  // namespace plat
