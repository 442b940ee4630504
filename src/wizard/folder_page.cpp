#include "wizard/folder_page.h"

#include "settings/settings.h"
#include "framework/msgbox.h"
#include "wizard/folder_check.h"
#include "wizard/wizard.h"

namespace {
constexpr unsigned kBrowseTitle = 6000;
constexpr unsigned kNextCaption = 5100;
}  // namespace

CFolderPage::CFolderPage(CIniFile& ini) : m_ini(ini) {
  m_strInstallPath = GetImageFolder(m_ini);
}

void CFolderPage::DoDataExchange(CDataExchange* dx) { DDX_Text(dx, IDC_FOLDER, m_strInstallPath); }

std::string CFolderPage::GetFolderText() const {
  if (m_hWnd == nullptr) return m_strInstallPath;
  CWnd box;
  box.Attach(GetDlgItem(IDC_FOLDER));
  std::string text = box.GetWindowText();
  box.Detach();
  return text;
}

void CFolderPage::UpdateButtons() {
  uint32_t flags = WIZB_BACK;
  if (::GetWindowTextLengthA(GetDlgItem(IDC_FOLDER)) > 0) flags |= WIZB_NEXT;
  SetWizardButtons(flags);
}

void CFolderPage::OnSetActive() {
  UpdateButtons();
  GetWizard()->SetNextButtonText(kNextCaption);
}

BOOL CFolderPage::OnCommand(UINT id, UINT code, HWND control) {
  if (id == IDC_BROWSE && code == BN_CLICKED) {
    BrowseForFolder(this, GetFolderText(), kBrowseTitle, m_browse);
    UpdateButtons();
    return TRUE;
  }
  return CBasePage::OnCommand(id, code, control);
}

void CFolderPage::SetFolder(const std::string& folder) {
  m_strInstallPath = folder;
  if (m_hWnd != nullptr) SetDlgItemText(IDC_FOLDER, folder);
}

bool CFolderPage::AcceptFolder() { return AcceptImageFolder(m_strInstallPath); }

void CFolderPage::SaveFolder() const {
  SaveImageFolder(m_ini, m_strInstallPath);
}

int CFolderPage::OnWizardNext() {
  if (!UpdateData(TRUE)) return -1;
  if (!AcceptFolder()) return -1;
  SaveFolder();
  return 0;
}
