#include "fileinfo/fetch.h"

#include "common/run_log.h"
#include "common/strings.h"
#include "framework/msgbox.h"

CFileInfoFetch::CFileInfoFetch(CWrenOnlineSocket& socket, CFileInfoHost& host, TickSource ticks)
    : m_socket(socket), m_host(host), m_waitWatch(ticks) {
  m_socket.SetListTarget(&m_host);
}

int FetchResultOfReply(int replyState) {
  switch (replyState) {
    case REPLY_COMPLETE: return FETCH_OK;
    case REPLY_UPDATED: return FETCH_UPDATED;
    case REPLY_NO_SERVICE: return FETCH_NO_SERVICE;
    case REPLY_MAINTENANCE: return FETCH_MAINTENANCE;
    case REPLY_BUSY: return FETCH_BUSY;
    default: return FETCH_FATAL;
  }
}

void CFileInfoFetch::RestartWatch() {
  m_waitWatch.Reset();
  m_waitWatch.Start();
}

bool CFileInfoFetch::PollAndIdle() {
  m_socket.Poll(1);
  return m_host.RunIdleLoop(kFetchIdlePass) == 1;
}

bool CFileInfoFetch::UserStopsWaiting() {
  if (m_waitWatch.GetSeconds() <= kFetchQuestionSeconds) return false;
  if (m_host.Ask(LoadResString(IDS_FETCH_KEEP_WAITING), MB_YESNO | MB_ICONEXCLAMATION) != IDYES) return true;
  RestartWatch();
  return false;
}

int CFileInfoFetch::FetchFileInformation() {
  m_host.StartPhase(IDS_FETCH_PHASE);

  // The library is started once and stays up until the page goes away.
  const bool ready = g_bNetInitialized ? (m_socket.GetHolder() != nullptr || m_socket.SelectFraming(0, 0))
                                       : m_socket.Initialize();
  if (!ready) {
    m_host.SetResult(FETCH_INIT_FAILED, 0);
    m_host.StopPhase();
    return FETCH_INIT_FAILED;
  }

  std::string host;
  int port = 0;
  m_host.GetServerAddress(host, port);
  runlog::Writef("SERVER", "file-information server %s:%d", host.c_str(), port);

  int result = FETCH_CONNECT_FAILED;
  for (;;) {
    g_nConnectState = CONNECT_WAITING;
    g_bConnectionLost = false;
    result = FETCH_CONNECT_FAILED;
    // A port outside 1-65535 would silently become another port.
    const bool portValid = port > 0 && port <= 65535;
    if (portValid && m_socket.ConnectTo(host, static_cast<uint16_t>(port)) == 0) {
      result = WaitForConnect();
      if (result == FETCH_OK) result = RequestAndWaitForReply();
    }
    if (!WaitForDisconnect()) result = FETCH_ABORTED;
    const bool unreachable =
        result == FETCH_CONNECT_FAILED || result == FETCH_CONNECT_LOST || result == FETCH_REPLY_LOST;
    if (!unreachable || !m_host.RetryAfterFailure(result)) break;
  }
  if (result == FETCH_OK)
    runlog::Write("SERVER", "file list received");
  else
    runlog::Writef("SERVER", "file information not received (%d)", result);

  m_host.StopPhase();
  if (result == FETCH_OK)
    m_host.SetPhaseText(IDS_FETCH_DONE);
  else
    m_host.SetResult(result, 0);
  return result;
}

int CFileInfoFetch::WaitForConnect() {
  RestartWatch();
  for (;;) {
    const bool quitting = PollAndIdle();
    if (g_bConnectionLost || !m_socket.IsAlive()) return FETCH_CONNECT_LOST;
    if (UserStopsWaiting()) return FETCH_CONNECT_LOST;
    if (PageGone(quitting)) return FETCH_ABORTED;
    if (g_nConnectState == CONNECT_DONE) return FETCH_OK;
    if (g_nConnectState != CONNECT_WAITING) return FETCH_CONNECT_LOST;
  }
}

int CFileInfoFetch::RequestAndWaitForReply() {
  g_bConnectionLost = false;
  g_nReplyState = REPLY_WAITING;
  if (!m_socket.SendTaggedValue(kFileInfoRequestTag, 0)) return FETCH_SEND_FAILED;
  m_host.ResetIdle();
  RestartWatch();
  for (;;) {
    const bool quitting = PollAndIdle();
    if (g_bConnectionLost || !m_socket.IsAlive()) return FETCH_REPLY_LOST;
    if (UserStopsWaiting()) return FETCH_REPLY_TIMEOUT;
    if (PageGone(quitting)) return FETCH_ABORTED;
    if (g_nReplyState != REPLY_WAITING) return FetchResultOfReply(g_nReplyState);
  }
}

bool CFileInfoFetch::WaitForDisconnect() {
  m_socket.Disconnect();
  RestartWatch();
  do {
    const bool quitting = PollAndIdle();
    if (UserStopsWaiting()) return false;
    if (PageGone(quitting)) return false;
  } while (m_socket.IsOpen());
  return true;
}
