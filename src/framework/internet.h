// The framework's Internet classes as thin wrappers over WinINet: a session,
// an HTTP connection and an HTTP request ("file"). Failures return FALSE and
// leave the WinINet error number in GetLastError(), where the framework would
// throw an Internet exception carrying it.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

// Splits an URL into service (INTERNET_SERVICE_HTTP, ...), server, object
// (path and query) and port (the service's default when the URL has none).
BOOL AfxParseURL(const char* pszURL, DWORD& dwServiceType, std::string& strServer, std::string& strObject,
                 INTERNET_PORT& nPort);

class CInternetHandle {
 public:
  CInternetHandle() = default;
  virtual ~CInternetHandle() { Close(); }
  CInternetHandle(const CInternetHandle&) = delete;
  CInternetHandle& operator=(const CInternetHandle&) = delete;

  void Close();
  HINTERNET GetHandle() const { return m_hInternet; }
  BOOL QueryOption(DWORD dwOption, DWORD& dwValue) const;
  BOOL SetOption(DWORD dwOption, DWORD dwValue);
  BOOL SetOption(DWORD dwOption, const std::string& strValue);

 protected:
  HINTERNET m_hInternet = nullptr;
};

class CInternetSession : public CInternetHandle {
 public:
  // Agent null: the program's name. Proxy null: none.
  BOOL Open(const char* pszAgent, DWORD_PTR dwContext, DWORD dwAccessType, const char* pszProxyName,
            const char* pszProxyBypass, DWORD dwFlags);
  DWORD_PTR GetContext() const { return m_dwContext; }

 private:
  DWORD_PTR m_dwContext = 0;
};

class CHttpFile;

class CHttpConnection : public CInternetHandle {
 public:
  BOOL Open(CInternetSession& session, const std::string& strServer, INTERNET_PORT nPort, const char* pszUser,
            const char* pszPassword);
  // A request on this connection; verb null means GET. Null on failure.
  CHttpFile* OpenRequest(const char* pszVerb, const std::string& strObject, const char* pszReferer,
                         DWORD_PTR dwContext, const char** ppszAcceptTypes, const char* pszVersion, DWORD dwFlags);
};

class CHttpFile : public CInternetHandle {
 public:
  explicit CHttpFile(HINTERNET hRequest) { m_hInternet = hRequest; }
  BOOL SendRequest();
  // Headers ("Name: value\r\n" each) added to the request before it is sent.
  BOOL AddRequestHeaders(const char* pszHeaders, DWORD dwModifiers);
  BOOL QueryInfoStatusCode(DWORD& dwStatusCode) const;
  BOOL QueryInfoNumber(DWORD dwInfoLevel, DWORD& dwValue) const;
  // A header of the reply as text; false (value empty) when it has none.
  BOOL QueryInfoText(DWORD dwInfoLevel, std::string& value) const;
  // Waits until some of the body is there: *pnBytes of it (0 at its end).
  BOOL QueryDataAvailable(DWORD* pnBytes);
  // Reads up to nCount bytes; *pnRead = 0 at the end of the body.
  BOOL Read(void* pBuffer, DWORD nCount, DWORD* pnRead);
};
