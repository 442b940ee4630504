#include "install/install_page.h"

#include <commctrl.h>

#include <cstdint>
#include <cstdlib>
#include <new>

#include "app/settings.h"
#include "app/starter_app.h"
#include "common/strings.h"
#include "common/trace.h"
#include "engine/checker_core.h"
#include "engine/records.h"
#include "engine/result_message.h"
#include "fileinfo/fetch.h"
#include "fileinfo/net_socket.h"
#include "framework/msgbox.h"
#include "install/http_session.h"
#include "install/progress_display.h"
#include "install/publisher_key.h"
#include "install/run_record.h"
#include "install/run_texts.h"
#include "wizard/app_services.h"
#include "wizard/retry_dialog.h"
#include "wizard/wizard.h"

namespace {

// Set while a pump runs: the nested message loops of its handlers deliver the
// 50 ms timer again, and the queue must not be handled inside itself.
bool g_bPumping = false;

void CALLBACK PumpTimerProc(HWND hwnd, UINT, UINT_PTR, DWORD) {
  if (auto* page = dynamic_cast<CInstallPage*>(CWnd::FromHandlePermanent(hwnd))) page->PumpNotifications();
}

// The file-list block the fetch has filled, for the engine's worker to copy.
std::pair<const void*, size_t> ReceivedListData() {
  CWrenStarterApp* app = GetStarterApp();
  if (app == nullptr) return {nullptr, 0};
  return {app->GetListBuffer(), app->GetListBufferSize(FALSE)};
}

}  // namespace

CInstallPage::~CInstallPage() {
  // A worker still waiting for the page when the program ends is left alone:
  // deleting its engine would release it into freed memory.
  m_pChecker = nullptr;
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
  m_hPage = m_hWnd;

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

BOOL CInstallPage::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
  *result = 0;
  switch (msg) {
    case WM_START_RUN:
      StartRun();
      return TRUE;
    case WM_RUN_FINISHED:
      OnRunFinished(wp, lp);
      return TRUE;
    case WM_ENGINE_WAKE:
      PumpNotifications();
      return TRUE;
    case WM_HTTP_NOTIFY:
      OnHttpMessage(wp, static_cast<uint32_t>(lp));
      return TRUE;
    default:
      return FALSE;
  }
}

void CInstallPage::RequestCancel() {
  // Escape comes here too, also while the button is off: there is no
  // transfer to stop then, and it is ignored as the button would be.
  CWrenStarterWizard* wizard = GetWizard();
  if (m_bCancelRequested || wizard == nullptr || !::IsWindowEnabled(wizard->GetDlgItem(IDCANCEL))) return;
  if (AfxMessageBox(IDS_CONFIRM_CANCEL_DOWNLOAD, MB_YESNO | MB_ICONEXCLAMATION) == IDYES) m_bCancelRequested = true;
}

// ---- the run -----------------------------------------------------------------

void CInstallPage::PressNext() {
  SetWizardButtons(WIZB_NEXT);
  if (CWrenStarterWizard* wizard = GetWizard()) wizard->PostMessage(WM_COMMAND, IDC_WIZ_NEXT, 0);
}

void CInstallPage::FailStart(unsigned textId) {
  AfxMessageBox(textId, MB_ICONEXCLAMATION);
  m_nNextPage = IDD_FINISH_ERROR;
  PressNext();
}

void CInstallPage::StartRun() {
  if (m_pChecker != nullptr || m_nNextPage != 0) return;  // one run per page
  CCheckerCore* checker = nullptr;
  try {
    checker = new CCheckerCore;
  } catch (const std::bad_alloc&) {
    FailStart(IDS_NO_MEMORY_TO_START);
    return;
  }
  m_pChecker = checker;
  checker->SetNotifyTarget(m_hWnd, WM_RUN_FINISHED);
  checker->SetWakeMessage(WM_ENGINE_WAKE);
  std::string imageFolder;
  std::string downloadFolder;
  GetWizard()->GetWorkFolders(imageFolder, downloadFolder);
  checker->SetImageFolder(imageFolder);
  checker->SetDownloadFolder(downloadFolder);
  RecordRunStart(imageFolder, downloadFolder, GetWizard()->GetOptionPage().m_setting,
                 GetWizard()->GetOptionPage().m_bBootInstaller);
  checker->SetListDataSource(ReceivedListData);
  ed25519::PublicKey key{};
  switch (LoadPublisherKey(&key)) {
    case EmbeddedKey::kNone: break;
    case EmbeddedKey::kValid: checker->RequireSignature(key, GetAcceptedPublication(GetAppIni())); break;
    case EmbeddedKey::kUnreadable: checker->RequireSignature(std::nullopt, 0); break;
  }
  trace::Event("run-start");
  if (!checker->StartThread()) {
    delete checker;
    m_pChecker = nullptr;
    FailStart(IDS_CANNOT_START);
    return;
  }
  SetTimer(kPumpTimerId, kPumpPeriod, PumpTimerProc);
}

void CInstallPage::PumpNotifications() {
  if (g_bPumping || m_pChecker == nullptr) return;
  g_bPumping = true;
  {
    plat::Lock lock(EngineSharedLock());
    CUpdateNotifyList& list = m_pChecker->m_listNotify;
    if (!list.IsEmpty()) {
      trace::Add("pump-wait", std::chrono::steady_clock::now() - list.m_tQueued);
      for (const CUpdateNotify* notify : list) HandleNotification(*notify);
      list.ReleaseAll();
    }
  }
  g_bPumping = false;
}

void CInstallPage::SetResult(int result, int extra) {
  if (m_pChecker != nullptr) m_pChecker->SetResult(result, extra);
}

void CInstallPage::HandleNotification(const CUpdateNotify& notify) {
  int reply = 0;
  RecordNotification(notify);
  switch (notify.m_nKind) {
    case NOTIFY_LOAD_LIST: {
      trace::Span span("fetch");
      CFileInfoFetch fetch(m_socket, *this);
      fetch.FetchFileInformation();  // replies itself on failure
      break;
    }
    case NOTIFY_LOAD_MANIFEST: {
      int extra = 0;
      reply = FetchManifest(notify, &extra);
      SetResult(reply, extra);
      break;
    }
    case NOTIFY_PUBLICATION_ACCEPTED:
      KeepAcceptedPublication(GetAppIni(), std::strtoull(notify.m_szText, nullptr, 10));
      break;
    case NOTIFY_CHECK_PHASE:
      if (notify.m_nValue == 0) {
        m_strInstallerName = notify.m_szText;
        StartPhaseLabel(IDC_PHASE_CHECK, IDS_PHASE_CHECK_RUNNING);
      } else {
        EndPhaseLabel(IDC_PHASE_CHECK, IDS_PHASE_CHECK_DONE);
      }
      break;
    case NOTIFY_CHECK_FILE:
    case NOTIFY_INSTALL_FILE:
      m_strItemName = notify.m_szText;
      m_nStatusDots = 0;
      RefreshStatusLabel();
      break;
    case NOTIFY_CHECK_ERROR:
      if (AskCheckRetry(notify, &reply)) SetResult(reply, 0);
      break;
    case NOTIFY_INSTALL_PHASE:
      if (notify.m_nValue == 0) {
        StartPhaseLabel(IDC_PHASE_INSTALL, IDS_PHASE_INSTALL_RUNNING);
        m_staticEstimate.EnableWindow(TRUE);
        m_staticInstall.EnableWindow(TRUE);
        m_staticRemaining.EnableWindow(TRUE);
      } else if (notify.m_nValue == 1) {
        EndPhaseLabel(IDC_PHASE_INSTALL, IDS_PHASE_INSTALL_DONE);
      }
      ShowInstallProgress(LOWORD(notify.m_nExtra), HIWORD(notify.m_nExtra));
      break;
    case NOTIFY_PREPARE:
      SetDlgItemText(IDC_ACTIVITY, LoadResString(IDS_ACTIVITY_PREPARE));
      break;
    case NOTIFY_DISK_CHECK:
      SetDlgItemText(IDC_ACTIVITY, LoadResString(IDS_ACTIVITY_DISK));
      break;
    case NOTIFY_DISK_SPACE:
      if (AskDiskSpace(notify, &reply)) SetResult(reply, 0);
      break;
    case NOTIFY_DOWNLOAD: {
      int extra = 0;
      if (DownloadRequest(notify, &reply, &extra)) SetResult(reply, extra);
      break;
    }
    case NOTIFY_FILE_PROGRESS:
      if (notify.m_nValue != 0) {
        m_progressFile.SendMessage(PBM_SETPOS, static_cast<WPARAM>(notify.m_nExtra));
      } else if (notify.m_szText[0] != '\0') {
        m_strItemName = FileNameOfPath(notify.m_szText);
        ShowInstallActivity();
        m_progressFile.SendMessage(PBM_SETPOS, 0);
        m_staticFileSize.SetWindowText(std::string());
      }
      break;
    case NOTIFY_INSTALL_ERROR:
      if (AskInstallRetry(notify, &reply)) SetResult(reply, 0);
      break;
    default:
      break;
  }
}

void CInstallPage::OnRunFinished(WPARAM wParam, LPARAM lParam) {
  m_nFinalType = LOWORD(wParam);
  KillTimer(kPumpTimerId);
  trace::Event("run-end", m_nFinalType == RESULT_TYPE_SUCCESS ? "success" : "failure");
  trace::WriteSummary();
  if (m_nFinalType == RESULT_TYPE_SUCCESS) {
    m_nNextPage = GetWizard()->GetOptionPage().m_bBootInstaller ? IDD_FINISH_BOOT : IDD_FINISH;
  } else {
    m_nFinalCode = static_cast<int16_t>(HIWORD(wParam));
    m_nFinalExtra = static_cast<int>(lParam);
    m_nNextPage = IDD_FINISH_ERROR;
    std::string text;
    FormatResultMessage(&text, m_nFinalType, m_nFinalCode, m_nFinalExtra);
    AfxMessageBox(text, MB_ICONEXCLAMATION);
  }
  RecordRunEnd(m_nFinalType, m_nFinalType == RESULT_TYPE_SUCCESS ? HIWORD(wParam) : m_nFinalCode, m_nFinalExtra);
  delete m_pChecker;
  m_pChecker = nullptr;
  PressNext();
}

void CInstallPage::OnDestroy() {
  if (g_bNetInitialized) m_socket.Close();  // also ends the library
  KillTimer(kPumpTimerId);
  KillTimer(kDotsTimerId);
}

// ---- phase labels ------------------------------------------------------------

void CInstallPage::StartPhaseLabel(int item, unsigned textId) {
  if (m_fontBold.m_hObject != nullptr)
    ::SendDlgItemMessageA(m_hWnd, item, WM_SETFONT, reinterpret_cast<WPARAM>(m_fontBold.m_hObject), TRUE);
  m_nStatusDots = 0;
  m_nStatusItem = item;
  m_nStatusTextId = textId;
  RefreshStatusLabel();
  SetTimer(kDotsTimerId, kDotsPeriod);
}

void CInstallPage::EndPhaseLabel(int item, unsigned doneTextId) {
  KillTimer(kDotsTimerId);
  SetDlgItemText(item, LoadResString(doneTextId));
  m_strItemName.clear();
  m_nStatusDots = 0;
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

void CInstallPage::StartPhase(unsigned textId) { StartPhaseLabel(IDC_PHASE_FILEINFO, textId); }

void CInstallPage::StopPhase() { KillTimer(kDotsTimerId); }

void CInstallPage::SetPhaseText(unsigned textId) { EndPhaseLabel(IDC_PHASE_FILEINFO, textId); }

// ---- progress display ----------------------------------------------------------

void CInstallPage::ShowFileProgress() {
  m_staticFileSize.SetWindowText(ByteCountText(m_dwFileDone, m_dwFileTotal));
  m_progressFile.SendMessage(PBM_SETPOS, static_cast<WPARAM>(FileBarPosition(m_dwFileDone, m_dwFileTotal)));
  ShowPhaseBytes();
}

void CInstallPage::ShowPhaseBytes() { m_staticTotalSize.SetWindowText(ByteCountText(m_qwPhaseDone, m_qwPhaseTotal)); }

void CInstallPage::ShowRemainingParts(int remaining, int count) {
  m_staticRemaining.SetWindowText(RemainingPartsText(remaining, count));
  m_progressFiles.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, static_cast<WORD>(count)));
  m_progressFiles.SendMessage(PBM_SETPOS, static_cast<WPARAM>(count - remaining));
}

void CInstallPage::ShowEstimate(bool includeCurrent) {
  m_staticEstimate.SetWindowText(EstimateText(RemainingBytes(includeCurrent), m_qwMeasuredBytes, m_qwMeasuredMs));
}

void CInstallPage::ShowInstallProgress(int done, int total) {
  m_progressInstall.SendMessage(PBM_SETPOS, static_cast<WPARAM>(InstallBarPosition(done, total)));
  m_staticInstall.SetWindowText(InstallCounterText(done, total));
}

void CInstallPage::ShowDownloadActivity() {
  SetDlgItemText(IDC_ACTIVITY, FormatText(LoadResString(IDS_DOWNLOADING).c_str(), m_strDownloadName.c_str()));
}

void CInstallPage::ShowInstallActivity() {
  SetDlgItemText(IDC_ACTIVITY, FormatText(LoadResString(IDS_INSTALLING).c_str(), m_strItemName.c_str()));
}

// ---- one download attempt --------------------------------------------------------

int CInstallPage::RunSession(const std::string& url, const std::string& path, bool reload, int* extra) {
  trace::Span span("http");
  CHTTPBinarySession* session = new (std::nothrow) CHTTPBinarySession;
  CFileErrorRecord error;
  BOOL started = FALSE;
  if (session != nullptr) {
    m_pSession = session;
    session->SetNotify(m_hWnd, WM_HTTP_NOTIFY);
    session->SetSerial(m_wAttemptSerial);
    session->SetReload(reload ? TRUE : FALSE);
    m_dwLastDataTick = Now();
    const CBinaryDownloadSetting& setting = GetWizard()->GetOptionPage().m_setting;
    if (setting.m_nProxyMode == kProxyNone) {
      started = session->StartDirect(url.c_str(), path.c_str(), &error);
    } else {
      const char* proxy = setting.m_nProxyMode == kProxyNamed ? setting.m_strProxyServer.c_str() : nullptr;
      started = session->StartWithProxy(url.c_str(), path.c_str(), &error, proxy, setting.m_strProxyUser.c_str(),
                                        setting.m_strProxyPassword.c_str());
    }
  }
  if (!started) {
    delete session;
    m_pSession = nullptr;
    AfxMessageBox(FormatText(LoadResString(IDS_DOWNLOAD_CANNOT_CREATE).c_str(), error.m_cause,
                             static_cast<unsigned>(error.m_lOsError), path.c_str()),
                  MB_ICONEXCLAMATION);
    *extra = -1;
    return kSessionNotRun;
  }

  const HWND page = m_hWnd;
  CAttemptWatch watch;
  bool cancelOffered = false;
  for (;;) {
    const int quitting = m_loop.Run(kDownloadIdlePass);
    if (quitting == 1 || !::IsWindow(page)) {
      EndSession();
      *extra = -2;
      return kSessionNotRun;
    }
    if (CheckAbort(watch)) break;
    if (m_bStarted && !cancelOffered) {
      EnableCancel(true);
      cancelOffered = true;
    }
    if (m_nHttpResult != kHttpRunning) break;
  }
  EnableCancel(false);
  EndSession();
  return SessionResult(watch);
}

void CInstallPage::EndSession() {
  CHTTPBinarySession* session = m_pSession;
  m_pSession = nullptr;
  if (session != nullptr) session->Release(kSessionStopWaitMs);
}

bool CInstallPage::AskRetry(const std::string& text) {
  return AskRetryQuestion(text, AfxGetMainWnd());
}

void CInstallPage::SetWaitCursor(bool on) {
  if (on)
    m_hOldCursor = ::SetCursor(::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)));
  else
    ::SetCursor(m_hOldCursor);
}

void CInstallPage::EnableCancel(bool enable) {
  if (CWrenStarterWizard* wizard = GetWizard()) ::EnableWindow(wizard->GetDlgItem(IDCANCEL), enable ? TRUE : FALSE);
}
