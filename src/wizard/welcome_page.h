// The first page: a greeting and what the buttons do.
#pragma once

#include "wizard/base_page.h"
#include "wizard/resource_ids.h"

class CWelcomePage : public CBasePage {
 public:
  UINT GetTemplateID() const override { return IDD_WELCOME; }
  void GetTitleIDs(UINT& title, UINT& subtitle) const override {
    title = 5000;
    subtitle = 5010;
  }
  void OnSetActive() override { SetWizardButtons(WIZB_NEXT); }
};
