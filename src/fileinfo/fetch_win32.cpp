#include "fileinfo/fetch_win32.h"

#include "app/settings.h"
#include "app/starter_app.h"

bool CWin32FileInfoHost::AllocListBuffer(uint32_t kilobytes) {
  CWrenStarterApp* app = GetStarterApp();
  return app != nullptr && app->AllocListBuffer(kilobytes);
}

bool CWin32FileInfoHost::AppendListBuffer(const void* data, uint32_t length) {
  CWrenStarterApp* app = GetStarterApp();
  return app != nullptr && app->AppendListBuffer(data, length);
}

void CWin32FileInfoHost::GetServerAddress(std::string& host, int& port) { ::GetServerAddress(host, port); }
