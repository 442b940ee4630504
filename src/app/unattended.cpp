#include "app/unattended.h"

#include <windows.h>

#include "app/exit_codes.h"
#include "run/starter_run.h"
#include "settings/settings.h"
#include "common/run_log.h"
#include "common/strings.h"
#include "framework/msgbox.h"
#include "platform/files.h"
#include "wizard/folder_check.h"
#include "wizard/installer_path.h"
#include "wizard/run_start.h"
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

// What an unattended build runs with: the stored settings with the command
// line's overrides, the folders checked as the pages check them. EXIT_OK, or
// the exit code of a build that cannot run.
int PrepareUnattendedBuild(const CCommandLine& line, CIniFile& ini, CUnattendedChoice* choice) {
  choice->strImageFolder = line.strImage.empty() ? GetImageFolder(ini) : line.strImage;
  if (!AcceptImageFolder(choice->strImageFolder)) {
    runlog::Writef("ERROR", "the image folder %s cannot be used", choice->strImageFolder.c_str());
    return EXIT_FOLDER_REJECTED;
  }
  choice->setting.Load(ini);
  if (!line.strDownload.empty() && !TakeDownloadFolder(choice->setting, line.strDownload)) return EXIT_FOLDER_REJECTED;
  TakeProxy(choice->setting, line);
  choice->transfer.Load(ini);
  if (line.nConnections != 0) choice->transfer.nConnections = static_cast<unsigned>(line.nConnections);
  if (line.nSpeedLimit >= 0) choice->transfer.nSpeedLimit = static_cast<unsigned>(line.nSpeedLimit);
  // Nobody waits at an unattended machine for an installer to be started.
  choice->bBootInstaller = line.bBoot;
  // The registry value belongs to the publisher: /server holds for this run only.
  SetServerOverride(line.strServer);
  if (line.bSave) {
    SaveImageFolder(ini, choice->strImageFolder);
    SaveDownloadOptions(ini, choice->setting, choice->transfer, choice->bBootInstaller);
    runlog::Write("SETTING", "the settings of this run are saved");
  }
  return EXIT_OK;
}

namespace {

// The quiet build's face: nothing to show, the rules answer, the outcome is kept.
class CQuietObserver : public IRunObserver {
 public:
  CQuietObserver(CIniFile& ini, CUnattendedAnswers& answers) : m_ini(ini), m_answers(answers) {}

  int Ask(const std::string& text, unsigned style) override { return m_answers.Ask(text, style); }
  bool AskRetry(const std::string& text) override { return m_answers.AskRetry(text); }
  bool RetryFetch(int result) override { return m_answers.RetryFetch(result); }
  void OnPublicationAccepted(uint64_t serial) override { KeepAcceptedPublication(m_ini, serial); }
  void OnFinished(const CRunOutcome& outcome) override {
    m_outcome = outcome;
    m_bFinished = true;
  }

  CRunOutcome m_outcome;
  bool m_bFinished = false;

 private:
  CIniFile& m_ini;
  CUnattendedAnswers& m_answers;
};

}  // namespace

int RunQuietBuild(const CCommandLine& line, CIniFile& ini, CUnattendedAnswers& answers) {
  CUnattendedChoice choice;
  const int prepared = PrepareUnattendedBuild(line, ini, &choice);
  if (prepared != EXIT_OK) return prepared;
  std::string downloadFolder;
  choice.setting.GetDownloadFolder(downloadFolder);
  CQuietObserver observer(ini, answers);
  CStarterRun run(MakeRunSettings(choice.strImageFolder, downloadFolder, choice.setting, choice.transfer,
                                  choice.bBootInstaller, ini),
                  observer);
  if (run.Start()) {
    MSG msg;
    while (!observer.m_bFinished && ::GetMessageA(&msg, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }
  const int exitCode = ExitCodeOfOutcome(observer.m_bFinished, observer.m_outcome);
  if (exitCode == EXIT_OK && choice.bBootInstaller)
    LaunchInstallerFile(JoinInstallerPath(choice.strImageFolder, observer.m_outcome.strInstallerName), nullptr);
  return exitCode;
}

int StartPassiveBuild(CWrenStarterWizard& wizard, const CCommandLine& line, CIniFile& ini,
                      CUnattendedAnswers& answers) {
  CUnattendedChoice choice;
  const int prepared = PrepareUnattendedBuild(line, ini, &choice);
  if (prepared != EXIT_OK) return prepared;
  wizard.GetFolderPage().SetFolder(choice.strImageFolder);
  COptionPage& options = wizard.GetOptionPage();
  options.m_setting = choice.setting;
  options.m_transfer = choice.transfer;
  options.m_bBootInstaller = choice.bBootInstaller ? TRUE : FALSE;
  wizard.SetUnattendedAnswers(&answers);
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

int ExitCodeOfOutcome(bool finished, const CRunOutcome& outcome) {
  if (!finished) return EXIT_CANCELLED;  // left before the run ended
  // The run could not even start (no memory, no thread): no outcome was posted.
  if (!outcome.bStarted) return EXIT_FATAL;
  return ExitCodeOfRun(outcome.nType, outcome.nCode);
}

int ExitCodeOfWizard(CWrenStarterWizard& wizard) {
  const CInstallPage& page = wizard.GetInstallPage();
  return ExitCodeOfOutcome(page.m_nNextPage != 0, page.m_outcome);
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
