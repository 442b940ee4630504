#include "framework/internet.h"

#include <algorithm>

#include <vector>

BOOL AfxParseURL(const char* pszURL, DWORD& dwServiceType, std::string& strServer, std::string& strObject,
                 INTERNET_PORT& nPort) {
  dwServiceType = 0;
  if (!pszURL || !*pszURL) return FALSE;
  std::vector<char> host(INTERNET_MAX_HOST_NAME_LENGTH + 1), path(INTERNET_MAX_URL_LENGTH + 1),
      extra(INTERNET_MAX_URL_LENGTH + 1);
  URL_COMPONENTSA parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host.data();
  parts.dwHostNameLength = static_cast<DWORD>(host.size());
  parts.lpszUrlPath = path.data();
  parts.dwUrlPathLength = static_cast<DWORD>(path.size());
  parts.lpszExtraInfo = extra.data();
  parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
  if (!::InternetCrackUrlA(pszURL, 0, 0, &parts)) return FALSE;
  switch (parts.nScheme) {
    case INTERNET_SCHEME_HTTP: dwServiceType = INTERNET_SERVICE_HTTP; break;
    case INTERNET_SCHEME_FTP: dwServiceType = INTERNET_SERVICE_FTP; break;
    default: dwServiceType = 0; break;  // a scheme the framework does not serve
  }
  strServer.assign(host.data(), parts.dwHostNameLength);
  strObject.assign(path.data(), parts.dwUrlPathLength);
  strObject.append(extra.data(), parts.dwExtraInfoLength);
  if (strObject.empty()) strObject = "/";
  nPort = parts.nPort;
  return !strServer.empty();
}

void CInternetHandle::Close() {
  if (m_hInternet) {
    ::InternetCloseHandle(m_hInternet);
    m_hInternet = nullptr;
  }
}

BOOL CInternetHandle::QueryOption(DWORD dwOption, DWORD& dwValue) const {
  DWORD size = sizeof dwValue;
  return ::InternetQueryOptionA(m_hInternet, dwOption, &dwValue, &size);
}

BOOL CInternetHandle::SetOption(DWORD dwOption, DWORD dwValue) {
  return ::InternetSetOptionA(m_hInternet, dwOption, &dwValue, sizeof dwValue);
}

BOOL CInternetHandle::SetOption(DWORD dwOption, const std::string& strValue) {
  return ::InternetSetOptionA(m_hInternet, dwOption, const_cast<char*>(strValue.c_str()),
                              static_cast<DWORD>(strValue.size() + 1));
}

BOOL CInternetSession::Open(const char* pszAgent, DWORD_PTR dwContext, DWORD dwAccessType, const char* pszProxyName,
                            const char* pszProxyBypass, DWORD dwFlags) {
  Close();
  m_dwContext = dwContext;
  m_hInternet = ::InternetOpenA(pszAgent ? pszAgent : "WrenStarter", dwAccessType, pszProxyName, pszProxyBypass,
                                dwFlags);
  return m_hInternet != nullptr;
}

BOOL CHttpConnection::Open(CInternetSession& session, const std::string& strServer, INTERNET_PORT nPort,
                           const char* pszUser, const char* pszPassword) {
  Close();
  m_hInternet = ::InternetConnectA(session.GetHandle(), strServer.c_str(), nPort, pszUser, pszPassword,
                                   INTERNET_SERVICE_HTTP, 0, session.GetContext());
  return m_hInternet != nullptr;
}

CHttpFile* CHttpConnection::OpenRequest(const char* pszVerb, const std::string& strObject, const char* pszReferer,
                                        DWORD_PTR dwContext, const char** ppszAcceptTypes, const char* pszVersion,
                                        DWORD dwFlags) {
  HINTERNET request = ::HttpOpenRequestA(m_hInternet, pszVerb ? pszVerb : "GET", strObject.c_str(), pszVersion,
                                         pszReferer, ppszAcceptTypes, dwFlags | INTERNET_FLAG_EXISTING_CONNECT,
                                         dwContext);
  return request ? new CHttpFile(request) : nullptr;
}

BOOL CHttpFile::AddRequestHeaders(const char* pszHeaders, DWORD dwModifiers) {
  return ::HttpAddRequestHeadersA(m_hInternet, pszHeaders, static_cast<DWORD>(-1), dwModifiers);
}

BOOL CHttpFile::SendRequest() { return ::HttpSendRequestA(m_hInternet, nullptr, 0, nullptr, 0); }

BOOL CHttpFile::QueryInfoStatusCode(DWORD& dwStatusCode) const {
  return QueryInfoNumber(HTTP_QUERY_STATUS_CODE, dwStatusCode);
}

BOOL CHttpFile::QueryInfoNumber(DWORD dwInfoLevel, DWORD& dwValue) const {
  DWORD size = sizeof dwValue;
  return ::HttpQueryInfoA(m_hInternet, dwInfoLevel | HTTP_QUERY_FLAG_NUMBER, &dwValue, &size, nullptr);
}

BOOL CHttpFile::QueryInfoText(DWORD dwInfoLevel, std::string& value) const {
  char buffer[512];
  DWORD size = sizeof buffer - 1;
  value.clear();
  if (!::HttpQueryInfoA(m_hInternet, dwInfoLevel, buffer, &size, nullptr)) return FALSE;
  value.assign(buffer, std::min<DWORD>(size, sizeof buffer - 1));
  return TRUE;
}

BOOL CHttpFile::QueryDataAvailable(DWORD* pnBytes) {
  *pnBytes = 0;
  return ::InternetQueryDataAvailable(m_hInternet, pnBytes, 0, 0);
}

BOOL CHttpFile::Read(void* pBuffer, DWORD nCount, DWORD* pnRead) {
  *pnRead = 0;
  return ::InternetReadFile(m_hInternet, pBuffer, nCount, pnRead);
}
