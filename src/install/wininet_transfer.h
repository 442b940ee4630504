// Transfers over WinINet, directly or through the proxy of the download
// settings, each one a CHTTPBinarySession on a worker thread of its own.
#pragma once

#include "install/http_transfer.h"
#include "settings/settings.h"

class CWinInetTransfer : public IHttpTransfer {
 public:
  explicit CWinInetTransfer(const CBinaryDownloadSetting& setting) : m_setting(setting) {}

  ITransferSession* Start(const CTransferRequest& request, CFileErrorRecord* error) override;

 private:
  CBinaryDownloadSetting m_setting;
};
