#include "fileinfo/fetch_win32.h"

#include "app/settings.h"
#include "app/starter_app.h"
#include "app/unattended_answers.h"

bool CWin32FileInfoHost::AllocListBuffer(uint32_t kilobytes) {
  CWrenStarterApp* app = GetStarterApp();
  return app != nullptr && app->AllocListBuffer(kilobytes);
}

bool CWin32FileInfoHost::AppendListBuffer(const void* data, uint32_t length) {
  CWrenStarterApp* app = GetStarterApp();
  return app != nullptr && app->AppendListBuffer(data, length);
}

void CWin32FileInfoHost::GetServerAddress(std::string& host, int& port) { ::GetServerAddress(host, port); }

bool CWin32FileInfoHost::RetryAfterFailure(int result) {
  CUnattendedAnswers* answers = GetUnattendedAnswers();
  return answers != nullptr && answers->RetryFetch(result);
}
