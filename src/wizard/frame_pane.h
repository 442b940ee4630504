// The header band of the wizard: icon, bold title and subtitle on the window
// colour, closed at the bottom by an etched line.
#pragma once

#include <string>

#include "wizard/base_page.h"
#include "wizard/resource_ids.h"

class CFramePane : public CBasePage {
 public:
  UINT GetTemplateID() const override { return IDD_FRAME_PANE; }
  void SetTitles(const std::string& title, const std::string& subtitle);

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  BOOL OnEraseBkgnd(HDC dc) override;
  HBRUSH OnCtlColor(HDC dc, HWND control, UINT type) override;

 private:
  CBrush m_brBack;
  COLORREF m_crBack = 0xFFFFFFFF;  // no brush yet
  CFont m_fontTitle;
  CStatic m_wndTitle;
  CStatic m_wndSubtitle;
};
