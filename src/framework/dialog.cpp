#include "framework/dialog.h"

#include <vector>

#include "common/strings.h"
#include "framework/app.h"
#include "framework/msgbox.h"
#include "framework/text_parse.h"
#include "framework/resource_ids.h"

// ---- dialog data exchange ---------------------------------------------------

HWND CDataExchange::PrepareCtrl(int id) {
  m_idLastControl = id;
  return ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
}

void CDataExchange::Fail() {
  HWND control = ::GetDlgItem(m_pDlgWnd->m_hWnd, m_idLastControl);
  if (control != nullptr && ::IsWindowEnabled(control)) {
    ::SetFocus(control);
    ::SendMessageA(control, EM_SETSEL, 0, -1);
  }
  m_bFailed = true;
}

void DDX_Text(CDataExchange* dx, int id, std::string& value) {
  if (dx->m_bFailed) return;
  HWND control = dx->PrepareCtrl(id);
  if (dx->m_bSaveAndValidate) {
    int length = ::GetWindowTextLengthA(control);
    std::vector<char> buffer(static_cast<size_t>(length) + 2);
    int got = ::GetWindowTextA(control, buffer.data(), static_cast<int>(buffer.size()));
    value.assign(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
  } else {
    ::SetWindowTextA(control, value.c_str());
  }
}

void DDX_Text(CDataExchange* dx, int id, UINT& value) {
  if (dx->m_bFailed) return;
  HWND control = dx->PrepareCtrl(id);
  if (dx->m_bSaveAndValidate) {
    std::string text;
    DDX_Text(dx, id, text);
    uint32_t parsed = 0;
    if (!ParseUnsignedText(text, &parsed)) {
      AfxMessageBox(IDS_ENTER_UNSIGNED, MB_ICONEXCLAMATION);
      dx->Fail();
      return;
    }
    value = parsed;
  } else {
    ::SetWindowTextA(control, std::to_string(value).c_str());
  }
}

void DDX_Check(CDataExchange* dx, int id, BOOL& value) {
  if (dx->m_bFailed) return;
  HWND control = dx->PrepareCtrl(id);
  if (dx->m_bSaveAndValidate) {
    value = ::SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
  } else {
    ::SendMessageA(control, BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
  }
}

void DDX_Radio(CDataExchange* dx, int id, int& value) {
  if (dx->m_bFailed) return;
  HWND control = dx->PrepareCtrl(id);
  if (dx->m_bSaveAndValidate) value = -1;
  int index = 0;
  // The group runs from id to the next control that starts a group.
  for (HWND button = control; button != nullptr; button = ::GetWindow(button, GW_HWNDNEXT), ++index) {
    if (button != control && (::GetWindowLongPtrA(button, GWL_STYLE) & WS_GROUP)) break;
    if (dx->m_bSaveAndValidate) {
      if (::SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED) value = index;
    } else {
      ::SendMessageA(button, BM_SETCHECK, index == value ? BST_CHECKED : BST_UNCHECKED, 0);
    }
  }
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
  if (control.m_hWnd == nullptr) control.Attach(dx->PrepareCtrl(id));
}

void DDV_MinMaxUInt(CDataExchange* dx, UINT value, UINT minimum, UINT maximum) {
  if (dx->m_bFailed || !dx->m_bSaveAndValidate) return;
  if (value < minimum || value > maximum) {
    AfxMessageBox(FormatText(LoadResString(IDS_ENTER_UNSIGNED_RANGE).c_str(), minimum, maximum),
                  MB_ICONEXCLAMATION);
    dx->Fail();
  }
}

// ---- CDialog ----------------------------------------------------------------

BOOL CDialog::Create(UINT idTemplate, CWnd* parent) {
  m_nIDTemplate = idTemplate;
  m_pParentWnd = parent;
  m_bModal = false;
  HWND hwnd = ::CreateDialogParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(idTemplate),
                                   parent ? parent->m_hWnd : nullptr, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
  return hwnd != nullptr;
}

INT_PTR CDialog::DoModal() {
  m_bModal = true;
  HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
  if (owner == nullptr && AfxGetMainWnd() != nullptr) owner = AfxGetMainWnd()->m_hWnd;
  if (owner != nullptr) owner = ::GetLastActivePopup(::GetAncestor(owner, GA_ROOT));
  return ::DialogBoxParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_nIDTemplate), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(int result) {
  if (m_bModal) {
    ::EndDialog(m_hWnd, result);
  } else {
    ShowWindow(SW_HIDE);
  }
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
  CDataExchange dx(this, saveAndValidate);
  DoDataExchange(&dx);
  return dx.m_bFailed ? FALSE : TRUE;
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
  // Keyboard navigation, Enter and Escape of this dialog.
  if (msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST) {
    return ::IsDialogMessageA(m_hWnd, msg);
  }
  return FALSE;
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::OnCommand(UINT id, UINT code, HWND) {
  if (code != BN_CLICKED) return FALSE;
  if (id == IDOK) {
    OnOK();
    return TRUE;
  }
  if (id == IDCANCEL) {
    OnCancel();
    return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  CDialog* dialog = nullptr;
  if (msg == WM_INITDIALOG) {
    dialog = reinterpret_cast<CDialog*>(lp);
    dialog->AttachPermanent(hwnd);
  } else {
    dialog = static_cast<CDialog*>(FromHandlePermanent(hwnd));
  }
  if (dialog == nullptr) return FALSE;
  INT_PTR result = dialog->HandleMessage(msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    dialog->DetachPermanent();
    dialog->PostNcDestroy();
  }
  return result;
}

INT_PTR CDialog::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_COMMAND:
      return OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
    case WM_TIMER:
      OnTimer(wp);
      return TRUE;
    case WM_ERASEBKGND:
      if (OnEraseBkgnd(reinterpret_cast<HDC>(wp))) {
        ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORLISTBOX: {
      static const UINT kTypes[] = {CTLCOLOR_MSGBOX, CTLCOLOR_EDIT, CTLCOLOR_LISTBOX, CTLCOLOR_BTN,
                                    CTLCOLOR_DLG, CTLCOLOR_SCROLLBAR, CTLCOLOR_STATIC};
      HBRUSH brush = OnCtlColor(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp),
                                kTypes[msg - WM_CTLCOLORMSGBOX]);
      return reinterpret_cast<INT_PTR>(brush);
    }
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    default: {
      LRESULT result = 0;
      if (OnMessage(msg, wp, lp, &result)) {
        ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
        return TRUE;
      }
      return FALSE;
    }
  }
}
