// The install page (dialog 132): the wizard's face of a build run. It starts
// the run when it is shown, shows what the run tells it (phase labels,
// progress bars and texts), puts the run's questions to its answerer (a
// person, or an unattended build's rules) and, when the run ends, chooses the
// finish page and presses Next itself.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "run/run_observer.h"
#include "run/starter_run.h"
#include "wizard/base_page.h"
#include "wizard/resource_ids.h"
#include "wizard/retry_dialog.h"

class CInstallPage : public CBasePage, public IRunObserver {
 public:
  static constexpr UINT WM_START_RUN = 0x8101;
  static constexpr UINT_PTR kDotsTimerId = 537198853;
  static constexpr UINT kDotsPeriod = 300;

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

  // Who answers the run's questions (null: a person).
  void SetAnswers(IRunAnswers* answers) { m_pAnswers = answers; }
  // The wizard's Cancel while this page shows: asks, and marks the running
  // download to be stopped.
  void RequestCancel();

  int m_nNextPage = 0;
  CRunOutcome m_outcome;

  // ---- the run's observer
  int Ask(const std::string& text, unsigned style) override { return Answers().Ask(text, style); }
  bool AskRetry(const std::string& text) override { return Answers().AskRetry(text); }
  bool RetryFetch(int result) override { return Answers().RetryFetch(result); }
  void OnPhaseRunning(RunPhase phase, unsigned textId) override;
  void OnPhaseStopped() override { KillTimer(kDotsTimerId); }
  void OnPhaseDone(RunPhase phase, unsigned textId) override;
  void OnItem(const std::string& name) override;
  void OnActivity(const std::string& text) override { SetDlgItemText(IDC_ACTIVITY, text); }
  void OnInstallingFile(const std::string& name) override;
  void OnFileBar(int position) override;
  void OnFileBytes(uint32_t done, uint32_t total) override;
  void OnPhaseBytes(uint64_t done, uint64_t total) override;
  void OnRemainingParts(int remaining, int count) override;
  void OnEstimate(const std::string& text) override { m_staticEstimate.SetWindowText(text); }
  void OnInstallCount(int done, int total) override;
  void OnCancelOffered(bool offered) override;
  void OnBusy(bool busy) override;
  void OnPublicationAccepted(uint64_t serial) override;
  void OnFinished(const CRunOutcome& outcome) override;

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  void OnTimer(UINT_PTR id) override;
  void OnDestroy() override;
  BOOL OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;

 private:
  IRunAnswers& Answers() { return m_pAnswers != nullptr ? *m_pAnswers : m_person; }
  void StartRun();
  // Lets the run go once the page goes away.
  void EndRun();
  void RefreshStatusLabel();
  void PressNext();

  std::unique_ptr<CStarterRun> m_pRun;
  CPersonAnswers m_person;
  IRunAnswers* m_pAnswers = nullptr;
  CFont m_fontBold;
  int m_nStatusItem = 0;
  unsigned m_nStatusTextId = 0;
  int m_nStatusDots = 0;
  std::string m_strItemName;
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
