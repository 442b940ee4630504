// One copy of the program per user: a named mutex marks a running copy, and a
// second start brings the first copy's window (or its open dialog) forward.
#pragma once

#include <windows.h>

class CMutexObject {
 public:
  CMutexObject() = default;
  virtual ~CMutexObject();
  CMutexObject(const CMutexObject&) = delete;
  CMutexObject& operator=(const CMutexObject&) = delete;

  // TRUE when the mutex exists now (made here or already there).
  BOOL Create(const char* name);

 private:
  HANDLE m_hMutex = nullptr;
};

// TRUE when another copy holds the mutex; its window of className (if any)
// is then restored and brought to the front.
BOOL ActivatePreviousInstance(const char* mutexName, const char* className);
