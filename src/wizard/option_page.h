// The option page: download settings (folder and proxy) and whether the
// installer starts once the image is built.
#pragma once

#include "settings/settings.h"
#include "wizard/base_page.h"
#include "wizard/resource_ids.h"

class COptionPage : public CBasePage {
 public:
  explicit COptionPage(CIniFile& ini);

  UINT GetTemplateID() const override { return IDD_OPTION; }
  void GetTitleIDs(UINT& title, UINT& subtitle) const override {
    title = 5002;
    subtitle = 5012;
  }
  void OnSetActive() override;
  int OnWizardBack() override { return 0; }
  int OnWizardNext() override;
  // Writes the download settings and the launch choice to the settings file.
  void SaveOptions() const;

  CBinaryDownloadSetting m_setting;
  CTransferSetting m_transfer;
  BOOL m_bBootInstaller = TRUE;

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  BOOL OnCommand(UINT id, UINT code, HWND control) override;

 private:
  void UpdateSummary();
  CIniFile& m_ini;
};
