#include "framework/wnd.h"

#include <vector>

namespace {
const char kObjectProperty[] = "WrenWindowObject";
}

CWnd::~CWnd() {
  if (m_hWnd != nullptr && FromHandlePermanent(m_hWnd) == this) {
    // The object goes first: the window must not call back into it.
    HWND hwnd = m_hWnd;
    DetachPermanent();
    ::DestroyWindow(hwnd);
  }
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
  if (hwnd == nullptr) return nullptr;
  return static_cast<CWnd*>(::GetPropA(hwnd, kObjectProperty));
}

HWND CWnd::Detach() {
  HWND hwnd = m_hWnd;
  m_hWnd = nullptr;
  return hwnd;
}

void CWnd::AttachPermanent(HWND hwnd) {
  m_hWnd = hwnd;
  ::SetPropA(hwnd, kObjectProperty, this);
}

void CWnd::DetachPermanent() {
  if (m_hWnd != nullptr) ::RemovePropA(m_hWnd, kObjectProperty);
  m_hWnd = nullptr;
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

std::string CWnd::GetWindowText() const {
  int length = ::GetWindowTextLengthA(m_hWnd);
  std::vector<char> buffer(static_cast<size_t>(length) + 2);
  int got = ::GetWindowTextA(m_hWnd, buffer.data(), static_cast<int>(buffer.size()));
  return std::string(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

void CWnd::ModifyStyle(DWORD remove, DWORD add) const {
  DWORD style = GetStyle();
  ::SetWindowLongPtrA(m_hWnd, GWL_STYLE, static_cast<LONG_PTR>((style & ~remove) | add));
}

CWnd* CWnd::GetParent() const { return FromHandlePermanent(::GetParent(m_hWnd)); }

void CWnd::CenterWindow() const {
  RECT work{};
  ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  RECT rc{};
  ::GetWindowRect(m_hWnd, &rc);
  int width = rc.right - rc.left;
  int height = rc.bottom - rc.top;
  int x = work.left + ((work.right - work.left) - width) / 2;
  int y = work.top + ((work.bottom - work.top) - height) / 2;
  if (x < work.left) x = work.left;
  if (y < work.top) y = work.top;
  ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CWnd::DestroyWindow() {
  if (m_hWnd == nullptr) return FALSE;
  return ::DestroyWindow(m_hWnd);
}

void CWnd::SendMessageToDescendants(UINT msg, WPARAM wp, LPARAM lp, BOOL deep, BOOL onlyPermanent) const {
  for (HWND child = ::GetTopWindow(m_hWnd); child != nullptr; child = ::GetNextWindow(child, GW_HWNDNEXT)) {
    CWnd* object = FromHandlePermanent(child);
    if (!onlyPermanent || object != nullptr) ::SendMessageA(child, msg, wp, lp);
    if (deep && ::GetTopWindow(child) != nullptr) {
      CWnd temp;
      temp.m_hWnd = child;
      temp.SendMessageToDescendants(msg, wp, lp, deep, onlyPermanent);
      temp.m_hWnd = nullptr;
    }
  }
}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProc(msg, wp, lp); }

LRESULT CALLBACK CWnd::AfxWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  CWnd* object = FromHandlePermanent(hwnd);
  if (object == nullptr && msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lp);
    object = static_cast<CWnd*>(create->lpCreateParams);
    if (object != nullptr) object->AttachPermanent(hwnd);
  }
  if (object == nullptr) return ::DefWindowProcA(hwnd, msg, wp, lp);
  LRESULT result = object->WindowProc(msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    object->DetachPermanent();
    object->PostNcDestroy();
  }
  return result;
}

BOOL CBrush::CreateSolidBrush(COLORREF colour) {
  DeleteObject();
  m_hObject = ::CreateSolidBrush(colour);
  return m_hObject != nullptr;
}

void CBrush::DeleteObject() {
  if (m_hObject != nullptr) ::DeleteObject(m_hObject);
  m_hObject = nullptr;
}

BOOL CFont::CreateFontIndirect(const LOGFONTA& logFont) {
  DeleteObject();
  m_hObject = ::CreateFontIndirectA(&logFont);
  return m_hObject != nullptr;
}

void CFont::DeleteObject() {
  if (m_hObject != nullptr) ::DeleteObject(m_hObject);
  m_hObject = nullptr;
}
