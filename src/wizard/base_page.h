// The page base of the wizard: every page is a modeless child dialog driven
// only through these operations.
#pragma once

#include <cstdint>
#include <string>

#include "framework/dialog.h"
#include "wizard/wizard_rules.h"

class CWrenStarterWizard;

class CBasePage : public CDialog {
 public:
  CBasePage() = default;

  // The page is about to be shown: buttons, controls, maybe work.
  virtual void OnSetActive() {}
  // The page has been hidden because another one is shown.
  virtual void OnKillActive() {}
  // 0 = previous page, -1 = stay, other = template id of the target page.
  virtual int OnWizardBack() { return 0; }
  // 0 = next page, -1 = stay, other = template id of the target page.
  virtual int OnWizardNext() { return 0; }
  // TRUE ends the program.
  virtual BOOL OnWizardFinish() { return TRUE; }
  // The page's dialog template, also its identity for jumps.
  virtual UINT GetTemplateID() const { return 0; }
  // Header string ids; 0 = empty text.
  virtual void GetTitleIDs(UINT& title, UINT& subtitle) const {
    title = 0;
    subtitle = 0;
  }

  CWrenStarterWizard* GetWizard() const;
  void SetWizardButtons(uint32_t flags) const;
  BOOL CreatePage(CWnd* parent) { return Create(GetTemplateID(), parent); }

  // Starts the built image's installer and waits until its process has ended.
  // FALSE (after message 10001 when the file is missing) if it could not start.
  BOOL LaunchInstaller(const char* parameters);

 protected:
  // Enter inside a page does nothing; Escape acts like the wizard's Cancel button.
  void OnOK() override {}
  void OnCancel() override;
};

// Starts the installer at path and waits until its process has ended. FALSE
// (after message 10001 when the file is missing) if it could not start.
BOOL LaunchInstallerFile(std::string path, const char* parameters);
