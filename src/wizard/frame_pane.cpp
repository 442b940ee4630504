#include "wizard/frame_pane.h"

namespace {
void FillSolid(HDC dc, int x, int y, int cx, int cy, COLORREF colour) {
  ::SetBkColor(dc, colour);
  RECT rc{x, y, x + cx, y + cy};
  ::ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
}

// Top and left edges in one colour, bottom and right in the other.
void Draw3dRect(HDC dc, int x, int y, int cx, int cy, COLORREF topLeft, COLORREF bottomRight) {
  FillSolid(dc, x, y, cx - 1, 1, topLeft);
  FillSolid(dc, x, y, 1, cy - 1, topLeft);
  FillSolid(dc, x + cx - 1, y, 1, cy, bottomRight);
  FillSolid(dc, x, y + cy - 1, cx, 1, bottomRight);
}
}  // namespace

void CFramePane::SetTitles(const std::string& title, const std::string& subtitle) {
  m_wndTitle.SetWindowText(title);
  m_wndSubtitle.SetWindowText(subtitle);
}

void CFramePane::DoDataExchange(CDataExchange* dx) {
  DDX_Control(dx, IDC_PANE_TITLE, m_wndTitle);
  DDX_Control(dx, IDC_PANE_SUBTITLE, m_wndSubtitle);
}

BOOL CFramePane::OnInitDialog() {
  CBasePage::OnInitDialog();
  HFONT font = m_wndTitle.GetFont();
  if (font == nullptr) return TRUE;
  LOGFONTA logFont{};
  ::GetObjectA(font, sizeof logFont, &logFont);
  logFont.lfWeight = FW_BOLD;
  if (m_fontTitle.CreateFontIndirect(logFont)) m_wndTitle.SetFont(m_fontTitle.m_hObject, TRUE);
  return TRUE;
}

BOOL CFramePane::OnEraseBkgnd(HDC dc) {
  RECT r;
  ::GetClientRect(m_hWnd, &r);
  Draw3dRect(dc, r.left, r.bottom - 2, r.right - r.left, 2, ::GetSysColor(COLOR_BTNSHADOW),
             ::GetSysColor(COLOR_BTNHIGHLIGHT));
  FillSolid(dc, r.left, r.top, r.right - r.left, r.bottom - r.top - 2, ::GetSysColor(COLOR_WINDOW));
  return TRUE;
}

HBRUSH CFramePane::OnCtlColor(HDC dc, HWND, UINT type) {
  if (type != CTLCOLOR_STATIC) return nullptr;
  ::SetBkMode(dc, TRANSPARENT);
  COLORREF colour = ::GetSysColor(COLOR_WINDOW);
  // Follows a change of the system colours without a restart.
  if (colour != m_crBack) {
    m_crBack = colour;
    m_brBack.CreateSolidBrush(colour);
  }
  return m_brBack.m_hObject;
}
