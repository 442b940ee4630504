// The program's side of an unattended build and of the command line: the
// start of the run without the wizard's first pages, the exit code of how the
// program ended, and the run log's first and last lines.
#pragma once

#include <cstdint>

#include "app/command_line.h"

class CWrenStarterWizard;

// Sets the pages up from the stored settings and the command line's
// overrides (saved with /save), checks the folders as the pages do (a
// missing image folder is created), and shows the install page, which starts
// the run. EXIT_OK when the run is under way, else the exit code.
int StartUnattendedBuild(CWrenStarterWizard& wizard, const CCommandLine& line);

// Waits ms while the program's messages go on being handled (a pause before
// an unattended retry).
void PumpMessagesFor(uint32_t ms);

// The exit code of a program whose wizard ended this way.
int ExitCodeOfWizard(CWrenStarterWizard& wizard);

// Opens the run log (/log=FILE, or the fixed file in the temporary folder)
// and writes how the program was started.
void OpenRunLog(const CCommandLine& line, const char* commandLine);
// The bad option's message box (not with /quiet) or the usage; the exit code.
int AnswerCommandLine(const CCommandLine& line, bool accepted);
// The last lines of the log, then closes it.
void CloseRunLog(int exitCode);
