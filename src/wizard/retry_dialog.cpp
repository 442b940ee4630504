#include "wizard/retry_dialog.h"

#include "framework/app.h"
#include "framework/msgbox.h"
#include "common/run_log.h"
#include "common/strings.h"
#include "wizard/resource_ids.h"

CRetryCancelDialog::CRetryCancelDialog(const std::string& message, CWnd* parent, TickSource ticks)
    : CDialog(IDD_RETRY_CANCEL, parent), m_strMessage(message), m_watch(ticks) {}

void CRetryCancelDialog::DoDataExchange(CDataExchange* dx) { DDX_Text(dx, IDC_RETRY_MESSAGE, m_strMessage); }

BOOL CRetryCancelDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  SetWindowText(LoadResString(IDS_APP_CAPTION));
  HICON icon = ::LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_QUESTION));
  ::SendMessageA(GetDlgItem(IDC_RETRY_ICON), STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
  SetTimer(kTimerId, kTimerPeriod);
  m_watch.Start();
  return TRUE;
}

void CRetryCancelDialog::OnTimer(UINT_PTR id) {
  if (id != kTimerId) return;
  // Checked once a second: the retry comes once the 61st second has passed.
  if (m_watch.GetSeconds() > kAutoRetrySeconds) {
    KillTimer(kTimerId);
    EndDialog(IDRETRY);
  }
}

BOOL CRetryCancelDialog::OnCommand(UINT id, UINT code, HWND control) {
  if (id == IDRETRY && code == BN_CLICKED) {
    EndDialog(IDRETRY);
    return TRUE;
  }
  return CDialog::OnCommand(id, code, control);
}

bool AskRetryQuestion(const std::string& text, CWnd* parent) {
  runlog::Write("QUESTION", text);
  CRetryCancelDialog dialog(text, parent);
  const bool retry = dialog.DoModal() == IDRETRY;
  runlog::Write("ANSWER", retry ? "Retry" : "Cancel");
  return retry;
}

int CPersonAnswers::Ask(const std::string& text, unsigned style) { return AfxMessageBox(text, style); }

bool CPersonAnswers::AskRetry(const std::string& text) { return AskRetryQuestion(text, AfxGetMainWnd()); }
