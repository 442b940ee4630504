// One HTTP download of one URL into one local file, on a worker thread of its
// own, reported to a window with one message number (wParam = code, lParam =
// value). Codes 1 (content length), 2 (bytes so far) and 3 (the body follows)
// are sent, so the receiver must keep pumping messages while a session runs;
// every other code is posted and ends the attempt:
//   0 done (bytes), 4 stopped, 5 no Internet session (error), 6 HTTP status not
//   2xx or no connection (status or error), 7 local file error (cause),
//   8 read error (error), 10 other failure, 11 request failed (error), 12 the
//   body is longer than it can be (its length, or the bytes read by then).
// The code is the low word of wParam; the high word is the attempt's serial
// (0 unless set), so a receiver can tell a late message of an ended attempt.
// The file is written from its first byte, or after the bytes it keeps when
// the rest of it is asked for.
// A request past caches (reload) carries Pragma: no-cache and Cache-Control:
// no-cache, so that no proxy or CDN hands back the copy that was bad.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "install/http_transfer.h"
#include "install/transfer_rules.h"
#include "platform/system.h"

class CWinThread;
class CHttpConnection;
class CHttpFile;
class CInternetSession;

class CHTTPBinarySession {
 public:
  enum Code {
    kDone = 0,
    kContentLength = 1,
    kProgress = 2,
    kStarted = 3,
    kStopped = 4,
    kNoSession = 5,
    kNoConnection = 6,
    kFileError = 7,
    kReadError = 8,
    kOtherError = 10,
    kRequestError = 11,
    kTooLong = 12,
  };
  enum AccessType { kPreconfig = 0, kDirect = 1, kNamedProxy = 3 };
  // Progress is reported at most this often (ms): each report is a sent
  // message that repaints the page, and the transfer must not wait for them.
  // The final count always comes with the completion.
  static constexpr DWORD kProgressInterval = 50;
  // Bytes asked for per read: what is there, within these bounds.
  static constexpr DWORD kReadSize = 1024 * 1024;
  static constexpr DWORD kLeastRead = 64 * 1024;
  static constexpr DWORD kReceiveTimeoutCap = 120000;

  CHTTPBinarySession() = default;
  // Stop must have ended the worker and closed the file before.
  virtual ~CHTTPBinarySession() = default;
  CHTTPBinarySession(const CHTTPBinarySession&) = delete;
  CHTTPBinarySession& operator=(const CHTTPBinarySession&) = delete;

  // Asks the worker to stop and waits for it without a limit, delivering the
  // messages it sends to the calling thread meanwhile; closes the file.
  virtual void Stop();
  // Asks the worker to stop at its next look at the flag; does not wait.
  virtual void Abort();
  // Stops and ends a session made with new: waits for the worker at most
  // dwWaitMs (delivering sent messages), then closes the file. A worker still
  // blocked in the network by then (a stalled read lasts until the receive
  // time-out) is left to end by itself: it reports nothing more and deletes
  // the session when it returns. The caller must not touch the session after.
  void Release(DWORD dwWaitMs);

  void SetNotify(HWND hWnd, UINT nMsg) {
    m_hNotifyWnd = hWnd;
    m_nNotifyMsg = nMsg;
  }
  void SetSerial(WORD wSerial) { m_wSerial = wSerial; }
  void SetReload(BOOL bReload) { m_bReload = bReload; }
  // The most bytes the body may have; 0: no bound.
  void SetMaxBytes(DWORD dwMaxBytes) { m_dwMaxBytes = dwMaxBytes; }
  // Bytes of the file to keep: the rest is asked for with a Range, and code 3
  // carries what was kept (0 when the reply made the file start over).
  void SetResumeFrom(DWORD dwBytes) { m_dwResumeFrom = dwBytes; }
  // The cap shared with the other transfers (null: none).
  void SetRateLimit(std::shared_ptr<CRateLimit> limit) { m_pLimit = std::move(limit); }

  BOOL StartDirect(const char* pszURL, const char* pszPath, CFileErrorRecord* pError);
  // Proxy null or empty: the system's proxy settings; otherwise that proxy,
  // with the user and password (when not empty) handed to the connection.
  BOOL StartWithProxy(const char* pszURL, const char* pszPath, CFileErrorRecord* pError, const char* pszProxy,
                      const char* pszUser, const char* pszPassword);

 private:
  BOOL Start(const char* pszURL, const char* pszPath, CFileErrorRecord* pError);
  static UINT ThreadProc(LPVOID pParam);
  void Run();
  // Steps 3 to 11 of an attempt: its terminal code and value.
  void Transfer(CInternetSession& session, int& nCode, DWORD& dwValue);
  BOOL WriteToFile(const char* pData, DWORD nCount, int& nCause);
  // Empties the file again (a reply that is not the rest asked for).
  BOOL TruncateFile(int& nCause);
  // Waits dwMs for the speed cap, or until told to stop.
  void PauseFor(DWORD dwMs);
  // The file error's cause when closing failed, else 0.
  int CloseFile();
  // The worker's last touch of the session: true when the caller gave it up
  // (Release) and the worker must delete it.
  bool FinishWorker();
  void Send(int nCode, DWORD dwValue);
  void Post(int nCode, DWORD dwValue);

  CWinThread* m_pThread = nullptr;
  HANDLE m_pFile = INVALID_HANDLE_VALUE;
  plat::CriticalSection m_lockFile;
  std::string m_strServer;
  std::string m_strObject;
  unsigned short m_nPort = 0;
  DWORD m_nAccessType = kDirect;
  std::string m_strProxy;
  std::string m_strUser;
  std::string m_strPassword;
  const char* m_pszUser = nullptr;
  const char* m_pszPassword = nullptr;
  DWORD m_dwReceived = 0;
  DWORD m_dwReported = 0;
  DWORD m_dwReportTick = 0;
  // Cleared under m_lockOwner when the caller gives the session up.
  HWND m_hNotifyWnd = nullptr;
  UINT m_nNotifyMsg = 0;
  WORD m_wSerial = 0;
  BOOL m_bReload = FALSE;
  DWORD m_dwMaxBytes = 0;
  DWORD m_dwResumeFrom = 0;
  std::shared_ptr<CRateLimit> m_pLimit;
  // Read by the worker without the lock; Abort sets it under m_lockStop.
  std::atomic<bool> m_bStop{false};
  plat::CriticalSection m_lockStop;
  // Guards the hand-over of the session between caller and worker.
  plat::CriticalSection m_lockOwner;
  bool m_bWorkerDone = false;
  bool m_bAbandoned = false;
};
