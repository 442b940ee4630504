// A top-level frame window created from a resource id (title string, menu).
#pragma once

#include <windows.h>

#include "framework/wnd.h"

// LoadFrame style bit: add the document name to the title (frames here have none).
inline constexpr DWORD FWS_ADDTOTITLE = 0x8000;

class CFrameWnd : public CWnd {
 public:
  // Adjusts the creation values; the class name must be set (registered by the caller).
  virtual BOOL PreCreateWindow(CREATESTRUCTA& cs);
  virtual BOOL LoadFrame(UINT idResource, DWORD style, CWnd* parent, void* context);

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
  virtual int OnCreate(CREATESTRUCTA* cs);
  HMENU m_hMenuDefault = nullptr;  // the menu loaded with the frame's resource id
};
