// Parts of the files to come, fetched ahead while the engine checks, joins
// and installs the current file: up to N transfers at once, each into a
// temporary file of its own. When the engine asks for a part, its download
// takes the transfer over as its first attempt (still running, or done), so
// questions, retries and the run log stay what they are for a part fetched on
// its own; the temporary file gets the part's name once that attempt ends. A transfer
// ahead that fails is dropped: the part's own download meets the fault then.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "install/http_transfer.h"
#include "run/run_host.h"

class CPartPrefetch {
 public:
  // Parts of the files ahead together hold at most this much (one larger part
  // may still go alone), so that fetching ahead never needs much more disk.
  static constexpr uint64_t kAheadBytes = 64ull << 20;
  // A transfer ahead that has received nothing for this long is on a dead
  // connection: it is dropped, and the part is fetched when its turn comes.
  static constexpr uint32_t kSilenceMs = 60000;

  struct CPlanPart {
    size_t nFile = 0;  // the file's place among the files to install
    std::string strUrl;
    std::string strPath;  // where the part belongs
    std::string strTemp;  // where it is fetched ahead
    uint32_t dwSize = 0;  // packed
  };
  // A transfer ahead and what it has reported so far.
  struct CJob {
    CPlanPart part;
    uint16_t wSerial = 0;
    ITransferSession* pSession = nullptr;  // null once it has ended
    int nResult = -1;                      // kHttpRunning until it ends
    int nExtra = 0;
    bool bStarted = false;
    uint32_t dwTotal = 0;
    uint32_t dwReceived = 0;
    uint32_t dwLastDataTick = 0;
  };

  // serials: hands out the serials of all the run's transfers.
  CPartPrefetch(IHttpTransfer& http, IRunHost& host, uint32_t notifyMsg, std::function<uint16_t()> serials);
  ~CPartPrefetch();

  // The files to install and their parts, in order; at most maxRunning
  // transfers at once (counting the one the engine waits for). Fetching ahead
  // starts with Advance.
  void SetPlan(std::vector<CPlanPart> plan, unsigned maxRunning);
  // The engine works on file `file` now: parts from there on may be fetched.
  void Advance(size_t file);
  // Starts transfers while there is room.
  void Fill();
  // Whether the part the engine waits for is being transferred besides the
  // transfers here (it counts against the bound).
  void SetForeground(bool running);
  // A transfer's report: true when it belonged to a job here.
  bool OnReport(uintptr_t wParam, uint32_t lParam);
  // Drops jobs on dead connections.
  void CheckSilence();
  // The job for the part at path, no longer the prefetch's: the caller owns
  // its session and its temporary file. Null when there is none.
  std::unique_ptr<CJob> Take(const std::string& path);
  // Stops every transfer within about waitMs in all and deletes their files.
  void StopAll(uint32_t waitMs);

  size_t Running() const;
  size_t Jobs() const { return m_jobs.size(); }

 private:
  void Drop(size_t index, uint32_t waitMs);
  bool Start(const CPlanPart& part);

  IHttpTransfer& m_http;
  IRunHost& m_host;
  uint32_t m_nNotifyMsg;
  std::function<uint16_t()> m_serials;
  std::vector<CPlanPart> m_plan;
  size_t m_nNext = 0;  // the first plan part not yet started
  bool m_bActive = false;
  bool m_bForeground = false;
  unsigned m_nMaxRunning = 1;
  std::vector<std::unique_ptr<CJob>> m_jobs;
};
