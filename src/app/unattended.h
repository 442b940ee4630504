// The program's side of an unattended build and of the command line: the
// start of the run without the wizard's first pages, the exit code of how the
// program ended, and the run log's first and last lines.
#pragma once

#include <cstdint>
#include <string>

#include "app/command_line.h"
#include "app/unattended_answers.h"
#include "run/run_observer.h"
#include "settings/settings.h"

class CWrenStarterWizard;

// What an unattended build runs with.
struct CUnattendedChoice {
  std::string strImageFolder;
  CBinaryDownloadSetting setting;
  CTransferSetting transfer;
  bool bBootInstaller = false;
};

// The stored settings with the command line's overrides (saved with /save),
// the folders checked as the pages check them (a missing image folder is
// created). EXIT_OK, or the exit code of a build that cannot run.
int PrepareUnattendedBuild(const CCommandLine& line, CIniFile& ini, CUnattendedChoice* choice);
// /quiet: the build without any window, answered by the rules; launches the
// installer afterwards with /boot. The exit code.
int RunQuietBuild(const CCommandLine& line, CIniFile& ini, CUnattendedAnswers& answers);
// /passive: the wizard goes straight to its install page, which runs the
// build answered by the rules and ends the program by itself. EXIT_OK when
// the run is under way, else the exit code.
int StartPassiveBuild(CWrenStarterWizard& wizard, const CCommandLine& line, CIniFile& ini,
                      CUnattendedAnswers& answers);

// Waits ms while the program's messages go on being handled (a pause before
// an unattended retry).
void PumpMessagesFor(uint32_t ms);

// The exit code of a run that ended (finished) this way, or was left before.
int ExitCodeOfOutcome(bool finished, const CRunOutcome& outcome);
// The exit code of a program whose wizard ended this way.
int ExitCodeOfWizard(CWrenStarterWizard& wizard);

// Opens the run log (/log=FILE, or the fixed file in the temporary folder)
// and writes how the program was started.
void OpenRunLog(const CCommandLine& line, const char* commandLine);
// The bad option's message box (not with /quiet) or the usage; the exit code.
int AnswerCommandLine(const CCommandLine& line, bool accepted);
// The last lines of the log, then closes it.
void CloseRunLog(int exitCode);
