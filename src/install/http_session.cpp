#include "install/http_session.h"

#include <memory>
#include <new>
#include <vector>

#include "common/trace.h"
#include "engine/file_ops.h"
#include "framework/app.h"
#include "framework/internet.h"

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

  m_pFile = ::CreateFileA(pszPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (m_pFile == INVALID_HANDLE_VALUE) {
    if (pError) {
      pError->m_lOsError = ::GetLastError();
      pError->m_cause = FileErrorCause(pError->m_lOsError);
    }
    return FALSE;
  }

  m_bStop = false;
  m_pThread = AfxBeginThread(ThreadProc, this, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
  if (!m_pThread) {
    CloseFile(false);
    return FALSE;
  }
  m_pThread->m_bAutoDelete = FALSE;
  m_pThread->ResumeThread();
  return TRUE;
} catch (const std::bad_alloc&) {
  CloseFile(false);
  return FALSE;
}

void CHTTPBinarySession::Abort() {
  plat::Lock lock(m_lockStop);
  m_bStop = true;
}

void CHTTPBinarySession::Stop() {
  m_bStop = true;
  if (m_pThread) {
    ::WaitForSingleObject(m_pThread->m_hThread, INFINITE);
    delete m_pThread;
    m_pThread = nullptr;
  }
  CloseFile(false);
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
  CloseFile(true);
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

  DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | (m_bReload ? INTERNET_FLAG_RELOAD : 0);
  std::unique_ptr<CHttpFile> request(connection.OpenRequest("GET", m_strObject, nullptr, 1, nullptr, nullptr, flags));
  if (!request || !request->GetHandle()) {
    nCode = kRequestError;
    dwValue = ::GetLastError();
    return;
  }
  if (!request->SendRequest()) {
    nCode = kRequestError;
    dwValue = ::GetLastError();
    return;
  }
  DWORD status = 0;
  if (request->QueryInfoStatusCode(status) && (status < 200 || status >= 300)) {
    nCode = kNoConnection;
    dwValue = status;
    return;
  }
  Send(kStarted, 0);
  if (m_bStop) {
    nCode = kStopped;
    dwValue = 0;
    return;
  }
  DWORD length = 0;
  if (request->QueryInfoNumber(HTTP_QUERY_CONTENT_LENGTH, length)) Send(kContentLength, length);

  m_dwReceived = 0;
  m_dwReported = 0;
  m_dwReportTick = ::GetTickCount();
  std::vector<char> buffer(kReadSize);
  for (;;) {
    if (m_bStop) {
      nCode = kStopped;
      dwValue = 0;
      return;
    }
    DWORD got = 0;
    if (!request->Read(buffer.data(), kReadSize, &got)) {
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
    int cause = 0;
    if (!WriteToFile(buffer.data(), got, cause)) {
      nCode = kFileError;
      dwValue = static_cast<DWORD>(cause);
      return;
    }
    m_dwReceived += got;
    const DWORD now = ::GetTickCount();
    if (now - m_dwReportTick >= kProgressInterval) {
      trace::Span span("ui-progress");
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

void CHTTPBinarySession::CloseFile(bool bReportError) {
  plat::Lock lock(m_lockFile);
  if (m_pFile == INVALID_HANDLE_VALUE) return;
  if (!::CloseHandle(m_pFile) && bReportError) Post(kFileError, static_cast<DWORD>(FileErrorCause(::GetLastError())));
  m_pFile = INVALID_HANDLE_VALUE;
}

void CHTTPBinarySession::Send(int nCode, DWORD dwValue) {
  if (m_hNotifyWnd) ::SendMessageA(m_hNotifyWnd, m_nNotifyMsg, static_cast<WPARAM>(nCode), static_cast<LPARAM>(dwValue));
}

void CHTTPBinarySession::Post(int nCode, DWORD dwValue) {
  if (m_hNotifyWnd) ::PostMessageA(m_hNotifyWnd, m_nNotifyMsg, static_cast<WPARAM>(nCode), static_cast<LPARAM>(dwValue));
}
