// The file-information session socket and the session state its events feed.
#pragma once

#include <cstdint>

#include "fileinfo/net_socket.h"

// Where the reply's file-list data goes (the application's file-list block).
class CFileListTarget {
 public:
  virtual ~CFileListTarget() = default;
  // A zero-filled block of kilobytes * 1024 bytes, used length back to 0.
  virtual bool AllocListBuffer(uint32_t kilobytes) = 0;
  // false (nothing kept) when the bytes do not fit.
  virtual bool AppendListBuffer(const void* data, uint32_t length) = 0;
};

// g_nConnectState
enum : int { CONNECT_WAITING = 1, CONNECT_FAILED = 2, CONNECT_DONE = 3 };
// g_nReplyState
enum : int {
  REPLY_WAITING = 1,
  REPLY_COMPLETE = 2,
  REPLY_UPDATED = 3,      // status -3
  REPLY_NO_SERVICE = 4,   // status -1
  REPLY_MAINTENANCE = 5,  // status -100
  REPLY_BUSY = 6,         // status -98
  REPLY_FATAL = 7,        // any other status, or no memory for the list
};

// Reply statuses of the server.
enum : int {
  REPLY_STATUS_CHUNK = 1,
  REPLY_STATUS_UPDATED = -3,
  REPLY_STATUS_NO_SERVICE = -1,
  REPLY_STATUS_MAINTENANCE = -100,
  REPLY_STATUS_BUSY = -98,
};

// Session state of the one file-information exchange; set by the fetch
// before each use and changed only by the socket's events (inside Poll).
extern int g_nConnectState;
extern bool g_bConnectionLost;
extern int g_nReplyState;

class CWrenOnlineSocket : public CAllFilesCheckerSocket {
 public:
  const char* GetRuntimeClassName() const override { return "CWrenOnlineSocket"; }
  int GetIdleTimeout() const override { return 600; }
  int GetParsePasses() const override { return 10; }
  void OnEvent(int type, int a, int b, int c, const CVersionNotifyObj* record) override;

  void SetListTarget(CFileListTarget* target) { m_pListTarget = target; }

 private:
  void OnReply(int status, const CVersionNotifyObj& reply);

  CFileListTarget* m_pListTarget = nullptr;
};
