#include "wizard/option_page.h"

#include "wizard/app_services.h"
#include "wizard/env_network_dialog.h"
#include "wizard/option_summary.h"
#include "wizard/wizard.h"

namespace {
constexpr unsigned kStartCaption = 5101;
}

COptionPage::COptionPage() {
  m_setting.Load(GetAppIni());
  m_bBootInstaller = GetAppIni().GetIniInt(kIniSection, kKeyBootInstaller, 1) != 0;
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
  CIniFile& ini = GetAppIni();
  m_setting.Save(ini);
  ini.WriteIniInt(kIniSection, kKeyBootInstaller, m_bBootInstaller ? 1 : 0);
}

BOOL COptionPage::OnCommand(UINT id, UINT code, HWND control) {
  if (id == IDC_CHANGE_SETTINGS && code == BN_CLICKED) {
    CEnvNetworkDialog dialog(&m_setting, this);
    if (dialog.DoModal() == IDOK) UpdateSummary();
    return TRUE;
  }
  return CBasePage::OnCommand(id, code, control);
}
