#include "wizard/env_network_dialog.h"

#include "framework/msgbox.h"
#include "wizard/folder_check.h"
#include "wizard/resource_ids.h"

namespace {
constexpr unsigned kBrowseTitle = 6001;
constexpr UINT kMaxPort = 65535;
}  // namespace

CEnvNetworkDialog::CEnvNetworkDialog(CBinaryDownloadSetting* setting, CWnd* parent)
    : CDialog(IDD_ENV_NETWORK, parent), m_pSetting(setting) {
  m_bUseProxy = setting->m_nProxyMode != kProxyNone;
  m_nProxyKind = setting->m_nProxyMode == kProxyNamed ? 1 : 0;
  int port = kDefaultProxyPort;
  setting->GetProxyHostPort(m_strProxyHost, port);
  m_nProxyPort = static_cast<UINT>(port);
  m_strProxyUser = setting->m_strProxyUser;
  m_strProxyPassword = setting->m_strProxyPassword;
  m_bCustomFolder = setting->GetDownloadFolder(m_strFolder);
  if (!m_bCustomFolder) m_strFolder.clear();
}

void CEnvNetworkDialog::DoDataExchange(CDataExchange* dx) {
  DDX_Text(dx, IDC_PROXY_HOST, m_strProxyHost);
  DDX_Text(dx, IDC_PROXY_PASSWORD, m_strProxyPassword);
  DDX_Text(dx, IDC_PROXY_USER, m_strProxyUser);
  DDX_Text(dx, IDC_PROXY_PORT, m_nProxyPort);
  DDV_MinMaxUInt(dx, m_nProxyPort, 0, kMaxPort);
  DDX_Check(dx, IDC_USE_PROXY, m_bUseProxy);
  DDX_Radio(dx, IDC_PROXY_SYSTEM, m_nProxyKind);
  DDX_Check(dx, IDC_CUSTOM_FOLDER, m_bCustomFolder);
  DDX_Text(dx, IDC_FOLDER, m_strFolder);
}

BOOL CEnvNetworkDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  UpdateControls();
  return TRUE;
}

void CEnvNetworkDialog::UpdateControls() {
  auto checked = [this](int id) { return ::SendMessageA(GetDlgItem(id), BM_GETCHECK, 0, 0) == BST_CHECKED; };
  bool useProxy = checked(IDC_USE_PROXY);
  bool named = checked(IDC_PROXY_NAMED);
  bool customFolder = checked(IDC_CUSTOM_FOLDER);
  ::EnableWindow(GetDlgItem(IDC_PROXY_SYSTEM), useProxy);
  ::EnableWindow(GetDlgItem(IDC_PROXY_NAMED), useProxy);
  for (int id : {IDC_PROXY_HOST, IDC_PROXY_PORT, IDC_PROXY_USER, IDC_PROXY_PASSWORD}) {
    ::EnableWindow(GetDlgItem(id), useProxy && named);
  }
  ::EnableWindow(GetDlgItem(IDC_FOLDER), customFolder);
  ::EnableWindow(GetDlgItem(IDC_BROWSE), customFolder);
}

BOOL CEnvNetworkDialog::OnCommand(UINT id, UINT code, HWND control) {
  if (code == BN_CLICKED) {
    switch (id) {
      case IDC_CUSTOM_FOLDER:
      case IDC_USE_PROXY:
      case IDC_PROXY_SYSTEM:
      case IDC_PROXY_NAMED:
        UpdateControls();
        return TRUE;
      case IDC_BROWSE: {
        CWnd box;
        box.Attach(GetDlgItem(IDC_FOLDER));
        std::string current = box.GetWindowText();
        box.Detach();
        BrowseForFolder(this, current, kBrowseTitle, m_browse);
        return TRUE;
      }
      default:
        break;
    }
  }
  return CDialog::OnCommand(id, code, control);
}

void CEnvNetworkDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  if (m_bCustomFolder) {
    unsigned type = GetPathDriveType(m_strFolder);
    if (type == 3) {
      if (!ConfirmAndCreateFolder(m_strFolder)) return;
    } else {
      if (unsigned message = DownloadFolderDriveMessage(type)) AfxMessageBox(message, MB_ICONEXCLAMATION);
      m_bCustomFolder = FALSE;
    }
  }
  m_pSetting->Set(m_bUseProxy != FALSE, m_nProxyKind == 0, m_strProxyHost.c_str(), m_nProxyPort,
                  m_strProxyUser.c_str(), m_strProxyPassword.c_str());
  m_pSetting->SetDownloadPath(!m_bCustomFolder, m_strFolder.c_str());
  EndDialog(IDOK);
}
