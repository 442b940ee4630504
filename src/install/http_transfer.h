// How a build run downloads one URL into one file: the run asks for a
// transfer and waits for its reports, which reach the run's window as one
// message (wParam: the report's code in the low word, the attempt's serial in
// the high word; lParam: its value; the codes of CHTTPBinarySession). WinINet
// does it in the program; tests hand in transfers of their own.
#pragma once

#include <cstdint>
#include <string>

#include "platform/message.h"

// What went wrong with a local file: a cause number (1 generic, 2 not found,
// 3 bad path, 5 access denied, 11 sharing violation, 13 disk full, ...) and
// the system's error code.
struct CFileErrorRecord {
  int m_cause = 0;
  uint32_t m_lOsError = 0;
};

struct CTransferRequest {
  std::string strUrl;
  std::string strPath;
  bool bReload = false;  // past every cache: an earlier copy was bad
  // The most bytes the body can have (0: no bound). A longer body is cut
  // off there and reported as too long; nothing beyond it reaches the file.
  uint32_t dwMaxBytes = 0;
  // Bytes of the file at strPath to keep: the rest is asked for with a Range
  // (a reply that is not exactly the rest starts the file over from 0).
  uint32_t dwResumeFrom = 0;
  uint16_t wSerial = 0;
  plat::WindowHandle hNotify = nullptr;
  uint32_t nNotifyMsg = 0;
};

class ITransferSession {
 public:
  virtual ~ITransferSession() = default;
  // Asks the transfer to stop at its next look; does not wait.
  virtual void Abort() = 0;
  // Stops the transfer and lets it go: waits at most waitMs for it, then
  // closes its file; a transfer still blocked in the network ends by itself
  // and reports nothing more. The session must not be touched afterwards.
  virtual void Release(uint32_t waitMs) = 0;
};

class IHttpTransfer {
 public:
  virtual ~IHttpTransfer() = default;
  // Starts one transfer; null, with *error, when it could not be started.
  virtual ITransferSession* Start(const CTransferRequest& request, CFileErrorRecord* error) = 0;
};
