// The application object: start-up, the single-instance check, the settings
// file's path and the block that receives the server's file list.
#pragma once

#include <cstdint>
#include <string>

#include <memory>

#include "app/command_line.h"
#include "app/list_buffer.h"
#include "app/unattended_answers.h"
#include "app/settings_ini.h"
#include "app/single_instance.h"
#include "framework/app.h"

inline constexpr char kInstanceMutexName[] = "Plumbrook Starter Mutex";

class CWrenStarterApp : public CWinApp {
 public:
  BOOL InitInstance() override;
  int ExitInstance() override;

  BOOL AllocListBuffer(uint32_t kilobytes) { return m_listBuffer.Alloc(kilobytes); }
  BOOL AppendListBuffer(const void* data, uint32_t length) { return m_listBuffer.Append(data, length); }
  uint32_t GetListBufferSize(BOOL capacity) const { return m_listBuffer.GetSize(capacity != FALSE); }
  const unsigned char* GetListBuffer() const { return m_listBuffer.Data(); }

  // The settings file (every INI read and write names m_strIniPath).
  CIniFile& Ini() { return m_ini; }

  std::string m_strIniPath;
  CMutexObject m_mutex;
  CCommandLine m_commandLine;

 private:
  BOOL RegisterMainWindowClass();
  CFileListBuffer m_listBuffer;
  CIniFile m_ini;
  std::unique_ptr<CUnattendedAnswers> m_pAnswers;
  // Set when start-up decided the exit code itself; -1: the wizard's outcome.
  int m_nExitCode = -1;
};

CWrenStarterApp* GetStarterApp();
