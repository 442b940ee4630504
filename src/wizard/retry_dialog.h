// Retry or cancel, asked when a step of the run failed and can be repeated.
// Left alone for a minute, it answers Retry by itself so an unattended run
// keeps going.
#pragma once

#include <string>

#include "common/stopwatch.h"
#include "framework/dialog.h"
#include "run/run_observer.h"

class CRetryCancelDialog : public CDialog {
 public:
  static constexpr UINT_PTR kTimerId = 0x20031208;
  static constexpr UINT kTimerPeriod = 1000;
  static constexpr uint32_t kAutoRetrySeconds = 60;

  // ticks replaces the tick counter (tests); null = the real one.
  CRetryCancelDialog(const std::string& message, CWnd* parent, TickSource ticks = nullptr);

  std::string m_strMessage;
  CTickStopwatch m_watch;

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  void OnTimer(UINT_PTR id) override;
  BOOL OnCommand(UINT id, UINT code, HWND control) override;
  void OnOK() override { EndDialog(IDRETRY); }
  void OnCancel() override { EndDialog(IDCANCEL); }
};

// The run's retry question as the dialog, noted in the run log. true for Retry.
bool AskRetryQuestion(const std::string& text, CWnd* parent);

// A person answers the run's questions: message boxes and the retry dialog;
// nobody is there to wait for another round with the server.
class CPersonAnswers : public IRunAnswers {
 public:
  int Ask(const std::string& text, unsigned style) override;
  bool AskRetry(const std::string& text) override;
  bool RetryFetch(int /*result*/) override { return false; }
};
