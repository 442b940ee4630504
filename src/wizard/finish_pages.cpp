#include "wizard/finish_pages.h"

#include "engine/result_message.h"
#include "wizard/wizard.h"

void CFinishPage::OnSetActive() {
  std::string path;
  GetWizard()->GetInstallerPath(path);
  SetDlgItemText(IDC_FOLDER, path);
  SetWizardButtons(WIZB_FINISH);
}

void CFinishErrorPage::OnSetActive() {
  SetWizardButtons(WIZB_FINISH);
  const CInstallPage& install = GetWizard()->GetInstallPage();
  std::string text;
  FormatResultMessage(&text, install.m_nFinalType, install.m_nFinalCode, install.m_nFinalExtra);
  SetDlgItemText(IDC_ERROR_TEXT, text);
}
