#include "wizard/finish_pages.h"

#include "common/run_log.h"
#include "common/strings.h"
#include "engine/result_message.h"
#include "framework/msgbox.h"
#include "wizard/wizard.h"

namespace {
constexpr unsigned kLogNote = 6020;

// Support asks for this file: every finish page names it.
void ShowRunLogNote(CBasePage& page) {
  const std::string path = runlog::Path();
  page.SetDlgItemText(IDC_LOG_NOTE, path.empty() ? std::string() : FormatText(LoadResString(kLogNote).c_str(), path.c_str()));
}
}  // namespace

void CFinishPage::OnSetActive() {
  std::string path;
  GetWizard()->GetInstallerPath(path);
  SetDlgItemText(IDC_FOLDER, path);
  ShowRunLogNote(*this);
  SetWizardButtons(WIZB_FINISH);
}

void CFinishBootPage::OnSetActive() {
  ShowRunLogNote(*this);
  SetWizardButtons(WIZB_FINISH);
}

void CFinishErrorPage::OnSetActive() {
  SetWizardButtons(WIZB_FINISH);
  const CInstallPage& install = GetWizard()->GetInstallPage();
  std::string text;
  FormatResultMessage(&text, install.m_outcome.nType, install.m_outcome.nCode, install.m_outcome.nExtra);
  SetDlgItemText(IDC_ERROR_TEXT, text);
  ShowRunLogNote(*this);
}
