// The answers of an unattended run: every question of the run gets the
// answer a careful admin would give, without a person.
//   - Retry questions (the retry dialog, the check and installation
//     questions, "go on waiting for the server?") and another round of the
//     file-information session after the server could not be reached: yes,
//     after a pause, until the run has used kMaxRetries of them; then stop.
//   - Too little disk space: stop.
//   - A missing image folder: create it.
//   - Stop the download? (only a person can press Cancel): yes.
//   - Any other question: the cautious answer (No / Cancel).
//   - Messages: noted in the log (by the message box seam), answered OK.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "framework/msgbox.h"
#include "run/run_observer.h"

class CUnattendedAnswers : public CMessageBoxSeam, public IRunAnswers {
 public:
  static constexpr int kMaxRetries = 10;
  static constexpr uint32_t kRetryPauseMs = 3000;

  // pause: waits that long while the program goes on handling its messages
  // (null: no pause).
  explicit CUnattendedAnswers(std::function<void(uint32_t)> pause = nullptr, int maxRetries = kMaxRetries);

  // The answer to a message box (the seam: the caller notes it in the log).
  int Show(const std::string& text, unsigned style) override;
  // A message box of the run, noted in the log.
  int Ask(const std::string& text, unsigned style) override { return AfxMessageBox(*this, text, style); }
  // The retry dialog of a download: true for Retry. Noted in the log.
  bool AskRetry(const std::string& text) override;
  // After the file-information server could not be reached: true to try
  // another round.
  bool RetryFetch(int result) override;
  int RetriesUsed() const { return m_nRetries; }

 private:
  // Takes one retry of the run's bound (and pauses); false once it is used up.
  bool TakeRetry(const char* what);

  std::function<void(uint32_t)> m_pause;
  int m_nMaxRetries;
  int m_nRetries = 0;
};
