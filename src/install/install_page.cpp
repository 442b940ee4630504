#include "install/install_page.h"

#include "common/strings.h"
#include "framework/app.h"
#include "framework/msgbox.h"

namespace {
constexpr unsigned kNotAvailable = 7090;
constexpr unsigned kConfirmCancel = 12000;
}  // namespace

void CInstallPage::OnSetActive() {
  // Without a run there is nothing to wait for: the user may go back or leave.
  SetDlgItemText(IDC_ACTIVITY, LoadResString(kNotAvailable));
  SetWizardButtons(WIZB_BACK);
}

void CInstallPage::RequestCancel() {
  if (AfxMessageBox(kConfirmCancel, MB_YESNO | MB_ICONEXCLAMATION) == IDYES) {
    if (CWnd* main = AfxGetMainWnd()) main->PostMessage(WM_COMMAND, ID_APP_EXIT, 0);
  }
}
