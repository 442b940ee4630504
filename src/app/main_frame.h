// The one top-level window: a fixed-size frame whose client area is the wizard.
#pragma once

#include "framework/frame.h"
#include "wizard/wizard.h"

inline constexpr char kMainWindowClass[] = "Plumbrook Starter MainFrame";

class CMainFrame : public CFrameWnd {
 public:
  explicit CMainFrame(CIniFile& ini) : m_wndWizard(ini) {}

  BOOL PreCreateWindow(CREATESTRUCTA& cs) override;
  BOOL LoadFrame(UINT idResource, DWORD style, CWnd* parent, void* context) override;

  CWrenStarterWizard m_wndWizard;

 protected:
  int OnCreate(CREATESTRUCTA* cs) override;
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
};
