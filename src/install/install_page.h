// The install page (dialog 132). The build run itself is not part of this
// build yet: the page has its template and its place in the wizard, and says
// plainly that no image can be built here.
#pragma once

#include <string>

#include "wizard/base_page.h"
#include "wizard/resource_ids.h"

class CInstallPage : public CBasePage {
 public:
  UINT GetTemplateID() const override { return IDD_INSTALL; }
  void GetTitleIDs(UINT& title, UINT& subtitle) const override {
    title = 5003;
    subtitle = 5013;
  }
  void OnSetActive() override;
  int OnWizardBack() override { return 0; }
  int OnWizardNext() override { return m_nNextPage; }
  BOOL OnWizardFinish() override { return TRUE; }

  // The wizard's Cancel while this page shows.
  void RequestCancel();

  int m_nNextPage = 0;
  int m_nFinalType = 0;
  int m_nFinalCode = 0;
  int m_nFinalExtra = 0;
  std::string m_strInstallerName;
  BOOL m_bCancelRequested = FALSE;
};
