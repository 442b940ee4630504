#include "wizard/option_page.h"

#include "wizard/env_network_dialog.h"
#include "wizard/option_summary.h"
#include "wizard/wizard.h"

namespace {
constexpr unsigned kStartCaption = 5101;
}

COptionPage::COptionPage(CIniFile& ini) : m_ini(ini) {
  m_setting.Load(m_ini);
  m_bBootInstaller = GetBootInstaller(m_ini) ? TRUE : FALSE;
}

void COptionPage::DoDataExchange(CDataExchange* dx) { DDX_Check(dx, IDC_BOOT_INSTALLER, m_bBootInstaller); }

BOOL COptionPage::OnInitDialog() {
  CBasePage::OnInitDialog();
  UpdateSummary();
  return TRUE;
}

void COptionPage::UpdateSummary() {
  SetDlgItemText(IDC_FOLDER, DownloadFolderSummary(m_setting));
  SetDlgItemText(IDC_PROXY_SUMMARY, ProxySummary(m_setting));
}

void COptionPage::OnSetActive() {
  UpdateSummary();
  SetWizardButtons(WIZB_BACK | WIZB_NEXT);
  GetWizard()->SetNextButtonText(kStartCaption);
}

int COptionPage::OnWizardNext() {
  if (!UpdateData(TRUE)) return -1;
  SaveOptions();
  return 0;
}

void COptionPage::SaveOptions() const {
  SaveDownloadOptions(m_ini, m_setting, m_bBootInstaller != FALSE);
}

BOOL COptionPage::OnCommand(UINT id, UINT code, HWND control) {
  if (id == IDC_CHANGE_SETTINGS && code == BN_CLICKED) {
    CEnvNetworkDialog dialog(&m_setting, this);
    if (dialog.DoModal() == IDOK) UpdateSummary();
    return TRUE;
  }
  return CBasePage::OnCommand(id, code, control);
}
