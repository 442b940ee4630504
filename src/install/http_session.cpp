#include "install/http_session.h"

#include <algorithm>
#include <memory>
#include <string>
#include <new>
#include <vector>

#include "common/trace.h"
#include "engine/file_ops.h"
#include "framework/app.h"
#include "framework/internet.h"

namespace {

// Waits for an object at most dwWaitMs (INFINITE: no limit) while messages
// sent to this thread are delivered: the worker may be inside a SendMessage
// to the very thread that waits for it. True when the object was signalled.
bool WaitDeliveringSentMessages(HANDLE hObject, DWORD dwWaitMs) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    DWORD left = INFINITE;
    if (dwWaitMs != INFINITE) {
      const DWORD spent = ::GetTickCount() - start;
      left = spent >= dwWaitMs ? 0 : dwWaitMs - spent;
    }
    const DWORD woken = ::MsgWaitForMultipleObjects(1, &hObject, FALSE, left, QS_SENDMESSAGE);
    if (woken == WAIT_OBJECT_0) return true;
    if (woken != WAIT_OBJECT_0 + 1) return false;  // time is up, or the wait failed
    MSG msg;
    ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace

BOOL CHTTPBinarySession::StartDirect(const char* pszURL, const char* pszPath, CFileErrorRecord* pError) {
  m_nAccessType = kDirect;
  m_strProxy.clear();
  m_strUser.clear();
  m_strPassword.clear();
  m_pszUser = m_pszPassword = nullptr;
  return Start(pszURL, pszPath, pError);
}

BOOL CHTTPBinarySession::StartWithProxy(const char* pszURL, const char* pszPath, CFileErrorRecord* pError,
                                        const char* pszProxy, const char* pszUser, const char* pszPassword) {
  m_strUser = pszUser ? pszUser : "";
  m_strPassword = pszPassword ? pszPassword : "";
  if (pszProxy && *pszProxy) {
    m_nAccessType = kNamedProxy;
    m_strProxy = pszProxy;
    m_pszUser = m_strUser.empty() ? nullptr : m_strUser.c_str();
    m_pszPassword = m_strPassword.empty() ? nullptr : m_strPassword.c_str();
  } else {
    m_nAccessType = kPreconfig;
    m_strProxy.clear();
    m_pszUser = m_pszPassword = nullptr;
  }
  return Start(pszURL, pszPath, pError);
}

BOOL CHTTPBinarySession::Start(const char* pszURL, const char* pszPath, CFileErrorRecord* pError) try {
  DWORD service = 0;
  INTERNET_PORT port = 0;
  if (!AfxParseURL(pszURL, service, m_strServer, m_strObject, port) || service != INTERNET_SERVICE_HTTP)
    return FALSE;
  m_nPort = port;

  // Bytes to keep go on from where they end; anything else starts empty.
  m_pFile = ::CreateFileA(pszPath, GENERIC_WRITE, 0, nullptr, m_dwResumeFrom != 0 ? OPEN_ALWAYS : CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (m_pFile == INVALID_HANDLE_VALUE) {
    if (pError) {
      pError->m_lOsError = ::GetLastError();
      pError->m_cause = FileErrorCause(pError->m_lOsError);
    }
    return FALSE;
  }
  if (m_dwResumeFrom != 0) {
    LARGE_INTEGER size{};
    const bool kept = ::GetFileSizeEx(m_pFile, &size) && size.QuadPart == m_dwResumeFrom &&
                      ::SetFilePointer(m_pFile, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER;
    if (!kept) {
      m_dwResumeFrom = 0;
      ::SetFilePointer(m_pFile, 0, nullptr, FILE_BEGIN);
      ::SetEndOfFile(m_pFile);
    }
  }

  m_bStop = false;
  m_pThread = AfxBeginThread(ThreadProc, this, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
  if (!m_pThread) {
    CloseFile();
    return FALSE;
  }
  m_pThread->m_bAutoDelete = FALSE;
  m_pThread->ResumeThread();
  return TRUE;
} catch (const std::bad_alloc&) {
  CloseFile();
  return FALSE;
}

void CHTTPBinarySession::Abort() {
  plat::Lock lock(m_lockStop);
  m_bStop = true;
}

void CHTTPBinarySession::Stop() {
  m_bStop = true;
  if (m_pThread) {
    WaitDeliveringSentMessages(m_pThread->m_hThread, INFINITE);
    delete m_pThread;
    m_pThread = nullptr;
  }
  CloseFile();
}

void CHTTPBinarySession::Release(DWORD dwWaitMs) {
  Abort();
  if (m_pThread && !WaitDeliveringSentMessages(m_pThread->m_hThread, dwWaitMs)) {
    // The file is closed first, so that the caller can delete it at once and
    // a read that returns late writes nothing.
    CloseFile();
    bool abandoned = false;
    {
      plat::Lock lock(m_lockOwner);
      m_hNotifyWnd = nullptr;
      if (!m_bWorkerDone) {
        m_bAbandoned = abandoned = true;
        m_pThread->m_bAutoDelete = TRUE;  // its own thread object goes with it
        m_pThread = nullptr;
      }
    }
    if (abandoned) return;  // the session is the worker's now
  }
  Stop();  // the worker has ended or is past its last touch of the session
  delete this;
}

UINT CHTTPBinarySession::ThreadProc(LPVOID pParam) {
  static_cast<CHTTPBinarySession*>(pParam)->Run();
  return 0;
}

void CHTTPBinarySession::Run() {
  int code = kOtherError;
  DWORD value = 0;
  try {
    CInternetSession session;
    if (!session.Open(nullptr, 1, m_nAccessType, m_strProxy.empty() ? nullptr : m_strProxy.c_str(), nullptr, 0)) {
      code = kNoSession;
      value = ::GetLastError();
    } else {
      DWORD timeout = 0;
      if (session.QueryOption(INTERNET_OPTION_RECEIVE_TIMEOUT, timeout) && timeout > kReceiveTimeoutCap)
        session.SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, kReceiveTimeoutCap);
      Transfer(session, code, value);
    }
  } catch (...) {
    code = kOtherError;
    value = 0;
  }
  Post(code, value);
  if (const int cause = CloseFile()) Post(kFileError, static_cast<DWORD>(cause));
  if (FinishWorker()) delete this;
}

bool CHTTPBinarySession::FinishWorker() {
  plat::Lock lock(m_lockOwner);
  m_bWorkerDone = true;
  return m_bAbandoned;
}

void CHTTPBinarySession::Transfer(CInternetSession& session, int& nCode, DWORD& dwValue) {
  CHttpConnection connection;
  if (!connection.Open(session, m_strServer, m_nPort, m_pszUser, m_pszPassword)) {
    nCode = kNoConnection;
    dwValue = ::GetLastError();
    return;
  }
  // Credentials for a named proxy must reach the proxy too, not only the server.
  if (m_nAccessType == kNamedProxy) {
    if (m_pszUser) connection.SetOption(INTERNET_OPTION_PROXY_USERNAME, m_strUser);
    if (m_pszPassword) connection.SetOption(INTERNET_OPTION_PROXY_PASSWORD, m_strPassword);
  }

  DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | (m_bReload ? INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE : 0);
  std::unique_ptr<CHttpFile> request;
  // With bytes kept, the rest is asked for; a reply that is not exactly the
  // rest is asked for once more as a whole.
  DWORD from = m_dwResumeFrom;
  for (;;) {
    request.reset(connection.OpenRequest("GET", m_strObject, nullptr, 1, nullptr, nullptr, flags));
    if (!request || !request->GetHandle()) {
      nCode = kRequestError;
      dwValue = ::GetLastError();
      return;
    }
    // The flag gives Pragma only; caches that follow HTTP/1.1 look at Cache-Control.
    if (m_bReload) request->AddRequestHeaders("Cache-Control: no-cache\r\n", HTTP_ADDREQ_FLAG_ADD_IF_NEW);
    if (from != 0) {
      const std::string range = "Range: bytes=" + std::to_string(from) + "-\r\n";
      request->AddRequestHeaders(range.c_str(), HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
    }
    if (!request->SendRequest()) {
      nCode = kRequestError;
      dwValue = ::GetLastError();
      return;
    }
    DWORD status = 0;
    const bool known = request->QueryInfoStatusCode(status);
    if (from == 0) {
      if (known && (status < 200 || status >= 300)) {
        nCode = kNoConnection;
        dwValue = status;
        return;
      }
      break;
    }
    std::string contentRange;
    request->QueryInfoText(HTTP_QUERY_CONTENT_RANGE, contentRange);
    const RangeReply reply = JudgeRangeReply(status, contentRange, from, m_dwMaxBytes);
    if (reply == RangeReply::kAppend) break;
    if (reply == RangeReply::kRefused) {
      nCode = kNoConnection;
      dwValue = status;
      return;
    }
    from = 0;
    int cause = 0;
    if (!TruncateFile(cause)) {
      nCode = kFileError;
      dwValue = static_cast<DWORD>(cause);
      return;
    }
    if (reply == RangeReply::kFromZero) break;
  }
  Send(kStarted, from);
  if (m_bStop) {
    nCode = kStopped;
    dwValue = 0;
    return;
  }
  DWORD length = 0;
  if (request->QueryInfoNumber(HTTP_QUERY_CONTENT_LENGTH, length)) {
    // Counted with the bytes kept: the length of the whole part.
    const uint64_t whole = static_cast<uint64_t>(length) + from;
    Send(kContentLength, static_cast<DWORD>(std::min<uint64_t>(whole, UINT32_MAX)));
    if (m_dwMaxBytes != 0 && whole > m_dwMaxBytes) {
      nCode = kTooLong;
      dwValue = static_cast<DWORD>(std::min<uint64_t>(whole, UINT32_MAX));
      return;
    }
  }

  m_dwReceived = from;
  m_dwReported = from;
  m_dwReportTick = ::GetTickCount();
  std::vector<char> buffer(kReadSize);
  for (;;) {
    if (m_bStop) {
      nCode = kStopped;
      dwValue = 0;
      return;
    }
    // One byte more than the body may still have tells a longer one.
    // About what is there already is read (a read waits for all it asks
    // for, and a connection that breaks loses what that read had), so that
    // what arrived before a break is in the file for the next attempt.
    DWORD available = 0;
    if (!request->QueryDataAvailable(&available)) {
      nCode = kReadError;
      dwValue = ::GetLastError();
      return;
    }
    DWORD want = m_pLimit ? m_pLimit->ReadSize(kReadSize) : kReadSize;
    want = std::min(want, std::max(available, kLeastRead));
    if (m_dwMaxBytes != 0 && m_dwMaxBytes - m_dwReceived < want) want = m_dwMaxBytes - m_dwReceived + 1;
    DWORD got = 0;
    if (!request->Read(buffer.data(), want, &got)) {
      nCode = kReadError;
      dwValue = ::GetLastError();
      return;
    }
    if (m_bStop) {
      nCode = kStopped;
      dwValue = 0;
      return;
    }
    if (got == 0) {
      nCode = kDone;
      dwValue = m_dwReceived;
      return;
    }
    if (m_dwMaxBytes != 0 && got > m_dwMaxBytes - m_dwReceived) {
      nCode = kTooLong;
      dwValue = m_dwMaxBytes + 1;
      return;
    }
    int cause = 0;
    if (!WriteToFile(buffer.data(), got, cause)) {
      nCode = kFileError;
      dwValue = static_cast<DWORD>(cause);
      return;
    }
    m_dwReceived += got;
    if (m_pLimit) PauseFor(m_pLimit->Take(got, ::GetTickCount64()));
    const DWORD now = ::GetTickCount();
    if (now - m_dwReportTick >= kProgressInterval) {
      Send(kProgress, m_dwReceived);
      m_dwReported = m_dwReceived;
      m_dwReportTick = now;
    }
  }
}

BOOL CHTTPBinarySession::WriteToFile(const char* pData, DWORD nCount, int& nCause) {
  plat::Lock lock(m_lockFile);
  DWORD written = 0;
  if (m_pFile == INVALID_HANDLE_VALUE || !::WriteFile(m_pFile, pData, nCount, &written, nullptr) ||
      written != nCount) {
    DWORD error = ::GetLastError();
    nCause = FileErrorCause(written != nCount && error == 0 ? ERROR_DISK_FULL : error);
    return FALSE;
  }
  return TRUE;
}

BOOL CHTTPBinarySession::TruncateFile(int& nCause) {
  plat::Lock lock(m_lockFile);
  if (m_pFile == INVALID_HANDLE_VALUE || ::SetFilePointer(m_pFile, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !::SetEndOfFile(m_pFile)) {
    nCause = FileErrorCause(::GetLastError());
    return FALSE;
  }
  return TRUE;
}

void CHTTPBinarySession::PauseFor(DWORD dwMs) {
  // In short naps, so that a stop is never kept waiting for the cap.
  const DWORD start = ::GetTickCount();
  while (!m_bStop && ::GetTickCount() - start < dwMs) ::Sleep(std::min<DWORD>(dwMs - (::GetTickCount() - start), 50));
}

int CHTTPBinarySession::CloseFile() {
  plat::Lock lock(m_lockFile);
  if (m_pFile == INVALID_HANDLE_VALUE) return 0;
  const int cause = ::CloseHandle(m_pFile) ? 0 : FileErrorCause(::GetLastError());
  m_pFile = INVALID_HANDLE_VALUE;
  return cause;
}

void CHTTPBinarySession::Send(int nCode, DWORD dwValue) {
  HWND wnd = nullptr;
  {
    plat::Lock lock(m_lockOwner);
    wnd = m_hNotifyWnd;
  }
  // Not under the lock: the receiver's thread may be taking it to give the
  // session up. A message that arrives after that carries an ended serial.
  if (!wnd) return;
  trace::Span span(nCode == kProgress ? "ui-progress" : nullptr);
  ::SendMessageA(wnd, m_nNotifyMsg, MAKEWPARAM(nCode, m_wSerial), static_cast<LPARAM>(dwValue));
}

void CHTTPBinarySession::Post(int nCode, DWORD dwValue) {
  plat::Lock lock(m_lockOwner);
  if (m_hNotifyWnd) ::PostMessageA(m_hNotifyWnd, m_nNotifyMsg, MAKEWPARAM(nCode, m_wSerial), static_cast<LPARAM>(dwValue));
}
