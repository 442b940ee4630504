// The download-settings dialog: download folder and proxy, applied to the
// option page's record on OK only.
#pragma once

#include <string>

#include "settings/settings.h"
#include "framework/dialog.h"
#include "wizard/folder_browser.h"

class CEnvNetworkDialog : public CDialog {
 public:
  CEnvNetworkDialog(CBinaryDownloadSetting* setting, CWnd* parent);

  std::string m_strProxyHost;
  std::string m_strProxyPassword;
  std::string m_strProxyUser;
  UINT m_nProxyPort = 80;
  BOOL m_bUseProxy = TRUE;
  int m_nProxyKind = 0;  // 0 = system (Internet Explorer) settings, 1 = the given proxy
  BOOL m_bCustomFolder = FALSE;
  std::string m_strFolder;
  CBinaryDownloadSetting* m_pSetting;

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  BOOL OnCommand(UINT id, UINT code, HWND control) override;
  void OnOK() override;

 private:
  void UpdateControls();
  CBrowseBuffer m_browse;
};
