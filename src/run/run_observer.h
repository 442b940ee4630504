// What a face of the build run sees of it and how it answers it: the wizard's
// install page shows the run and asks a person; the unattended runner shows
// nothing (or the same page) and answers by its rules. Every call comes on
// the thread that serves the run, and a question's answer is its return value.
#pragma once

#include <cstdint>
#include <string>

// The run's questions.
class IRunAnswers {
 public:
  virtual ~IRunAnswers() = default;
  // A message box of the run (text in code page 932, MB_ style): the ID of
  // the answer. Whoever answers notes the text and the answer in the run log.
  virtual int Ask(const std::string& text, unsigned style) = 0;
  // The retry question of a download (the retry dialog): true for Retry.
  virtual bool AskRetry(const std::string& text) = 0;
  // The file-information server could not be reached (the fetch's result):
  // true to try another round.
  virtual bool RetryFetch(int result) = 0;
};

// The phases of a run, each with its label.
enum class RunPhase { kFileInfo, kCheck, kInstall };

// How a run ended.
struct CRunOutcome {
  bool bStarted = false;  // false: the run could not even start (no memory, no thread)
  int nType = 0;          // RESULT_TYPE_ of the engine
  int nCode = 0;          // success: the files installed; else the failure's code
  int nExtra = 0;
  std::string strInstallerName;  // the list's installer, relative to the image folder
};

class IRunObserver : public IRunAnswers {
 public:
  // A phase runs: its label shows textId, the item being worked on and
  // running dots.
  virtual void OnPhaseRunning(RunPhase /*phase*/, unsigned /*textId*/) {}
  // The running dots stop; the label keeps its text.
  virtual void OnPhaseStopped() {}
  // A phase is done: its label shows textId.
  virtual void OnPhaseDone(RunPhase /*phase*/, unsigned /*textId*/) {}
  // The file being checked or installed, behind the running label.
  virtual void OnItem(const std::string& /*name*/) {}
  // The line that says what is being done right now.
  virtual void OnActivity(const std::string& /*text*/) {}
  // A file's installation begins: its name (without folders) becomes the
  // item, the activity line says so, its bar starts at 0 without a size.
  virtual void OnInstallingFile(const std::string& /*name*/) {}
  // The current file's bar (0-100) while it is installed.
  virtual void OnFileBar(int /*position*/) {}
  // The current part's bytes while it downloads (text and bar).
  virtual void OnFileBytes(uint32_t /*done*/, uint32_t /*total*/) {}
  // The current file's bytes over all its parts.
  virtual void OnPhaseBytes(uint64_t /*done*/, uint64_t /*total*/) {}
  virtual void OnRemainingParts(int /*remaining*/, int /*count*/) {}
  // The remaining-time text.
  virtual void OnEstimate(const std::string& /*text*/) {}
  // Files installed so far of all to install.
  virtual void OnInstallCount(int /*done*/, int /*total*/) {}
  // Whether a transfer runs that Cancel can stop.
  virtual void OnCancelOffered(bool /*offered*/) {}
  // A part already in the download folder is being checked.
  virtual void OnBusy(bool /*busy*/) {}
  // The publisher's manifest with this serial was accepted: keep it.
  virtual void OnPublicationAccepted(uint64_t /*serial*/) {}
  // The run has ended (its failure, if any, was already told through Ask).
  virtual void OnFinished(const CRunOutcome& outcome) = 0;
};
