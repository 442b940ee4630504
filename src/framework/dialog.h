// Dialogs from the resource templates: modeless child pages (Create) and
// modal dialogs (DoModal), with dialog data exchange between controls and
// members (UpdateData / DoDataExchange).
#pragma once

#include <windows.h>

#include <string>

#include "framework/wnd.h"

class CDialog;

class CDataExchange {
 public:
  CDataExchange(CDialog* dialog, BOOL saveAndValidate) : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
  CDialog* m_pDlgWnd;
  BOOL m_bSaveAndValidate;
  bool m_bFailed = false;  // once set, the remaining exchanges are skipped
  int m_idLastControl = 0;
  // The control of id, remembered as the one a failed validation points at.
  HWND PrepareCtrl(int id);
  // Validation failed: focus (and select) the last control and stop the exchange.
  void Fail();
};

void DDX_Text(CDataExchange* dx, int id, std::string& value);
// Decimal digits only; anything else fails with a message of our own.
void DDX_Text(CDataExchange* dx, int id, UINT& value);
void DDX_Check(CDataExchange* dx, int id, BOOL& value);
// value = index of the checked button in the group that starts at id, -1 for none.
void DDX_Radio(CDataExchange* dx, int id, int& value);
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
void DDV_MinMaxUInt(CDataExchange* dx, UINT value, UINT minimum, UINT maximum);

class CDialog : public CWnd {
 public:
  explicit CDialog(UINT idTemplate = 0, CWnd* parent = nullptr) : m_nIDTemplate(idTemplate), m_pParentWnd(parent) {}

  // Modeless: creates the dialog from its template as a child or popup of parent.
  BOOL Create(UINT idTemplate, CWnd* parent);
  // Modal: runs the dialog and returns the value given to EndDialog (-1 on failure).
  virtual INT_PTR DoModal();
  void EndDialog(int result);
  BOOL UpdateData(BOOL saveAndValidate = TRUE);

  BOOL PreTranslateMessage(MSG* msg) override;

 protected:
  virtual BOOL OnInitDialog();  // fills the controls (UpdateData FALSE)
  virtual void DoDataExchange(CDataExchange*) {}
  virtual void OnOK();          // UpdateData, then EndDialog(IDOK)
  virtual void OnCancel();      // EndDialog(IDCANCEL)
  // WM_COMMAND; TRUE when handled. The base sends IDOK and IDCANCEL to OnOK and OnCancel.
  virtual BOOL OnCommand(UINT id, UINT code, HWND control);
  virtual void OnTimer(UINT_PTR) {}
  // TRUE = the background is drawn.
  virtual BOOL OnEraseBkgnd(HDC) { return FALSE; }
  // A brush for the control, or null for the dialog manager's default.
  virtual HBRUSH OnCtlColor(HDC, HWND, UINT) { return nullptr; }
  virtual void OnDestroy() {}
  // Any other message; TRUE when handled, *result the value to return.
  virtual BOOL OnMessage(UINT, WPARAM, LPARAM, LRESULT*) { return FALSE; }

  UINT m_nIDTemplate;
  CWnd* m_pParentWnd;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  INT_PTR HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  bool m_bModal = false;
};
