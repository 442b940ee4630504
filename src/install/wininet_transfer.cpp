#include "install/wininet_transfer.h"

#include <windows.h>
#include <wininet.h>

#include <new>

#include "install/http_session.h"

namespace {

class CWinInetSession : public ITransferSession {
 public:
  explicit CWinInetSession(CHTTPBinarySession* session) : m_pSession(session) {}
  void Abort() override { m_pSession->Abort(); }
  void Release(uint32_t waitMs) override {
    m_pSession->Release(waitMs);
    delete this;
  }

 private:
  CHTTPBinarySession* m_pSession;  // made with new; Release ends it
};

}  // namespace

CWinInetTransfer::CWinInetTransfer(const CBinaryDownloadSetting& setting, const CTransferSetting& transfer)
    : m_setting(setting),
      m_pLimit(transfer.nSpeedLimit != 0 ? std::make_shared<CRateLimit>(transfer.nSpeedLimit * 1024u) : nullptr) {
  // The program's own limit of connections per server (WinINet keeps it for the process).
  DWORD connections = transfer.nConnections;
  ::InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections, sizeof connections);
  ::InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &connections, sizeof connections);
}

ITransferSession* CWinInetTransfer::Start(const CTransferRequest& request, CFileErrorRecord* error) {
  auto* session = new (std::nothrow) CHTTPBinarySession;
  if (session == nullptr) return nullptr;
  auto* handle = new (std::nothrow) CWinInetSession(session);
  if (handle == nullptr) {
    delete session;
    return nullptr;
  }
  session->SetNotify(static_cast<HWND>(request.hNotify), request.nNotifyMsg);
  session->SetSerial(request.wSerial);
  session->SetReload(request.bReload ? TRUE : FALSE);
  session->SetMaxBytes(request.dwMaxBytes);
  session->SetResumeFrom(request.dwResumeFrom);
  session->SetRateLimit(m_pLimit);
  BOOL started = FALSE;
  if (m_setting.m_nProxyMode == kProxyNone) {
    started = session->StartDirect(request.strUrl.c_str(), request.strPath.c_str(), error);
  } else {
    const char* proxy = m_setting.m_nProxyMode == kProxyNamed ? m_setting.m_strProxyServer.c_str() : nullptr;
    started = session->StartWithProxy(request.strUrl.c_str(), request.strPath.c_str(), error, proxy,
                                      m_setting.m_strProxyUser.c_str(), m_setting.m_strProxyPassword.c_str());
  }
  if (!started) {
    delete handle;
    delete session;
    return nullptr;
  }
  return handle;
}
