// The image-folder page: where the installer image is built.
#pragma once

#include <string>

#include "settings/settings_ini.h"
#include "wizard/base_page.h"
#include "wizard/folder_browser.h"
#include "wizard/resource_ids.h"

class CFolderPage : public CBasePage {
 public:
  explicit CFolderPage(CIniFile& ini);

  UINT GetTemplateID() const override { return IDD_FOLDER; }
  void GetTitleIDs(UINT& title, UINT& subtitle) const override {
    title = 5001;
    subtitle = 5011;
  }
  void OnSetActive() override;
  int OnWizardBack() override { return 0; }
  int OnWizardNext() override;

  // The folder as the box shows it now.
  std::string GetFolderText() const;
  // Puts a folder into the box (an unattended build's choice).
  void SetFolder(const std::string& folder);
  // The checks of Next on m_strInstallPath: a fixed drive, and the missing
  // levels created after asking. false after the message that says why not.
  bool AcceptFolder();
  void SaveFolder() const;

  std::string m_strInstallPath;

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnCommand(UINT id, UINT code, HWND control) override;

 private:
  void UpdateButtons();
  CBrowseBuffer m_browse;
  CIniFile& m_ini;
};
