#include "framework/app.h"

#include <process.h>

#include "framework/msgbox.h"

CMessageBoxSeam& Win32MessageBoxSeam();

namespace {
CWinApp* g_app = nullptr;

struct ThreadStart {
  AFX_THREADPROC proc;
  LPVOID param;
  CWinThread* thread;
  HANDLE go;  // the creator fills in the object before the thread reads it
};

unsigned __stdcall ThreadEntry(void* raw) {
  auto* start = static_cast<ThreadStart*>(raw);
  ::WaitForSingleObject(start->go, INFINITE);
  ::CloseHandle(start->go);
  AFX_THREADPROC proc = start->proc;
  LPVOID param = start->param;
  CWinThread* thread = start->thread;
  delete start;
  UINT code = proc(param);
  if (thread->m_bAutoDelete) delete thread;
  return code;
}
}  // namespace

CWinThread::~CWinThread() {
  if (m_hThread != nullptr) ::CloseHandle(m_hThread);
}

int CWinThread::Run() {
  BOOL idle = TRUE;
  LONG idleCount = 0;
  MSG peek;
  for (;;) {
    while (idle && !::PeekMessageA(&peek, nullptr, 0, 0, PM_NOREMOVE)) {
      if (!OnIdle(idleCount++)) idle = FALSE;
    }
    do {
      if (!PumpMessage()) return ExitInstance();
      if (IsIdleMessage(&m_msgCur)) {
        idle = TRUE;
        idleCount = 0;
      }
    } while (::PeekMessageA(&peek, nullptr, 0, 0, PM_NOREMOVE));
  }
}

BOOL CWinThread::OnIdle(LONG count) {
  // Nothing is cached between messages, so one pass is all the idle work there is.
  return count < 1;
}

BOOL CWinThread::PumpMessage() {
  if (::GetMessageA(&m_msgCur, nullptr, 0, 0) <= 0) return FALSE;
  if (!PreTranslateMessage(&m_msgCur)) {
    ::TranslateMessage(&m_msgCur);
    ::DispatchMessageA(&m_msgCur);
  }
  return TRUE;
}

BOOL CWinThread::IsIdleMessage(const MSG* msg) {
  // A mouse that did not move, a repaint and the caret's blink timer do not
  // make new idle work.
  if (msg->message == WM_MOUSEMOVE || msg->message == WM_NCMOUSEMOVE) {
    if (m_ptLastMouseMove.x == msg->pt.x && m_ptLastMouseMove.y == msg->pt.y) return FALSE;
    m_ptLastMouseMove = msg->pt;
    return TRUE;
  }
  return msg->message != WM_PAINT && msg->message != 0x0118;  // WM_SYSTIMER
}

BOOL CWinThread::PreTranslateMessage(MSG* msg) {
  // From the window the message is for up to its top-level window, every
  // window object of ours gets a look at it.
  for (HWND hwnd = msg->hwnd; hwnd != nullptr; hwnd = ::GetParent(hwnd)) {
    CWnd* object = CWnd::FromHandlePermanent(hwnd);
    if (object != nullptr && object->PreTranslateMessage(msg)) return TRUE;
    if (!(::GetWindowLongPtrA(hwnd, GWL_STYLE) & WS_CHILD)) break;
  }
  return FALSE;
}

int CWinThread::ExitInstance() { return 0; }

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority, UINT stackSize, DWORD createFlags) {
  auto* thread = new CWinThread;
  auto* start = new ThreadStart{proc, param, thread, ::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  if (start->go == nullptr) {
    delete start;
    delete thread;
    return nullptr;
  }
  unsigned id = 0;
  HANDLE handle = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, stackSize, ThreadEntry, start, CREATE_SUSPENDED, &id));
  if (handle == nullptr) {
    ::CloseHandle(start->go);
    delete start;
    delete thread;
    return nullptr;
  }
  thread->m_hThread = handle;
  thread->m_nThreadID = id;
  ::SetThreadPriority(handle, priority);
  ::SetEvent(start->go);
  if (!(createFlags & CREATE_SUSPENDED)) ::ResumeThread(handle);
  return thread;
}

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

std::string CWinApp::GetProfileString(const char* section, const char* entry, const char* defaultValue) const {
  std::string result = defaultValue ? defaultValue : "";
  if (m_strRegistryKey.empty()) return result;
  std::string path = "Software\\" + m_strRegistryKey + "\\" + m_strProfileName + "\\" + section;
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return result;
  DWORD type = 0;
  DWORD size = 0;
  if (::RegQueryValueExA(key, entry, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
    std::string value(size + 1, '\0');
    if (::RegQueryValueExA(key, entry, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) ==
        ERROR_SUCCESS) {
      value.resize(strnlen(value.c_str(), size));
      result = value;
    }
  }
  ::RegCloseKey(key);
  return result;
}

CWinApp* AfxGetApp() { return g_app; }

HINSTANCE AfxGetInstanceHandle() { return g_app ? g_app->m_hInstance : ::GetModuleHandleA(nullptr); }

CWnd* AfxGetMainWnd() { return g_app ? g_app->m_pMainWnd : nullptr; }

int AfxWinMain(HINSTANCE instance) {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return -1;
  app->m_hInstance = instance;
  SetMessageBoxSeam(&Win32MessageBoxSeam());
  if (!app->InitInstance()) {
    if (app->m_pMainWnd != nullptr) app->m_pMainWnd->DestroyWindow();
    return app->ExitInstance();
  }
  return app->Run();
}
