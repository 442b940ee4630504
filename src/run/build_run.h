// One build run, from the file list to the outcome, without a window: the
// engine's worker loads the list, checks the image and installs what it
// needs, and asks the run for everything else through its notifications;
// the run serves them on the host's thread (fetching the list and the
// manifest, downloading parts, asking its questions) and tells the observer
// what happens. Both faces (the wizard's install page, the unattended
// runner) drive the same run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "fileinfo/fetch.h"
#include "fileinfo/list_buffer.h"
#include "install/http_transfer.h"
#include "run/download_phase.h"
#include "run/part_prefetch.h"
#include "run/run_host.h"
#include "run/run_observer.h"
#include "run/run_settings.h"

class CCheckerCore;
class IListSource;
struct CUpdateNotify;

class CBuildRun {
 public:
  // The run's messages, posted to the host's target.
  static constexpr uint32_t kFinishedMessage = 0x8201;  // the engine's outcome
  static constexpr uint32_t kWakeMessage = 0x8202;      // a notification is queued
  static constexpr uint32_t kHttpMessage = 0x8301;      // a transfer's report
  // Longest pass of a download's wait loop: the transfer's reports end a
  // pass at once; the pass bounds how late a stall is noticed.
  static constexpr int kDownloadIdlePass = 100;
  // How long an ended attempt waits for its transfer before leaving it behind.
  static constexpr uint32_t kSessionStopWaitMs = 1000;

  CBuildRun(const CRunSettings& settings, IRunHost& host, IListSource& list, IHttpTransfer& http,
            IRunObserver& observer);
  ~CBuildRun();
  CBuildRun(const CBuildRun&) = delete;
  CBuildRun& operator=(const CBuildRun&) = delete;

  // Starts the engine's worker. false when it could not start: the observer
  // has been told (a message, then OnFinished).
  bool Start();
  // A message that arrived at the host's target: true when it was the run's.
  bool OnMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
  // Handles every queued notification of the engine, then lets it go on.
  void Pump();
  bool IsRunning() const { return m_pChecker != nullptr; }
  // The face goes away while the run still goes on (the program ends): the
  // transfers ahead stop and their files go.
  void StopTransfers() { m_prefetch.StopAll(kSessionStopWaitMs); }
  // A cancel the user confirmed: the running transfer stops, and so does the run.
  void Cancel() { m_downloads.m_bCancelRequested = true; }
  bool IsCancelRequested() const { return m_downloads.m_bCancelRequested; }
  const CRunOutcome& Outcome() const { return m_outcome; }

  // The download phase's counters and limits (for tests).
  CDownloadPhase& Downloads() { return m_downloads; }

 private:
  // The download phase with the host's transfers, waits and clock, shown
  // through the observer.
  class CDownloads : public CDownloadPhase {
   public:
    explicit CDownloads(CBuildRun& run) : m_run(run) {}

   protected:
    int RunSession(const CTransferRequest& request, int* extra) override;
    bool AskRetry(const std::string& text) override { return m_run.m_observer.AskRetry(text); }
    uint32_t Now() const override { return m_run.m_host.Now(); }
    void SetWaitCursor(bool on) override { m_run.m_observer.OnBusy(on); }
    void EnableCancel(bool enable) override { m_run.m_observer.OnCancelOffered(enable); }
    void ShowFileProgress() override;
    void ShowPhaseBytes() override { m_run.m_observer.OnPhaseBytes(m_qwPhaseDone, m_qwPhaseTotal); }
    void ShowRemainingParts(int remaining, int count) override { m_run.m_observer.OnRemainingParts(remaining, count); }
    void ShowEstimate(bool includeCurrent) override;
    void ShowDownloadActivity() override;

   private:
    // Makes a transfer fetched ahead this attempt's: its reports so far are
    // taken as if they had come now.
    void Adopt(const CPartPrefetch::CJob& job);
    void EndSession();
    CBuildRun& m_run;
    ITransferSession* m_pSession = nullptr;
  };

  // The file-information fetch's view of the run.
  class CListHost : public CFileInfoHost {
   public:
    explicit CListHost(CBuildRun& run) : m_run(run) {}
    bool AllocListBuffer(uint32_t kilobytes) override { return m_run.m_listBuffer.Alloc(kilobytes); }
    bool AppendListBuffer(const void* data, uint32_t length) override {
      return m_run.m_listBuffer.Append(data, length);
    }
    void GetServerAddress(std::string& host, int& port) override;
    int RunIdleLoop(int elapse) override { return m_run.m_host.Wait(elapse); }
    void ResetIdle() override { m_run.m_host.ResetIdle(); }
    bool IsPageAlive() override { return m_run.m_host.IsAlive(); }
    void StartPhase(unsigned textId) override { m_run.m_observer.OnPhaseRunning(RunPhase::kFileInfo, textId); }
    void StopPhase() override { m_run.m_observer.OnPhaseStopped(); }
    void SetPhaseText(unsigned textId) override { m_run.m_observer.OnPhaseDone(RunPhase::kFileInfo, textId); }
    void SetResult(int result, int extra) override { m_run.SetResult(result, extra); }
    bool RetryAfterFailure(int result) override { return m_run.m_observer.RetryFetch(result); }
    int Ask(const std::string& text, unsigned style) override { return m_run.m_observer.Ask(text, style); }

   private:
    CBuildRun& m_run;
  };

  void HandleNotification(const CUpdateNotify& notify);
  // The parts of the files to install, for fetching ahead (the worker waits
  // while this reads its list).
  std::vector<CPartPrefetch::CPlanPart> PlanOfInstall() const;
  void SetResult(int result, int extra);
  void OnFinished(uintptr_t wParam, intptr_t lParam);
  // The run could not start: the reason, then the outcome.
  void FailStart(unsigned textId);

  CRunSettings m_settings;
  IRunHost& m_host;
  IListSource& m_list;
  IHttpTransfer& m_http;
  IRunObserver& m_observer;
  CDownloads m_downloads{*this};
  CListHost m_listHost{*this};
  CPartPrefetch m_prefetch{m_http, m_host, kHttpMessage, [this] { return m_downloads.NextSerial(); }};
  size_t m_nInstallFile = 0;  // files whose installation has begun
  CFileListBuffer m_listBuffer;
  CCheckerCore* m_pChecker = nullptr;
  // Set while a pump runs: the nested waits of its handlers may be woken
  // again, and the queue must not be handled inside itself.
  bool m_bPumping = false;
  CRunOutcome m_outcome;
};
