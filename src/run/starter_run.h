// A build run with the program's own parts: the file list from the
// file-information server, the parts over WinINet, served by a run window on
// the calling thread. Both faces of the program start their runs this way.
#pragma once

#include "fileinfo/list_source.h"
#include "install/wininet_transfer.h"
#include "run/build_run.h"
#include "run/run_window.h"

class CStarterRun {
 public:
  CStarterRun(const CRunSettings& settings, IRunObserver& observer);

  // false when the run could not start (the observer has been told).
  bool Start();
  CBuildRun& Run() { return m_run; }

 private:
  CRunWindow m_window;
  CServerListSource m_list;
  CWinInetTransfer m_http;
  CBuildRun m_run;
};
