// The host of a build run on a Windows thread: a message-only window that
// receives the run's messages and hands them to the run, a 50 ms timer that
// pumps the run's notifications should a wake-up ever be lost, and the idle
// message loop for the run's waits.
#pragma once

#include <windows.h>

#include "framework/idle_loop.h"
#include "framework/wnd.h"
#include "run/run_host.h"

class CBuildRun;

class CRunWindow : public CWnd, public IRunHost {
 public:
  static constexpr UINT_PTR kPumpTimerId = 537198852;
  static constexpr UINT kPumpPeriod = 50;

  // Makes the window for run on the calling thread; FALSE when it cannot be made.
  BOOL Create(CBuildRun* run);

  uint32_t Now() override { return ::GetTickCount(); }
  int Wait(int ms) override { return m_loop.Run(ms); }
  void ResetIdle() override { m_loop.ResetIdle(); }
  bool IsAlive() override { return m_hWnd != nullptr && ::IsWindow(m_hWnd); }
  plat::WindowHandle Target() override { return m_hWnd; }

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  CBuildRun* m_pRun = nullptr;
  CIdleMessageLoop m_loop;
};
