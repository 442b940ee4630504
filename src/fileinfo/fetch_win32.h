// The fetch's ties to the running program: the application's file-list
// block, the "Server" profile value, the idle message loop and the page
// window. The install page derives from it for the progress label and the
// engine's reply.
#pragma once

#include <windows.h>

#include "app/idle_loop.h"
#include "fileinfo/fetch.h"

class CWin32FileInfoHost : public CFileInfoHost {
 public:
  explicit CWin32FileInfoHost(HWND hPage) : m_hPage(hPage) {}

  bool AllocListBuffer(uint32_t kilobytes) override;
  bool AppendListBuffer(const void* data, uint32_t length) override;
  void GetServerAddress(std::string& host, int& port) override;
  int RunIdleLoop(int elapse) override { return m_loop.Run(elapse); }
  void ResetIdle() override { m_loop.ResetIdle(); }
  bool IsPageAlive() override { return m_hPage != nullptr && ::IsWindow(m_hPage); }
  // Only an unattended build tries again, a few times.
  bool RetryAfterFailure(int result) override;

 protected:
  HWND m_hPage;
  CIdleMessageLoop m_loop;
};
