// One pass of "let the user interface breathe" for loops that poll on the
// user-interface thread: idle work while the queue is empty, then every
// waiting message, with a timer that bounds the wait.
#pragma once

#include <windows.h>

#include "framework/app.h"

class CIdleMessageLoop {
 public:
  static constexpr UINT_PTR kWakeTimerId = 19990607;

  // thread: whose idle work, message pump and main window are used; null = the application.
  explicit CIdleMessageLoop(CWinThread* thread = nullptr);
  virtual ~CIdleMessageLoop() = default;

  void ResetIdle();
  // elapse: milliseconds until the wait ends at the latest, or -1 for no limit.
  // 0 after a batch of messages; 1 when the quit message came (it is posted
  // again, so the main loop ends too, and the caller must leave its loop).
  int Run(int elapse);

 private:
  CWinThread* m_pThread;
  BOOL m_bIdle = TRUE;
  LONG m_lIdleCount = 0;
};
