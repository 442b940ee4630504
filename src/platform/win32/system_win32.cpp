// Windows backend of the clock, process and thread services.
#include "platform/system.h"

#include <windows.h>

#include <memory>

namespace plat {

uint32_t GetTickCount() { return ::GetTickCount(); }
uint32_t GetCurrentProcessId() { return ::GetCurrentProcessId(); }
void Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

namespace {
DWORD WINAPI ThreadMain(LPVOID param) {
  std::unique_ptr<std::function<void()>> fn(static_cast<std::function<void()>*>(param));
  (*fn)();
  return 0;
}
}  // namespace

bool StartThread(std::function<void()> fn) {
  auto* heapFn = new std::function<void()>(std::move(fn));
  HANDLE h = ::CreateThread(nullptr, 0, ThreadMain, heapFn, 0, nullptr);
  if (!h) {
    delete heapFn;
    return false;
  }
  ::CloseHandle(h);
  return true;
}

CriticalSection::CriticalSection() : m_impl(new CRITICAL_SECTION) {
  ::InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(m_impl));
}
CriticalSection::~CriticalSection() {
  ::DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(m_impl));
  delete static_cast<CRITICAL_SECTION*>(m_impl);
}
void CriticalSection::Lock() { ::EnterCriticalSection(static_cast<CRITICAL_SECTION*>(m_impl)); }
void CriticalSection::Unlock() { ::LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(m_impl)); }

ManualResetEvent::ManualResetEvent(bool initiallySet)
    : m_impl(::CreateEventA(nullptr, TRUE, initiallySet ? TRUE : FALSE, nullptr)) {}
ManualResetEvent::~ManualResetEvent() { ::CloseHandle(static_cast<HANDLE>(m_impl)); }
void ManualResetEvent::Set() { ::SetEvent(static_cast<HANDLE>(m_impl)); }
void ManualResetEvent::Reset() { ::ResetEvent(static_cast<HANDLE>(m_impl)); }
bool ManualResetEvent::Wait(uint32_t timeout) {
  return ::WaitForSingleObject(static_cast<HANDLE>(m_impl), timeout == kInfinite ? INFINITE : timeout) ==
         WAIT_OBJECT_0;
}

}  // namespace plat
