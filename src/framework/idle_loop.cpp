#include "framework/idle_loop.h"

CIdleMessageLoop::CIdleMessageLoop(CWinThread* thread) : m_pThread(thread ? thread : AfxGetApp()) {}

void CIdleMessageLoop::ResetIdle() {
  m_bIdle = TRUE;
  m_lIdleCount = 0;
}

int CIdleMessageLoop::Run(int elapse) {
  MSG peek;
  while (m_bIdle) {
    if (::PeekMessageA(&peek, nullptr, 0, 0, PM_NOREMOVE)) break;
    BOOL more = m_pThread->OnIdle(m_lIdleCount);
    ++m_lIdleCount;
    if (!more) m_bIdle = FALSE;
  }

  CWnd* main = m_pThread->m_pMainWnd;
  HWND mainWindow = main != nullptr ? main->m_hWnd : nullptr;
  // Its WM_TIMER needs no handler: it only ends the wait for a message.
  // Without a main window a thread timer does the same; it has an id of its own.
  UINT_PTR threadTimer = 0;
  if (elapse != -1) {
    if (mainWindow != nullptr) {
      ::SetTimer(mainWindow, kWakeTimerId, static_cast<UINT>(elapse), nullptr);
    } else {
      threadTimer = ::SetTimer(nullptr, 0, static_cast<UINT>(elapse), nullptr);
    }
  }

  int result = 0;
  for (;;) {
    if (!m_pThread->PumpMessage()) {
      ::PostQuitMessage(0);
      result = 1;
      break;
    }
    if (m_pThread->IsIdleMessage(&m_pThread->GetCurrentMessage())) ResetIdle();
    if (!::PeekMessageA(&peek, nullptr, 0, 0, PM_NOREMOVE)) break;
  }

  main = m_pThread->m_pMainWnd;
  if (elapse != -1 && main != nullptr && main->m_hWnd != nullptr) ::KillTimer(main->m_hWnd, kWakeTimerId);
  if (threadTimer != 0) ::KillTimer(nullptr, threadTimer);
  return result;
}
