#include "wizard/wizard.h"

#include "common/strings.h"
#include "framework/app.h"
#include "framework/msgbox.h"
#include "wizard/installer_path.h"
#include "wizard/resource_ids.h"

namespace {
constexpr unsigned kConfirmCancel = 12000;
constexpr int kButtons[] = {IDC_WIZ_BACK, IDC_WIZ_NEXT, IDC_WIZ_FINISH, IDCANCEL};

void PostAppExit() {
  if (CWnd* main = AfxGetMainWnd()) main->PostMessage(WM_COMMAND, ID_APP_EXIT, 0);
}
}  // namespace

CWrenStarterWizard::CWrenStarterWizard(CIniFile& ini)
    : CDialog(IDD_WIZARD), m_ini(ini), m_pageFolder(ini), m_pageOption(ini) {
  m_arrPages = {&m_pageWelcome, &m_pageFolder,     &m_pageOption,     &m_pageInstall,
                &m_pageFinish,  &m_pageFinishBoot, &m_pageFinishError};
}

BOOL CWrenStarterWizard::CreateWizard(CWnd* parent) {
  m_bCreated = false;
  if (!Create(IDD_WIZARD, parent)) return FALSE;
  return m_bCreated ? TRUE : FALSE;
}

BOOL CWrenStarterWizard::CreatePages() {
  for (CBasePage* page : m_arrPages) {
    if (!page->CreatePage(this)) return FALSE;
  }
  return m_pane.CreatePage(this);
}

BOOL CWrenStarterWizard::OnInitDialog() {
  CDialog::OnInitDialog();
  // The pages and the header are made before the layout that needs their sizes.
  if (!CreatePages()) return TRUE;

  std::vector<WizardSize> pageSizes;
  for (CBasePage* page : m_arrPages) {
    page->ModifyStyle(WS_CAPTION, 0);
    RECT rc;
    ::GetWindowRect(page->m_hWnd, &rc);
    pageSizes.push_back({rc.right - rc.left, rc.bottom - rc.top});
  }
  RECT paneRect;
  ::GetWindowRect(m_pane.m_hWnd, &paneRect);
  RECT bar;
  ::GetClientRect(m_hWnd, &bar);
  WizardLayout layout = ComputeWizardLayout(pageSizes, {paneRect.right - paneRect.left, paneRect.bottom - paneRect.top},
                                            {bar.right - bar.left, bar.bottom - bar.top});

  ::SetWindowPos(m_pane.m_hWnd, nullptr, 0, 0, layout.width, layout.paneHeight, SWP_NOZORDER | SWP_SHOWWINDOW);
  for (size_t i = 0; i < m_arrPages.size(); ++i) {
    ::SetWindowPos(m_arrPages[i]->m_hWnd, nullptr, layout.pageX[i], layout.paneHeight, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  SetActivePage(0);
  for (int id : kButtons) {
    HWND button = GetDlgItem(id);
    RECT rc;
    ::GetWindowRect(button, &rc);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
    ::SetWindowPos(button, nullptr, rc.left + layout.buttonDx, rc.top + layout.buttonDy, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  RECT outer{0, 0, layout.client.cx, layout.client.cy};
  ::AdjustWindowRectEx(&outer, GetStyle(), FALSE, GetExStyle());
  ::SetWindowPos(m_hWnd, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER);
  m_bCreated = true;
  return TRUE;
}

BOOL CWrenStarterWizard::SetActivePage(int index) {
  if (index < 0 || index >= static_cast<int>(m_arrPages.size())) return FALSE;
  CBasePage* target = m_arrPages[static_cast<size_t>(index)];
  if (m_pCurrentPage != nullptr && m_pCurrentPage != target) {
    m_pCurrentPage->ShowWindow(SW_HIDE);
    m_pCurrentPage->OnKillActive();
  }
  target->OnSetActive();
  target->ShowWindow(SW_SHOW);
  UINT titleId = 0;
  UINT subtitleId = 0;
  target->GetTitleIDs(titleId, subtitleId);
  m_pane.SetTitles(titleId ? LoadResString(titleId) : std::string(),
                   subtitleId ? LoadResString(subtitleId) : std::string());
  m_pCurrentPage = target;
  return TRUE;
}

void CWrenStarterWizard::SetWizardButtons(uint32_t flags) {
  WizardButtonState state = ButtonStateForFlags(flags);
  ::EnableWindow(GetDlgItem(IDC_WIZ_BACK), state.backEnabled);
  ::ShowWindow(GetDlgItem(IDC_WIZ_NEXT), state.nextVisible ? SW_SHOW : SW_HIDE);
  ::EnableWindow(GetDlgItem(IDC_WIZ_NEXT), state.nextEnabled);
  ::ShowWindow(GetDlgItem(IDC_WIZ_FINISH), state.finishVisible ? SW_SHOW : SW_HIDE);
  ::EnableWindow(GetDlgItem(IDC_WIZ_FINISH), state.finishEnabled);
  ::EnableWindow(GetDlgItem(IDCANCEL), state.cancelEnabled);
}

void CWrenStarterWizard::SetNextButtonText(UINT stringId) { SetDlgItemText(IDC_WIZ_NEXT, LoadResString(stringId)); }

BOOL CWrenStarterWizard::IsInstallPageActive() const { return m_pCurrentPage == &m_pageInstall; }

void CWrenStarterWizard::GetWorkFolders(std::string& imageFolder, std::string& downloadFolder) const {
  imageFolder = m_pageFolder.GetFolderText();
  m_pageOption.m_setting.GetDownloadFolder(downloadFolder);
}

void CWrenStarterWizard::GetInstallerPath(std::string& path) const {
  path = JoinInstallerPath(m_pageFolder.GetFolderText(), m_pageInstall.m_outcome.strInstallerName);
}

int CWrenStarterWizard::IndexOf(const CBasePage* page) const {
  for (size_t i = 0; i < m_arrPages.size(); ++i) {
    if (m_arrPages[i] == page) return static_cast<int>(i);
  }
  return -1;
}

void CWrenStarterWizard::Move(int step, int pageResult) {
  std::vector<unsigned> templateIds;
  for (CBasePage* page : m_arrPages) templateIds.push_back(page->GetTemplateID());
  int target = ResolveWizardMove(pageResult, IndexOf(m_pCurrentPage), step, templateIds);
  if (target >= 0) SetActivePage(target);
}

void CWrenStarterWizard::OnBack() {
  if (m_pCurrentPage != nullptr) Move(-1, m_pCurrentPage->OnWizardBack());
}

void CWrenStarterWizard::OnNext() {
  if (m_pCurrentPage != nullptr) Move(+1, m_pCurrentPage->OnWizardNext());
  // Nobody presses Finish for an unattended build: the run's end ends it.
  if (IsFinishPage(m_pCurrentPage) && m_bFinishByItself) PostMessage(WM_COMMAND, IDC_WIZ_FINISH, 0);
}

void CWrenStarterWizard::SetUnattendedAnswers(IRunAnswers* answers) {
  m_pageInstall.SetAnswers(answers);
  m_bFinishByItself = answers != nullptr;
}

bool CWrenStarterWizard::IsFinishPage(const CBasePage* page) const {
  return page == &m_pageFinish || page == &m_pageFinishBoot || page == &m_pageFinishError;
}

void CWrenStarterWizard::OnFinish() {
  if (m_pCurrentPage != nullptr && m_pCurrentPage->OnWizardFinish()) PostAppExit();
}

void CWrenStarterWizard::OnCancel() {
  if (m_pCurrentPage == &m_pageInstall) {
    m_pageInstall.RequestCancel();
    return;
  }
  if (IsFinishPage(m_pCurrentPage)) return;  // Finish is the only way out of a finish page.
  if (AfxMessageBox(kConfirmCancel, MB_YESNO | MB_ICONEXCLAMATION) == IDYES) PostAppExit();
}

BOOL CWrenStarterWizard::OnCommand(UINT id, UINT code, HWND control) {
  if (code == BN_CLICKED) {
    switch (id) {
      case IDC_WIZ_BACK:
        OnBack();
        return TRUE;
      case IDC_WIZ_NEXT:
        OnNext();
        return TRUE;
      case IDC_WIZ_FINISH:
        OnFinish();
        return TRUE;
      default:
        break;
    }
  }
  return CDialog::OnCommand(id, code, control);
}
