#include "framework/frame.h"

#include "common/strings.h"
#include "framework/app.h"

BOOL CFrameWnd::PreCreateWindow(CREATESTRUCTA& cs) {
  cs.dwExStyle |= WS_EX_CLIENTEDGE;
  return TRUE;
}

BOOL CFrameWnd::LoadFrame(UINT idResource, DWORD style, CWnd* parent, void* /*context*/) {
  std::string title = LoadResString(idResource);
  title = title.substr(0, title.find('\n'));
  CREATESTRUCTA cs{};
  cs.style = style & ~FWS_ADDTOTITLE;
  cs.x = CW_USEDEFAULT;
  cs.y = CW_USEDEFAULT;
  cs.cx = CW_USEDEFAULT;
  cs.cy = CW_USEDEFAULT;
  cs.hwndParent = parent ? parent->m_hWnd : nullptr;
  cs.hInstance = AfxGetInstanceHandle();
  if (!PreCreateWindow(cs) || cs.lpszClass == nullptr) return FALSE;
  m_hMenuDefault = ::LoadMenuA(cs.hInstance, MAKEINTRESOURCEA(idResource));
  HWND hwnd = ::CreateWindowExA(cs.dwExStyle, cs.lpszClass, title.c_str(), cs.style, cs.x, cs.y, cs.cx, cs.cy,
                                cs.hwndParent, m_hMenuDefault, cs.hInstance, this);
  if (hwnd == nullptr) {
    if (m_hMenuDefault != nullptr) ::DestroyMenu(m_hMenuDefault);
    m_hMenuDefault = nullptr;
    return FALSE;
  }
  return TRUE;
}

int CFrameWnd::OnCreate(CREATESTRUCTA*) { return 0; }

LRESULT CFrameWnd::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE:
      return OnCreate(reinterpret_cast<CREATESTRUCTA*>(lp));
    case WM_COMMAND:
      if (LOWORD(wp) == ID_APP_EXIT) {
        SendMessage(WM_CLOSE);
        return 0;
      }
      break;
    case WM_CLOSE:
      DestroyWindow();
      return 0;
    case WM_DESTROY:
      // The main window going away ends the message loop.
      if (AfxGetMainWnd() == this) ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProc(msg, wp, lp);
}
