// The application object: start-up, the single-instance check, the settings
// file's path, and the one place that wires the wizard or the unattended
// runner to a build run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/single_instance.h"
#include "app/unattended_answers.h"
#include "framework/app.h"
#include "settings/settings_ini.h"

inline constexpr char kInstanceMutexName[] = "Plumbrook Starter Mutex";

class CWrenStarterApp : public CWinApp {
 public:
  BOOL InitInstance() override;
  int ExitInstance() override;

  // The settings file (every INI read and write names m_strIniPath).
  CIniFile& Ini() { return m_ini; }

  std::string m_strIniPath;
  CMutexObject m_mutex;
  CCommandLine m_commandLine;

 private:
  BOOL RegisterMainWindowClass();
  CIniFile m_ini;
  std::unique_ptr<CUnattendedAnswers> m_pAnswers;
  // Set when start-up decided the exit code itself; -1: the wizard's outcome.
  int m_nExitCode = -1;
};

