#include "app/main_frame.h"

#include "common/strings.h"
#include "framework/app.h"
#include "wizard/resource_ids.h"

BOOL CMainFrame::PreCreateWindow(CREATESTRUCTA& cs) {
  if (!CFrameWnd::PreCreateWindow(cs)) return FALSE;
  cs.dwExStyle &= ~WS_EX_CLIENTEDGE;
  cs.style = WS_CLIPCHILDREN | WS_SYSMENU;
  cs.lpszClass = kMainWindowClass;
  return TRUE;
}

BOOL CMainFrame::LoadFrame(UINT idResource, DWORD style, CWnd* parent, void* context) {
  if (!CFrameWnd::LoadFrame(idResource, style & ~FWS_ADDTOTITLE, parent, context)) return FALSE;

  ::SetMenu(m_hWnd, nullptr);
  if (m_hMenuDefault != nullptr) {
    ::DestroyMenu(m_hMenuDefault);
    m_hMenuDefault = nullptr;
  }
  SetWindowText(LoadResString(IDS_APP_CAPTION));

  // Only the move command stays: no close, size, minimise or maximise.
  if (HMENU menu = ::GetSystemMenu(m_hWnd, FALSE)) {
    for (UINT command : {SC_CLOSE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE}) {
      ::DeleteMenu(menu, command, MF_BYCOMMAND);
    }
    for (int pos = ::GetMenuItemCount(menu); pos >= 0; --pos) {
      if (::GetMenuItemID(menu, pos) == 0) ::DeleteMenu(menu, static_cast<UINT>(pos), MF_BYPOSITION);
    }
  }

  RECT wizard;
  ::GetWindowRect(m_wndWizard.m_hWnd, &wizard);
  RECT outer{0, 0, wizard.right - wizard.left, wizard.bottom - wizard.top};
  ::AdjustWindowRectEx(&outer, GetStyle(), FALSE, GetExStyle());
  ::SetWindowPos(m_hWnd, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top, SWP_NOMOVE | SWP_NOZORDER);
  CenterWindow();

  SendMessageToDescendants(WM_INITIALUPDATE, 0, 0, TRUE, TRUE);
  return TRUE;
}

int CMainFrame::OnCreate(CREATESTRUCTA* cs) {
  if (CFrameWnd::OnCreate(cs) == -1) return -1;
  return m_wndWizard.CreateWizard(this) ? 0 : -1;
}

LRESULT CMainFrame::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND:
      return TRUE;  // the wizard covers the client area
    case WM_QUERYENDSESSION: {
      LRESULT allowed = CFrameWnd::WindowProc(msg, wp, lp);
      // No shut-down or log-off while the install run's page shows.
      return allowed && !m_wndWizard.IsInstallPageActive();
    }
    case WM_SETFOCUS:
      if (m_wndWizard.m_hWnd != nullptr) ::SetFocus(m_wndWizard.m_hWnd);
      return 0;
    case WM_SYSCOMMAND:
      // The frame has no close command; Alt+F4 must not close it either.
      if ((wp & 0xFFF0) == SC_CLOSE) return 0;
      break;
    default:
      break;
  }
  return CFrameWnd::WindowProc(msg, wp, lp);
}
