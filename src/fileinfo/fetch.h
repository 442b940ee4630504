// The file-information fetch: one connection to the file-information server,
// one request, the reply chunks collected into the run's file-list block.
// Runs on the thread that serves the run; every wait is one heartbeat of
// the library followed by one pass of the idle message loop.
#pragma once

#include <cstdint>
#include <string>

#include "common/stopwatch.h"
#include "fileinfo/online_socket.h"
#include "framework/msgbox.h"

// Results of FetchFileInformation.
enum : int {
  FETCH_OK = 0,
  FETCH_INIT_FAILED = -200,     // the library or the framing could not be set up
  FETCH_CONNECT_FAILED = -199,  // the connect could not be started
  FETCH_CONNECT_LOST = -198,    // refused, lost or failed while connecting, or the user stopped waiting
  FETCH_REPLY_LOST = -197,      // connection lost while waiting for the reply
  FETCH_SEND_FAILED = -196,     // the request could not be queued
  FETCH_REPLY_TIMEOUT = -195,   // the user stopped waiting for the reply
  FETCH_ABORTED = -194,         // page gone, application quitting, or the user stopped waiting for the close
  FETCH_UPDATED = -193,         // status -3
  FETCH_NO_SERVICE = -192,      // status -1
  FETCH_MAINTENANCE = -191,     // status -100
  FETCH_BUSY = -190,            // status -98
  FETCH_FATAL = -189,           // any other status, or no memory for the list
};

// The request: one pair, tag 1028000 with value 0.
inline constexpr uint32_t kFileInfoRequestTag = 1028000;
// Seconds without progress before the user is asked whether to go on waiting.
inline constexpr uint32_t kFetchQuestionSeconds = 60;
// Longest pass of the idle message loop between two heartbeats, in ms. The
// socket's readiness wakes no message loop, so a short pass is what lets reply
// chunks in as soon as they arrive (Windows timers do not go below 10 ms).
inline constexpr int kFetchIdlePass = 10;

// Strings the fetch uses.
enum : unsigned {
  IDS_FETCH_PHASE = 7001,     // phase label while fetching
  IDS_FETCH_DONE = 7002,      // phase label once the list is in
  IDS_FETCH_KEEP_WAITING = 10304,
};

// What the fetch needs from the run it serves.
class CFileInfoHost : public CFileListTarget {
 public:
  // The server's address (the "Server" profile value, default port 9070).
  virtual void GetServerAddress(std::string& host, int& port) = 0;
  // One pass of the idle message loop of at most elapse ms; 1 when the
  // application is quitting.
  virtual int RunIdleLoop(int elapse) = 0;
  virtual void ResetIdle() = 0;
  // false once the page window is gone.
  virtual bool IsPageAlive() = 0;
  // Phase 1 on the progress label: the text with the running dots.
  virtual void StartPhase(unsigned textId) = 0;
  // Stops the dots; the label keeps its text.
  virtual void StopPhase() = 0;
  virtual void SetPhaseText(unsigned textId) = 0;
  // The reply to the engine's notification.
  virtual void SetResult(int result, int extra) = 0;
  // The server could not be reached (result -199, -198 or -197): true to try
  // another round (an unattended build does, a few times).
  virtual bool RetryAfterFailure(int /*result*/) { return false; }
  // The fetch's question (go on waiting?), answered as a message box.
  virtual int Ask(const std::string& text, unsigned style) { return AfxMessageBox(text, style); }
};

class CFileInfoFetch {
 public:
  // ticks: the stopwatch's tick source (null: the system's tick counter).
  CFileInfoFetch(CWrenOnlineSocket& socket, CFileInfoHost& host, TickSource ticks = nullptr);

  // 0 with the file-list data in the host's block, or a FETCH_ code (also
  // given to the host's SetResult).
  int FetchFileInformation();
  // Closes the connection and waits until it is gone; false when the wait
  // was given up.
  bool WaitForDisconnect();

 private:
  // One heartbeat and one idle pass; true when the application is quitting.
  bool PollAndIdle();
  // Once the watch passed the limit, asks 10304: true unless the user wants
  // to go on waiting (the watch then starts again).
  bool UserStopsWaiting();
  bool PageGone(bool quitting) { return quitting || !m_host.IsPageAlive(); }
  void RestartWatch();
  // Steps of FetchFileInformation; each returns 0 or a FETCH_ code.
  int WaitForConnect();
  int RequestAndWaitForReply();

  CWrenOnlineSocket& m_socket;
  CFileInfoHost& m_host;
  CTickStopwatch m_waitWatch;
};

// The result for a final reply state.
int FetchResultOfReply(int replyState);
