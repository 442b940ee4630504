// Transfers over WinINet, directly or through the proxy of the download
// settings, each one a CHTTPBinarySession on a worker thread of its own.
// WinINet keeps their connections alive and hands them on to the next
// transfer to the same server, as many at once as transfers may run.
#pragma once

#include <memory>

#include "install/http_transfer.h"
#include "install/transfer_rules.h"
#include "settings/settings.h"

class CWinInetTransfer : public IHttpTransfer {
 public:
  CWinInetTransfer(const CBinaryDownloadSetting& setting, const CTransferSetting& transfer);

  ITransferSession* Start(const CTransferRequest& request, CFileErrorRecord* error) override;

 private:
  CBinaryDownloadSetting m_setting;
  std::shared_ptr<CRateLimit> m_pLimit;  // null without a cap
};
