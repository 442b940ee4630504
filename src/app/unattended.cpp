#include "app/unattended.h"

#include <windows.h>

#include "app/exit_codes.h"
#include "app/settings.h"
#include "common/run_log.h"
#include "common/strings.h"
#include "framework/msgbox.h"
#include "platform/files.h"
#include "wizard/folder_check.h"
#include "wizard/wizard.h"

namespace {
constexpr unsigned kBadOption = 10010;
constexpr unsigned kUsage = 10011;

const char* ModeName(RunMode mode) {
  switch (mode) {
    case RunMode::Quiet: return "quiet";
    case RunMode::Passive: return "passive";
    default: return "wizard";
  }
}

// The download folder of /download=FOLDER; false after the log says why not.
bool TakeDownloadFolder(CBinaryDownloadSetting& setting, const std::string& folder) {
  if (setting.SetDownloadPath(false, folder.c_str())) return true;
  const unsigned type = GetPathDriveType(folder);
  if (unsigned message = DownloadFolderDriveMessage(type)) runlog::Write("ERROR", LoadResString(message));
  runlog::Writef("ERROR", "/download: %s is not an existing folder on a fixed drive", folder.c_str());
  return false;
}

void TakeProxy(CBinaryDownloadSetting& setting, const CCommandLine& line) {
  switch (line.proxy) {
    case ProxyChoice::None:
      setting.m_nProxyMode = kProxyNone;
      break;
    case ProxyChoice::System:
      setting.m_nProxyMode = kProxySystem;
      setting.m_strProxyServer.clear();
      break;
    case ProxyChoice::Named:
      // The stored user and password stay: they belong to the proxy the admin keeps.
      setting.m_nProxyMode = kProxyNamed;
      setting.m_strProxyServer = line.strProxyServer;
      break;
    case ProxyChoice::Stored:
      break;
  }
}
}  // namespace

int StartUnattendedBuild(CWrenStarterWizard& wizard, const CCommandLine& line) {
  CFolderPage& folder = wizard.GetFolderPage();
  COptionPage& options = wizard.GetOptionPage();
  if (!line.strImage.empty()) folder.SetFolder(line.strImage);
  if (!folder.AcceptFolder()) {
    runlog::Writef("ERROR", "the image folder %s cannot be used", folder.m_strInstallPath.c_str());
    return EXIT_FOLDER_REJECTED;
  }
  if (!line.strDownload.empty() && !TakeDownloadFolder(options.m_setting, line.strDownload))
    return EXIT_FOLDER_REJECTED;
  TakeProxy(options.m_setting, line);
  // Nobody waits at an unattended machine for an installer to be started.
  options.m_bBootInstaller = line.bBoot ? TRUE : FALSE;
  // The registry value belongs to the publisher: /server holds for this run only.
  SetServerOverride(line.strServer);
  if (line.bSave) {
    folder.SaveFolder();
    options.SaveOptions();
    runlog::Write("SETTING", "the settings of this run are saved");
  }
  wizard.ShowInstallPage();
  return EXIT_OK;
}

void PumpMessagesFor(uint32_t ms) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        ::PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop that owns it
        return;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= ms) return;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
  }
}

int ExitCodeOfWizard(CWrenStarterWizard& wizard) {
  const CInstallPage& page = wizard.GetInstallPage();
  if (page.m_nNextPage == 0) return EXIT_CANCELLED;  // the wizard was left before the run
  // The run could not even start (no memory, no thread): no outcome was posted.
  if (page.m_nNextPage == IDD_FINISH_ERROR && page.m_nFinalType == 0) return EXIT_FATAL;
  return ExitCodeOfRun(page.m_nFinalType, page.m_nFinalCode);
}

void OpenRunLog(const CCommandLine& line, const char* commandLine) {
  const std::string path = line.strLog.empty() ? plat::GetTempFolder() + runlog::kDefaultName : line.strLog;
  if (!runlog::Open(path)) return;
  runlog::Writef("START", "WrenStarter, process %lu", static_cast<unsigned long>(::GetCurrentProcessId()));
  runlog::Writef("START", "command line: %s", commandLine);
  runlog::Writef("START", "mode: %s", ModeName(line.mode));
}

int AnswerCommandLine(const CCommandLine& line, bool accepted) {
  if (!accepted) {
    const std::string text = FormatText(LoadResString(kBadOption).c_str(), line.strBadOption.c_str());
    if (line.mode == RunMode::Quiet)
      runlog::Write("ERROR", text);
    else
      AfxMessageBox(text, MB_ICONEXCLAMATION);
    return EXIT_BAD_COMMAND_LINE;
  }
  AfxMessageBox(kUsage, MB_ICONINFORMATION);
  return EXIT_OK;
}

void CloseRunLog(int exitCode) {
  runlog::Writef("OUTCOME", "exit code %d (%s)", exitCode, ExitCodeName(exitCode));
  runlog::Close();
}
