#include "run/build_run.h"

#include <chrono>
#include <cstdlib>
#include <new>

#include "common/strings.h"
#include "common/trace.h"
#include "engine/checker_core.h"
#include "engine/file_ops.h"
#include "engine/records.h"
#include "engine/result_message.h"
#include "fileinfo/list_source.h"
#include "framework/msgbox.h"
#include "platform/files.h"
#include "platform/mbcs.h"
#include "platform/system.h"
#include "run/progress_display.h"
#include "run/run_record.h"
#include "run/run_texts.h"

CBuildRun::CBuildRun(const CRunSettings& settings, IRunHost& host, IListSource& list, IHttpTransfer& http,
                     IRunObserver& observer)
    : m_settings(settings), m_host(host), m_list(list), m_http(http), m_observer(observer) {}

CBuildRun::~CBuildRun() {
  // A worker still waiting for its notification when the program ends is
  // left alone: deleting its engine would release it into freed memory.
  m_pChecker = nullptr;
}

// ---- the run -------------------------------------------------------------------

void CBuildRun::FailStart(unsigned textId) {
  m_observer.Ask(LoadResString(textId), MB_ICONEXCLAMATION);
  m_observer.OnFinished(m_outcome);
}

bool CBuildRun::Start() {
  if (m_pChecker != nullptr || m_outcome.bStarted) return false;  // one run per object
  if (m_host.Target() == nullptr) {
    FailStart(IDS_CANNOT_START);
    return false;
  }
  CCheckerCore* checker = new (std::nothrow) CCheckerCore;
  if (checker == nullptr) {
    FailStart(IDS_NO_MEMORY_TO_START);
    return false;
  }
  m_pChecker = checker;
  checker->SetNotifyTarget(m_host.Target(), kFinishedMessage);
  checker->SetWakeMessage(kWakeMessage);
  checker->SetImageFolder(m_settings.strImageFolder);
  checker->SetDownloadFolder(m_settings.strDownloadFolder);
  RecordRunStart(m_settings.strImageFolder, m_settings.strDownloadFolder, m_settings.setting, m_settings.transfer,
                 m_settings.strServerHost, m_settings.nServerPort, m_settings.bBootInstaller);
  checker->SetListDataSource([this]() -> std::pair<const void*, size_t> {
    return {m_listBuffer.Data(), m_listBuffer.GetSize(false)};
  });
  switch (m_settings.keyState) {
    case EmbeddedKey::kNone: break;
    case EmbeddedKey::kValid: checker->RequireSignature(m_settings.publisherKey, m_settings.qwAcceptedSerial); break;
    case EmbeddedKey::kUnreadable: checker->RequireSignature(std::nullopt, 0); break;
  }
  trace::Event("run-start");
  if (!checker->StartThread()) {
    delete checker;
    m_pChecker = nullptr;
    FailStart(IDS_CANNOT_START);
    return false;
  }
  m_outcome.bStarted = true;
  return true;
}

bool CBuildRun::OnMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case kWakeMessage:
      Pump();
      return true;
    case kFinishedMessage:
      OnFinished(wParam, lParam);
      return true;
    case kHttpMessage:
      if (!m_prefetch.OnReport(wParam, static_cast<uint32_t>(lParam)))
        m_downloads.OnHttpMessage(wParam, static_cast<uint32_t>(lParam));
      return true;
    default:
      return false;
  }
}

void CBuildRun::Pump() {
  if (m_bPumping || m_pChecker == nullptr) return;
  m_prefetch.CheckSilence();
  m_bPumping = true;
  {
    plat::Lock lock(EngineSharedLock());
    CUpdateNotifyList& list = m_pChecker->m_listNotify;
    if (!list.IsEmpty()) {
      trace::Add("pump-wait", std::chrono::steady_clock::now() - list.m_tQueued);
      for (const CUpdateNotify* notify : list) HandleNotification(*notify);
      list.ReleaseAll();
    }
  }
  m_bPumping = false;
}

void CBuildRun::SetResult(int result, int extra) {
  if (m_pChecker != nullptr) m_pChecker->SetResult(result, extra);
}

void CBuildRun::HandleNotification(const CUpdateNotify& notify) {
  int reply = 0;
  RecordNotification(notify);
  switch (notify.m_nKind) {
    case NOTIFY_LOAD_LIST: {
      trace::Span span("fetch");
      m_list.FetchList(m_listHost);  // replies itself on failure
      break;
    }
    case NOTIFY_LOAD_MANIFEST: {
      int extra = 0;
      reply = m_downloads.FetchManifest(notify, &extra);
      SetResult(reply, extra);
      break;
    }
    case NOTIFY_PUBLICATION_ACCEPTED:
      m_observer.OnPublicationAccepted(std::strtoull(notify.m_szText, nullptr, 10));
      break;
    case NOTIFY_CHECK_PHASE:
      if (notify.m_nValue == 0) {
        m_outcome.strInstallerName = notify.m_szText;
        m_observer.OnPhaseRunning(RunPhase::kCheck, IDS_PHASE_CHECK_RUNNING);
      } else {
        m_observer.OnPhaseDone(RunPhase::kCheck, IDS_PHASE_CHECK_DONE);
      }
      break;
    case NOTIFY_INSTALL_FILE:
      // Leftovers of earlier runs are gone by now: fetching ahead may begin.
      m_prefetch.Advance(m_nInstallFile++);
      [[fallthrough]];
    case NOTIFY_CHECK_FILE:
      m_observer.OnItem(notify.m_szText);
      break;
    case NOTIFY_CHECK_ERROR:
      if (AskCheckRetry(m_observer, notify, &reply)) SetResult(reply, 0);
      break;
    case NOTIFY_INSTALL_PHASE:
      if (notify.m_nValue == 0) {
        m_prefetch.SetPlan(PlanOfInstall(), m_settings.transfer.nConnections);
        m_observer.OnPhaseRunning(RunPhase::kInstall, IDS_PHASE_INSTALL_RUNNING);
      } else if (notify.m_nValue == 1) {
        m_observer.OnPhaseDone(RunPhase::kInstall, IDS_PHASE_INSTALL_DONE);
      }
      m_observer.OnInstallCount(notify.m_nExtra & 0xFFFF, (notify.m_nExtra >> 16) & 0xFFFF);
      break;
    case NOTIFY_PREPARE:
      m_observer.OnActivity(LoadResString(IDS_ACTIVITY_PREPARE));
      break;
    case NOTIFY_DISK_CHECK:
      m_observer.OnActivity(LoadResString(IDS_ACTIVITY_DISK));
      break;
    case NOTIFY_DISK_SPACE:
      if (AskDiskSpace(m_observer, notify, &reply)) SetResult(reply, 0);
      break;
    case NOTIFY_DOWNLOAD: {
      int extra = 0;
      if (m_downloads.DownloadRequest(notify, &reply, &extra)) SetResult(reply, extra);
      break;
    }
    case NOTIFY_FILE_PROGRESS:
      if (notify.m_nValue != 0)
        m_observer.OnFileBar(notify.m_nExtra);
      else if (notify.m_szText[0] != '\0')
        m_observer.OnInstallingFile(FileNameOfPath(notify.m_szText));
      break;
    case NOTIFY_INSTALL_ERROR:
      if (AskInstallRetry(m_observer, notify, &reply)) SetResult(reply, 0);
      break;
    default:
      break;
  }
}

void CBuildRun::OnFinished(uintptr_t wParam, intptr_t lParam) {
  if (m_pChecker == nullptr) return;
  const int type = static_cast<int>(wParam & 0xFFFF);
  const int word = static_cast<int>((wParam >> 16) & 0xFFFF);
  m_outcome.nType = type;
  trace::Event("run-end", type == RESULT_TYPE_SUCCESS ? "success" : "failure");
  trace::WriteSummary();
  if (type != RESULT_TYPE_SUCCESS) {
    m_outcome.nCode = static_cast<int16_t>(word);
    m_outcome.nExtra = static_cast<int>(lParam);
    std::string text;
    FormatResultMessage(&text, m_outcome.nType, m_outcome.nCode, m_outcome.nExtra);
    m_observer.Ask(text, MB_ICONEXCLAMATION);
  }
  m_prefetch.StopAll(kSessionStopWaitMs);
  RecordRunEnd(type, type == RESULT_TYPE_SUCCESS ? word : m_outcome.nCode, m_outcome.nExtra);
  delete m_pChecker;
  m_pChecker = nullptr;
  m_observer.OnFinished(m_outcome);
}

std::vector<CPartPrefetch::CPlanPart> CBuildRun::PlanOfInstall() const {
  std::vector<CPartPrefetch::CPlanPart> plan;
  uint32_t serial = 0;
  // Temporary names as the engine's, with a first half of their own (never
  // this process's id), so that a later run removes what a killed one left.
  auto tempName = [&] {
    for (;;) {
      const std::string path = m_pChecker->m_strDownloadFolder + TempFileName(~plat::GetCurrentProcessId(), ++serial);
      if (!m_pChecker->IsListPath(path)) return path;
    }
  };
  size_t index = 0;
  for (const CCheckFile* file : m_pChecker->m_listUpdate) {
    for (const CDLFileInfo& part : file->m_aParts) {
      CPartPrefetch::CPlanPart planned;
      planned.nFile = index;
      planned.strUrl = PartUrl(m_pChecker->m_strBaseUrl.c_str(), part.m_strRemoteName);
      planned.strPath = m_pChecker->m_strDownloadFolder + part.m_strLocalName;
      planned.strTemp = tempName();
      planned.dwSize = part.m_dwPackedSize;
      plan.push_back(std::move(planned));
    }
    ++index;
  }
  return plan;
}

void CBuildRun::CListHost::GetServerAddress(std::string& host, int& port) {
  host = m_run.m_settings.strServerHost;
  port = m_run.m_settings.nServerPort;
}

// ---- the download phase's display ------------------------------------------------

void CBuildRun::CDownloads::ShowFileProgress() {
  m_run.m_observer.OnFileBytes(m_dwFileDone, m_dwFileTotal);
  ShowPhaseBytes();
}

void CBuildRun::CDownloads::ShowEstimate(bool includeCurrent) {
  m_run.m_observer.OnEstimate(EstimateText(RemainingBytes(includeCurrent), m_qwMeasuredBytes, m_qwMeasuredMs));
}

void CBuildRun::CDownloads::ShowDownloadActivity() {
  m_run.m_observer.OnActivity(FormatText(LoadResString(IDS_DOWNLOADING).c_str(), m_strDownloadName.c_str()));
}

// ---- one download attempt ----------------------------------------------------------

int CBuildRun::CDownloads::RunSession(const CTransferRequest& asked, int* extra) {
  trace::Span span("http");
  CTransferRequest request = asked;
  const std::string& path = request.strPath;
  request.wSerial = m_wAttemptSerial;
  request.hNotify = m_run.m_host.Target();
  request.nNotifyMsg = kHttpMessage;
  m_dwLastDataTick = Now();
  // A transfer fetched ahead is this part's first attempt; a copy past caches never is.
  std::unique_ptr<CPartPrefetch::CJob> ahead =
      request.bReload || request.dwResumeFrom != 0 ? nullptr : m_run.m_prefetch.Take(path);
  m_run.m_prefetch.SetForeground(true);
  CFileErrorRecord error;
  if (ahead != nullptr) {
    Adopt(*ahead);
  } else {
    m_pSession = m_run.m_http.Start(request, &error);
  }
  if (ahead == nullptr && m_pSession == nullptr) {
    m_run.m_observer.Ask(FormatText(LoadResString(IDS_DOWNLOAD_CANNOT_CREATE).c_str(), error.m_cause,
                                    static_cast<unsigned>(error.m_lOsError), path.c_str()),
                         MB_ICONEXCLAMATION);
    m_run.m_prefetch.SetForeground(false);
    *extra = -1;
    return kSessionNotRun;
  }

  CAttemptWatch watch;
  bool cancelOffered = false;
  for (;;) {
    m_run.m_prefetch.Fill();
    if (m_nHttpResult != kHttpRunning) break;  // a transfer ahead that had ended already
    const int quitting = m_run.m_host.Wait(kDownloadIdlePass);
    if (quitting == 1 || !m_run.m_host.IsAlive()) {
      EndSession();
      m_run.m_prefetch.SetForeground(false);
      if (ahead != nullptr) DeleteFileForced(ahead->part.strTemp);
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
  m_run.m_prefetch.SetForeground(false);
  const int result = SessionResult(watch);
  if (ahead != nullptr) {
    // From here on the attempt's file is the part's own: checked, kept for
    // the rest to be asked for, or removed as after any attempt.
    DeleteFileForced(path);
    if (!plat::RenameFile(ahead->part.strTemp, path)) DeleteFileForced(ahead->part.strTemp);
  }
  return result;
}

void CBuildRun::CDownloads::Adopt(const CPartPrefetch::CJob& job) {
  m_wAttemptSerial = job.wSerial;
  m_pSession = job.pSession;
  if (job.bStarted) OnHttpNotify(3, 0);
  if (job.dwTotal != 0) OnHttpNotify(1, job.dwTotal);
  if (job.dwReceived != 0) OnHttpNotify(2, job.dwReceived);
  m_dwLastDataTick = job.dwLastDataTick;
  if (job.nResult != kHttpRunning) OnHttpNotify(job.nResult, static_cast<uint32_t>(job.nExtra));
}

void CBuildRun::CDownloads::EndSession() {
  ITransferSession* session = m_pSession;
  m_pSession = nullptr;
  if (session != nullptr) session->Release(kSessionStopWaitMs);
}
