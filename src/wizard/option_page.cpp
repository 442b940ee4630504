#include "wizard/option_page.h"

#include "common/strings.h"
#include "wizard/env_network_dialog.h"
#include "wizard/option_summary.h"
#include "wizard/wizard.h"

namespace {
constexpr unsigned kStartCaption = 5101;
constexpr unsigned kConnectionsLabel = 6030;
constexpr unsigned kSpeedLimitLabel = 6031;
constexpr unsigned kSpeedLimitUnit = 6032;
}

COptionPage::COptionPage(CIniFile& ini) : m_ini(ini) {
  m_setting.Load(m_ini);
  m_transfer.Load(m_ini);
  m_bBootInstaller = GetBootInstaller(m_ini) ? TRUE : FALSE;
}

void COptionPage::DoDataExchange(CDataExchange* dx) {
  DDX_Text(dx, IDC_CONNECTIONS, m_transfer.nConnections);
  DDV_MinMaxUInt(dx, m_transfer.nConnections, CTransferSetting::kMinConnections, CTransferSetting::kMaxConnections);
  DDX_Text(dx, IDC_SPEED_LIMIT, m_transfer.nSpeedLimit);
  DDV_MinMaxUInt(dx, m_transfer.nSpeedLimit, 0, CTransferSetting::kMaxSpeedLimit);
  DDX_Check(dx, IDC_BOOT_INSTALLER, m_bBootInstaller);
}

BOOL COptionPage::OnInitDialog() {
  CBasePage::OnInitDialog();
  SetDlgItemText(IDC_CONNECTIONS_LABEL, LoadResString(kConnectionsLabel));
  SetDlgItemText(IDC_SPEED_LIMIT_LABEL, LoadResString(kSpeedLimitLabel));
  SetDlgItemText(IDC_SPEED_LIMIT_UNIT, LoadResString(kSpeedLimitUnit));
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
  SaveDownloadOptions(m_ini, m_setting, m_transfer, m_bBootInstaller != FALSE);
}

BOOL COptionPage::OnCommand(UINT id, UINT code, HWND control) {
  if (id == IDC_CHANGE_SETTINGS && code == BN_CLICKED) {
    CEnvNetworkDialog dialog(&m_setting, this);
    if (dialog.DoModal() == IDOK) UpdateSummary();
    return TRUE;
  }
  return CBasePage::OnCommand(id, code, control);
}
