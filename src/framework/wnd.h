// The window object shared by frames, dialogs and controls. A C++ object is
// tied to its window through a window property, so a handle finds its object
// without any global table.
#pragma once

#include <windows.h>

#include <string>

class CWnd {
 public:
  CWnd() = default;
  virtual ~CWnd();
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;

  HWND GetSafeHwnd() const { return m_hWnd; }
  // The object that owns hwnd, or null for windows that are not ours.
  static CWnd* FromHandlePermanent(HWND hwnd);

  // Control wrappers that do not own their window (DDX_Control).
  void Attach(HWND hwnd) { m_hWnd = hwnd; }
  HWND Detach();

  // Called for every message of the program's queue before it is dispatched,
  // from the innermost window outwards; TRUE = handled, do not dispatch.
  virtual BOOL PreTranslateMessage(MSG* msg);

  // Thin helpers over the Win32 calls of the same name.
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  void SetDlgItemText(int id, const std::string& text) const { ::SetDlgItemTextA(m_hWnd, id, text.c_str()); }
  std::string GetWindowText() const;
  void SetWindowText(const std::string& text) const { ::SetWindowTextA(m_hWnd, text.c_str()); }
  BOOL ShowWindow(int cmd) const { return ::ShowWindow(m_hWnd, cmd); }
  BOOL EnableWindow(BOOL enable) const { return ::EnableWindow(m_hWnd, enable); }
  LRESULT SendMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const { return ::SendMessageA(m_hWnd, msg, wp, lp); }
  BOOL PostMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const { return ::PostMessageA(m_hWnd, msg, wp, lp); }
  UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc = nullptr) const { return ::SetTimer(m_hWnd, id, elapse, proc); }
  BOOL KillTimer(UINT_PTR id) const { return ::KillTimer(m_hWnd, id); }
  DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_STYLE)); }
  DWORD GetExStyle() const { return static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE)); }
  void ModifyStyle(DWORD remove, DWORD add) const;
  CWnd* GetParent() const;
  void CenterWindow() const;  // on the desktop's work area
  BOOL DestroyWindow();
  void SetFont(HFONT font, BOOL redraw = TRUE) const { SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw); }
  HFONT GetFont() const { return reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)); }
  void SendMessageToDescendants(UINT msg, WPARAM wp, LPARAM lp, BOOL deep, BOOL onlyPermanent) const;

 protected:
  // Ties this object to hwnd for the window's life.
  void AttachPermanent(HWND hwnd);
  void DetachPermanent();
  // Called after the window's last message; the object may delete itself.
  virtual void PostNcDestroy() {}

  // Frames and plain windows route their messages here.
  virtual LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT DefWindowProc(UINT msg, WPARAM wp, LPARAM lp) { return ::DefWindowProcA(m_hWnd, msg, wp, lp); }

 public:
  // The window procedure of every window class the program registers.
  static LRESULT CALLBACK AfxWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
};

// Small owners of GDI objects.
class CBrush {
 public:
  CBrush() = default;
  ~CBrush() { DeleteObject(); }
  CBrush(const CBrush&) = delete;
  CBrush& operator=(const CBrush&) = delete;
  BOOL CreateSolidBrush(COLORREF colour);
  void DeleteObject();
  HBRUSH m_hObject = nullptr;
};

class CFont {
 public:
  CFont() = default;
  ~CFont() { DeleteObject(); }
  CFont(const CFont&) = delete;
  CFont& operator=(const CFont&) = delete;
  BOOL CreateFontIndirect(const LOGFONTA& logFont);
  void DeleteObject();
  HFONT m_hObject = nullptr;
};

// A static control bound by DDX_Control.
class CStatic : public CWnd {};
