// The wizard: a child dialog filling the main frame, with the header pane on
// top, one page at a time below it and the button bar at the bottom.
#pragma once

#include <string>
#include <vector>

#include "framework/dialog.h"
#include "settings/settings_ini.h"
#include "wizard/base_page.h"
#include "wizard/finish_pages.h"
#include "wizard/folder_page.h"
#include "wizard/frame_pane.h"
#include "wizard/install_page.h"
#include "wizard/option_page.h"
#include "wizard/welcome_page.h"

class CWrenStarterWizard : public CDialog {
 public:
  // ini: the settings file the pages read and write.
  explicit CWrenStarterWizard(CIniFile& ini);

  // Creates the wizard from template 102 with its pages and header as a child
  // of parent, laid out and on the first page. FALSE if any window failed.
  BOOL CreateWizard(CWnd* parent);

  BOOL SetActivePage(int index);
  // Straight to the install page, which starts the run (an unattended build).
  BOOL ShowInstallPage() { return SetActivePage(IndexOf(&m_pageInstall)); }
  // An unattended build: its rules answer the run, and the finish page ends the
  // program by itself.
  void SetUnattendedAnswers(IRunAnswers* answers);
  void SetWizardButtons(uint32_t flags);
  void SetNextButtonText(UINT stringId);
  BOOL IsInstallPageActive() const;
  void GetWorkFolders(std::string& imageFolder, std::string& downloadFolder) const;
  void GetInstallerPath(std::string& path) const;

  // Sibling data the pages read through the wizard.
  COptionPage& GetOptionPage() { return m_pageOption; }
  CFolderPage& GetFolderPage() { return m_pageFolder; }
  CInstallPage& GetInstallPage() { return m_pageInstall; }
  CBasePage* GetCurrentPage() const { return m_pCurrentPage; }
  CIniFile& Ini() const { return m_ini; }
  bool IsFinishPage(const CBasePage* page) const;

  virtual void OnBack();
  virtual void OnNext();
  virtual void OnFinish();

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override {}
  void OnCancel() override;
  BOOL OnCommand(UINT id, UINT code, HWND control) override;

 private:
  BOOL CreatePages();
  int IndexOf(const CBasePage* page) const;
  void Move(int step, int pageResult);

  CIniFile& m_ini;
  bool m_bFinishByItself = false;
  CWelcomePage m_pageWelcome;
  CFolderPage m_pageFolder;
  COptionPage m_pageOption;
  CInstallPage m_pageInstall;
  CFinishPage m_pageFinish;
  CFinishBootPage m_pageFinishBoot;
  CFinishErrorPage m_pageFinishError;
  CBasePage* m_pCurrentPage = nullptr;
  std::vector<CBasePage*> m_arrPages;
  CFramePane m_pane;
  bool m_bCreated = false;
};
