#include "wizard/install_page.h"

#include <commctrl.h>

#include <new>

#include "common/strings.h"
#include "framework/msgbox.h"
#include "run/progress_display.h"
#include "run/run_texts.h"
#include "settings/settings.h"
#include "wizard/run_start.h"
#include "wizard/wizard.h"

namespace {

int PhaseItem(RunPhase phase) {
  switch (phase) {
    case RunPhase::kFileInfo: return IDC_PHASE_FILEINFO;
    case RunPhase::kCheck: return IDC_PHASE_CHECK;
    default: return IDC_PHASE_INSTALL;
  }
}

}  // namespace

CInstallPage::~CInstallPage() { EndRun(); }

void CInstallPage::EndRun() {
  // A run still going when the program ends stays where it is: its worker
  // may still wait on it.
  if (m_pRun != nullptr && m_pRun->Run().IsRunning()) {
    m_pRun->Run().StopTransfers();
    (void)m_pRun.release();
  }
  else
    m_pRun.reset();  // also closes the connection to the file-information server
}

void CInstallPage::DoDataExchange(CDataExchange* dx) {
  DDX_Control(dx, IDC_FILE_PROGRESS, m_progressFile);
  DDX_Control(dx, IDC_FILE_SIZE, m_staticFileSize);
  DDX_Control(dx, IDC_REMAINING, m_staticRemaining);
  DDX_Control(dx, IDC_PARTS_PROGRESS, m_progressFiles);
  DDX_Control(dx, IDC_TOTAL_SIZE, m_staticTotalSize);
  DDX_Control(dx, IDC_ESTIMATE, m_staticEstimate);
  DDX_Control(dx, IDC_INSTALL_PROGRESS, m_progressInstall);
  DDX_Control(dx, IDC_INSTALL_STATUS, m_staticInstall);
}

BOOL CInstallPage::OnInitDialog() {
  CBasePage::OnInitDialog();
  LOGFONTA logFont{};
  HFONT font = GetFont();
  if (font != nullptr && ::GetObjectA(font, sizeof logFont, &logFont) == sizeof logFont) {
    logFont.lfWeight = FW_BOLD;
    m_fontBold.CreateFontIndirect(logFont);
  }
  m_progressFile.SendMessage(PBM_SETRANGE32, 0, 100);
  m_progressInstall.SendMessage(PBM_SETRANGE32, 0, 100);
  SetDlgItemText(IDC_PHASE_FILEINFO, LoadResString(IDS_PHASE_FILEINFO));
  SetDlgItemText(IDC_PHASE_CHECK, LoadResString(IDS_PHASE_CHECK));
  SetDlgItemText(IDC_PHASE_INSTALL, LoadResString(IDS_PHASE_INSTALL));
  // These belong to the installation phase and wait for it.
  m_staticEstimate.EnableWindow(FALSE);
  m_staticInstall.EnableWindow(FALSE);
  m_staticRemaining.EnableWindow(FALSE);
  return TRUE;
}

void CInstallPage::OnSetActive() {
  SetWizardButtons(WIZB_NOCANCEL);
  PostMessage(WM_START_RUN);
}

BOOL CInstallPage::OnMessage(UINT msg, WPARAM, LPARAM, LRESULT* result) {
  *result = 0;
  if (msg != WM_START_RUN) return FALSE;
  StartRun();
  return TRUE;
}

void CInstallPage::RequestCancel() {
  // Escape comes here too, also while the button is off: there is no
  // transfer to stop then, and it is ignored as the button would be.
  CWrenStarterWizard* wizard = GetWizard();
  if (m_pRun == nullptr || m_pRun->Run().IsCancelRequested() || wizard == nullptr ||
      !::IsWindowEnabled(wizard->GetDlgItem(IDCANCEL)))
    return;
  if (AfxMessageBox(IDS_CONFIRM_CANCEL_DOWNLOAD, MB_YESNO | MB_ICONEXCLAMATION) == IDYES) m_pRun->Run().Cancel();
}

// ---- the run -----------------------------------------------------------------

void CInstallPage::StartRun() {
  if (m_pRun != nullptr || m_nNextPage != 0) return;  // one run per page
  CWrenStarterWizard* wizard = GetWizard();
  std::string imageFolder;
  std::string downloadFolder;
  wizard->GetWorkFolders(imageFolder, downloadFolder);
  const COptionPage& options = wizard->GetOptionPage();
  const CRunSettings settings =
      MakeRunSettings(imageFolder, downloadFolder, options.m_setting, options.m_transfer,
                      options.m_bBootInstaller != FALSE, wizard->Ini());
  m_pRun.reset(new (std::nothrow) CStarterRun(settings, *this));
  if (m_pRun == nullptr) {
    Ask(LoadResString(IDS_NO_MEMORY_TO_START), MB_ICONEXCLAMATION);
    OnFinished(CRunOutcome{});
    return;
  }
  m_pRun->Start();
}

void CInstallPage::OnFinished(const CRunOutcome& outcome) {
  m_outcome = outcome;
  if (outcome.bStarted && outcome.nType == 0)
    m_nNextPage = GetWizard()->GetOptionPage().m_bBootInstaller ? IDD_FINISH_BOOT : IDD_FINISH;
  else
    m_nNextPage = IDD_FINISH_ERROR;
  PressNext();
}

void CInstallPage::PressNext() {
  SetWizardButtons(WIZB_NEXT);
  if (CWrenStarterWizard* wizard = GetWizard()) wizard->PostMessage(WM_COMMAND, IDC_WIZ_NEXT, 0);
}

void CInstallPage::OnPublicationAccepted(uint64_t serial) { KeepAcceptedPublication(GetWizard()->Ini(), serial); }

void CInstallPage::OnDestroy() {
  KillTimer(kDotsTimerId);
  EndRun();
}

// ---- phase labels ------------------------------------------------------------

void CInstallPage::OnPhaseRunning(RunPhase phase, unsigned textId) {
  const int item = PhaseItem(phase);
  if (m_fontBold.m_hObject != nullptr)
    ::SendDlgItemMessageA(m_hWnd, item, WM_SETFONT, reinterpret_cast<WPARAM>(m_fontBold.m_hObject), TRUE);
  m_nStatusDots = 0;
  m_nStatusItem = item;
  m_nStatusTextId = textId;
  RefreshStatusLabel();
  SetTimer(kDotsTimerId, kDotsPeriod);
  if (phase == RunPhase::kInstall) {
    m_staticEstimate.EnableWindow(TRUE);
    m_staticInstall.EnableWindow(TRUE);
    m_staticRemaining.EnableWindow(TRUE);
  }
}

void CInstallPage::OnPhaseDone(RunPhase phase, unsigned textId) {
  KillTimer(kDotsTimerId);
  SetDlgItemText(PhaseItem(phase), LoadResString(textId));
  m_strItemName.clear();
  m_nStatusDots = 0;
}

void CInstallPage::OnItem(const std::string& name) {
  m_strItemName = name;
  m_nStatusDots = 0;
  RefreshStatusLabel();
}

void CInstallPage::RefreshStatusLabel() {
  if (m_nStatusItem == 0) return;
  SetDlgItemText(m_nStatusItem, StatusLabelText(LoadResString(m_nStatusTextId), m_strItemName,
                                                m_nStatusItem == IDC_PHASE_FILEINFO, m_nStatusDots));
}

void CInstallPage::OnTimer(UINT_PTR id) {
  if (id != kDotsTimerId) return;
  m_nStatusDots = NextStatusDots(m_nStatusDots);
  RefreshStatusLabel();
}

// ---- progress display ----------------------------------------------------------

void CInstallPage::OnInstallingFile(const std::string& name) {
  m_strItemName = name;
  SetDlgItemText(IDC_ACTIVITY, FormatText(LoadResString(IDS_INSTALLING).c_str(), name.c_str()));
  m_progressFile.SendMessage(PBM_SETPOS, 0);
  m_staticFileSize.SetWindowText(std::string());
}

void CInstallPage::OnFileBar(int position) { m_progressFile.SendMessage(PBM_SETPOS, static_cast<WPARAM>(position)); }

void CInstallPage::OnFileBytes(uint32_t done, uint32_t total) {
  m_staticFileSize.SetWindowText(ByteCountText(done, total));
  m_progressFile.SendMessage(PBM_SETPOS, static_cast<WPARAM>(FileBarPosition(done, total)));
}

void CInstallPage::OnPhaseBytes(uint64_t done, uint64_t total) {
  m_staticTotalSize.SetWindowText(ByteCountText(done, total));
}

void CInstallPage::OnRemainingParts(int remaining, int count) {
  m_staticRemaining.SetWindowText(RemainingPartsText(remaining, count));
  m_progressFiles.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, static_cast<WORD>(count)));
  m_progressFiles.SendMessage(PBM_SETPOS, static_cast<WPARAM>(count - remaining));
}

void CInstallPage::OnInstallCount(int done, int total) {
  m_progressInstall.SendMessage(PBM_SETPOS, static_cast<WPARAM>(InstallBarPosition(done, total)));
  m_staticInstall.SetWindowText(InstallCounterText(done, total));
}

void CInstallPage::OnCancelOffered(bool offered) {
  if (CWrenStarterWizard* wizard = GetWizard()) ::EnableWindow(wizard->GetDlgItem(IDCANCEL), offered ? TRUE : FALSE);
}

void CInstallPage::OnBusy(bool busy) {
  if (busy)
    m_hOldCursor = ::SetCursor(::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)));
  else
    ::SetCursor(m_hOldCursor);
}
