// The three last pages: image built (installer named or started on Finish),
// or the run stopped with an error.
#pragma once

#include "wizard/base_page.h"
#include "wizard/resource_ids.h"

class CFinishPage : public CBasePage {
 public:
  UINT GetTemplateID() const override { return IDD_FINISH; }
  void GetTitleIDs(UINT& title, UINT& subtitle) const override {
    title = 5004;
    subtitle = 5014;
  }
  void OnSetActive() override;
  int OnWizardBack() override { return -1; }
};

class CFinishBootPage : public CBasePage {
 public:
  UINT GetTemplateID() const override { return IDD_FINISH_BOOT; }
  void GetTitleIDs(UINT& title, UINT& subtitle) const override {
    title = 5004;
    subtitle = 5014;
  }
  void OnSetActive() override;
  int OnWizardBack() override { return -1; }
  // Starts the installer and waits for it; the program ends whatever happened.
  BOOL OnWizardFinish() override {
    LaunchInstaller(nullptr);
    return TRUE;
  }
};

class CFinishErrorPage : public CBasePage {
 public:
  UINT GetTemplateID() const override { return IDD_FINISH_ERROR; }
  void GetTitleIDs(UINT& title, UINT& subtitle) const override {
    title = 5005;
    subtitle = 5014;
  }
  void OnSetActive() override;
  int OnWizardBack() override { return -1; }
};
