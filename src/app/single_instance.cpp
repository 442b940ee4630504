#include "app/single_instance.h"

CMutexObject::~CMutexObject() {
  if (m_hMutex != nullptr) {
    ::CloseHandle(m_hMutex);
    m_hMutex = nullptr;
  }
}

BOOL CMutexObject::Create(const char* name) {
  m_hMutex = ::CreateMutexA(nullptr, FALSE, name);
  return m_hMutex != nullptr;
}

BOOL ActivatePreviousInstance(const char* mutexName, const char* className) {
  HANDLE mutex = ::OpenMutexA(MUTEX_ALL_ACCESS, FALSE, mutexName);
  if (mutex == nullptr) return FALSE;
  if (className != nullptr) {
    if (HWND window = ::FindWindowA(className, nullptr)) {
      // The last active popup is an open message box or dialog of that copy,
      // or the frame itself.
      HWND popup = ::GetLastActivePopup(window);
      if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
      ::SetForegroundWindow(popup);
    }
  }
  ::CloseHandle(mutex);
  return TRUE;
}
