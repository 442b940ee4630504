// The texts the install page builds while a run goes on: the animated phase
// label and the questions it asks for the engine. No windows involved.
#pragma once

#include <string>

class IRunAnswers;
struct CUpdateNotify;

// Strings of the phase labels and the run's questions.
enum : unsigned {
  IDS_PHASE_FILEINFO = 7000,
  IDS_PHASE_FILEINFO_RUNNING = 7001,
  IDS_PHASE_FILEINFO_DONE = 7002,
  IDS_PHASE_CHECK = 7010,
  IDS_PHASE_CHECK_RUNNING = 7011,
  IDS_PHASE_CHECK_DONE = 7012,
  IDS_PHASE_INSTALL = 7020,
  IDS_PHASE_INSTALL_RUNNING = 7021,
  IDS_PHASE_INSTALL_DONE = 7022,
  IDS_ACTIVITY_PREPARE = 7023,
  IDS_ACTIVITY_DISK = 7024,
  IDS_NO_MEMORY_TO_START = 10200,
  IDS_CANNOT_START = 10201,
  IDS_DISK_BOTH_SHORT = 11000,
  IDS_DISK_INSTALL_SHORT = 11001,
  IDS_DISK_DOWNLOAD_SHORT = 11002,
  IDS_CHECK_ERROR = 11003,
  IDS_INSTALL_ERROR_ACCESS = 11004,
  IDS_INSTALL_ERROR_OTHER = 11012,
  IDS_CONFIRM_CANCEL_DOWNLOAD = 11101,
};

// Replies of the questions besides the engine's own retry codes.
inline constexpr int REPLY_CHECK_CANCELLED = -298;
inline constexpr int REPLY_DISK_DECLINED = -297;
inline constexpr int REPLY_INSTALL_CANCELLED = -367;

// The dots behind the active phase label run 0, 1, ..., 16 and start again.
inline constexpr int kMaxStatusDots = 16;
int NextStatusDots(int dots);
// The active phase label: the text, then (when there is an item, and always
// for the file-information phase) the item, one space and the dots.
std::string StatusLabelText(const std::string& text, const std::string& item, bool alwaysItem, int dots);

// The question of notification kind 9, with every size written by FormatSize.
std::string DiskSpaceQuestion(const CUpdateNotify& notify);

// The run's questions, put to whoever answers the run's message boxes. Each
// returns true with the reply for the engine, or false when the engine is to
// go on without one.
// Kind 4: a file of the image could not be read; Retry replies -299, else -298.
bool AskCheckRetry(IRunAnswers& ask, const CUpdateNotify& notify, int* reply);
// Kind 9: too little disk space; anything but Yes replies -297.
bool AskDiskSpace(IRunAnswers& ask, const CUpdateNotify& notify, int* reply);
// Kind 12: an installation step failed; Retry (or no text to show) replies
// -368, else -367.
bool AskInstallRetry(IRunAnswers& ask, const CUpdateNotify& notify, int* reply);
// The string that explains an installation failure of code `value` (kind 12).
unsigned InstallErrorStringId(int value);
// The file name and extension of a path, without its folders ('\' found
// character by character, so double-byte names are safe).
std::string FileNameOfPath(const std::string& path);
