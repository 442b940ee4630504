#include "wizard/base_page.h"

#include <shellapi.h>

#include "framework/msgbox.h"
#include "platform/files.h"
#include "wizard/installer_path.h"
#include "wizard/wizard.h"

namespace {
constexpr unsigned kCannotStartInstaller = 10001;
}

CWrenStarterWizard* CBasePage::GetWizard() const { return static_cast<CWrenStarterWizard*>(m_pParentWnd); }

void CBasePage::SetWizardButtons(uint32_t flags) const {
  if (CWrenStarterWizard* wizard = GetWizard()) wizard->SetWizardButtons(flags);
}

void CBasePage::OnCancel() {
  if (m_pParentWnd != nullptr) m_pParentWnd->PostMessage(WM_COMMAND, IDCANCEL, 0);
}

BOOL CBasePage::LaunchInstaller(const char* parameters) {
  std::string path;
  GetWizard()->GetInstallerPath(path);
  return LaunchInstallerFile(path, parameters);
}

BOOL LaunchInstallerFile(std::string path, const char* parameters) {
  if (!plat::FileExists(path)) {
    AfxMessageBox(kCannotStartInstaller, MB_ICONEXCLAMATION);
    return FALSE;
  }
  char full[MAX_PATH];
  DWORD length = ::GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (length > 0 && length < sizeof full) path.assign(full, length);
  // Quoted, so that a path with blanks still names one file.
  std::string file = QuoteCommandPath(path);
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = file.c_str();
  info.lpParameters = parameters;
  info.nShow = SW_SHOW;
  if (!::ShellExecuteExA(&info)) return FALSE;
  if (info.hProcess != nullptr) {
    ::WaitForSingleObject(info.hProcess, INFINITE);
    ::CloseHandle(info.hProcess);
  }
  return TRUE;
}
