// The application and thread objects: start-up, the message loop with idle
// processing, the registry profile, worker thread start.
#pragma once

#include <windows.h>

#include <string>

#include "framework/wnd.h"

// ID_APP_EXIT: the command that ends the program.
inline constexpr UINT ID_APP_EXIT = 57665;
// Sent to every window of a frame once it is laid out.
inline constexpr UINT WM_INITIALUPDATE = 0x0364;

class CWinThread {
 public:
  CWinThread() = default;
  virtual ~CWinThread();
  CWinThread(const CWinThread&) = delete;
  CWinThread& operator=(const CWinThread&) = delete;

  CWnd* m_pMainWnd = nullptr;
  HANDLE m_hThread = nullptr;
  DWORD m_nThreadID = 0;
  // Worker threads delete their object when they end unless this is cleared
  // (clear it on a suspended thread when the creator wants to wait on it).
  BOOL m_bAutoDelete = TRUE;

  DWORD ResumeThread() const { return ::ResumeThread(m_hThread); }

  // The message loop of the user-interface thread and its parts.
  virtual int Run();
  virtual BOOL OnIdle(LONG count);
  // Takes one message (waiting for it) and dispatches it; FALSE on WM_QUIT.
  virtual BOOL PumpMessage();
  virtual BOOL IsIdleMessage(const MSG* msg);
  virtual BOOL PreTranslateMessage(MSG* msg);
  virtual int ExitInstance();
  const MSG& GetCurrentMessage() const { return m_msgCur; }

 protected:
  MSG m_msgCur{};

 private:
  POINT m_ptLastMouseMove{-1, -1};
};

using AFX_THREADPROC = UINT (*)(LPVOID);
// Starts proc(param) on a new thread (flags: 0 or CREATE_SUSPENDED). Null on failure.
CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority = THREAD_PRIORITY_NORMAL,
                           UINT stackSize = 0, DWORD createFlags = 0);

class CWinApp : public CWinThread {
 public:
  CWinApp();
  ~CWinApp() override;

  virtual BOOL InitInstance() { return TRUE; }
  int ExitInstance() override { return 0; }

  // Profile calls go to HKEY_CURRENT_USER\Software\<key>\<profile name>.
  void SetRegistryKey(const char* key) { m_strRegistryKey = key; }
  std::string GetProfileString(const char* section, const char* entry, const char* defaultValue) const;

  HICON LoadIcon(UINT id) const { return ::LoadIconA(m_hInstance, MAKEINTRESOURCEA(id)); }

  HINSTANCE m_hInstance = nullptr;
  std::string m_strRegistryKey;
  std::string m_strProfileName;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
CWnd* AfxGetMainWnd();

// The body of WinMain: InitInstance, then the message loop (or ExitInstance).
int AfxWinMain(HINSTANCE instance);
