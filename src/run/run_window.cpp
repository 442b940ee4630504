#include "run/run_window.h"

#include "framework/app.h"
#include "run/build_run.h"

namespace {
constexpr char kRunWindowClass[] = "Wren Starter Run";
}

BOOL CRunWindow::Create(CBuildRun* run) {
  m_pRun = run;
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  HINSTANCE instance = AfxGetInstanceHandle();
  if (!::GetClassInfoExA(instance, kRunWindowClass, &wc)) {
    wc = WNDCLASSEXA{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = CWnd::AfxWndProc;
    wc.hInstance = instance;
    wc.lpszClassName = kRunWindowClass;
    if (!::RegisterClassExA(&wc)) return FALSE;
  }
  if (::CreateWindowExA(0, kRunWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this) == nullptr)
    return FALSE;
  SetTimer(kPumpTimerId, kPumpPeriod);
  return TRUE;
}

LRESULT CRunWindow::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (m_pRun != nullptr) {
    if (msg == WM_TIMER && wp == kPumpTimerId) {
      if (m_pRun->IsRunning()) m_pRun->Pump();
      return 0;
    }
    if (m_pRun->OnMessage(msg, wp, lp)) return 0;
  }
  return DefWindowProc(msg, wp, lp);
}
