// The install page (dialog 132): it starts the engine's worker and then
// serves it from the user-interface thread. Every 50 ms it takes the engine's
// notifications: it fetches the file information and downloads parts itself
// (in nested message loops, while the engine waits), keeps the progress
// display, and turns the engine's questions into message boxes. When the
// engine ends, it shows the failure, if any, chooses the finish page and
// presses Next itself.
#pragma once

#include <windows.h>

#include <string>

#include "fileinfo/fetch_win32.h"
#include "fileinfo/online_socket.h"
#include "install/download_phase.h"
#include "wizard/base_page.h"
#include "wizard/resource_ids.h"

class CCheckerCore;
class CHTTPBinarySession;
struct CUpdateNotify;

class CInstallPage : public CBasePage, public CWin32FileInfoHost, public CDownloadPhase {
 public:
  // The page's own messages.
  static constexpr UINT WM_START_RUN = 0x8101;
  static constexpr UINT WM_RUN_FINISHED = 0x8201;
  static constexpr UINT WM_ENGINE_WAKE = 0x8202;  // a notification is queued
  static constexpr UINT WM_HTTP_NOTIFY = 0x8301;
  static constexpr UINT_PTR kPumpTimerId = 537198852;
  static constexpr UINT kPumpPeriod = 50;
  static constexpr UINT_PTR kDotsTimerId = 537198853;
  static constexpr UINT kDotsPeriod = 300;
  // Longest pass of a download's wait loop: the session's messages end a pass
  // at once; the pass bounds how late a stall is noticed.
  static constexpr int kDownloadIdlePass = 100;
  // How long an ended attempt waits for its worker before leaving it behind.
  static constexpr DWORD kSessionStopWaitMs = 1000;

  CInstallPage() : CWin32FileInfoHost(nullptr) {}
  ~CInstallPage() override;

  UINT GetTemplateID() const override { return IDD_INSTALL; }
  void GetTitleIDs(UINT& title, UINT& subtitle) const override {
    title = 5003;
    subtitle = 5013;
  }
  void OnSetActive() override;
  void OnKillActive() override {}
  int OnWizardBack() override { return 0; }
  int OnWizardNext() override { return m_nNextPage; }
  BOOL OnWizardFinish() override { return TRUE; }

  // The wizard's Cancel while this page shows: asks, and marks the running
  // download to be stopped.
  void RequestCancel();

  void StartRun();
  // Handles every queued notification of the engine, then lets it go on.
  void PumpNotifications();
  void OnRunFinished(WPARAM wParam, LPARAM lParam);

  CCheckerCore* m_pChecker = nullptr;
  int m_nNextPage = 0;
  int m_nFinalType = 0;
  int m_nFinalCode = 0;
  int m_nFinalExtra = 0;
  std::string m_strInstallerName;

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  void OnTimer(UINT_PTR id) override;
  void OnDestroy() override;
  BOOL OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;

  // The file-information fetch's view of the page.
  void StartPhase(unsigned textId) override;
  void StopPhase() override;
  void SetPhaseText(unsigned textId) override;
  void SetResult(int result, int extra) override;

  // The download phase's session, dialog and display.
  int RunSession(const std::string& url, const std::string& path, bool reload, int* extra) override;
  bool AskRetry(const std::string& text) override;
  void SetWaitCursor(bool on) override;
  void EnableCancel(bool enable) override;
  void ShowFileProgress() override;
  void ShowPhaseBytes() override;
  void ShowRemainingParts(int remaining, int count) override;
  void ShowEstimate(bool includeCurrent) override;
  void ShowDownloadActivity() override;
  void ShowInstallProgress(int done, int total);
  void ShowInstallActivity();

 private:
  void HandleNotification(const CUpdateNotify& notify);
  void StartPhaseLabel(int item, unsigned textId);
  void EndPhaseLabel(int item, unsigned doneTextId);
  void RefreshStatusLabel();
  // The run could not start: the reason, then the error finish page.
  void FailStart(unsigned textId);
  void PressNext();
  // Stops the running attempt's session and lets it go (Release).
  void EndSession();

  CWrenOnlineSocket m_socket;
  CFont m_fontBold;
  int m_nStatusItem = 0;
  unsigned m_nStatusTextId = 0;
  int m_nStatusDots = 0;
  std::string m_strItemName;
  CHTTPBinarySession* m_pSession = nullptr;
  HCURSOR m_hOldCursor = nullptr;

  CWnd m_progressFile;
  CStatic m_staticFileSize;
  CStatic m_staticRemaining;
  CWnd m_progressFiles;
  CStatic m_staticTotalSize;
  CStatic m_staticEstimate;
  CWnd m_progressInstall;
  CStatic m_staticInstall;
};
