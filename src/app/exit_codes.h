// The exit codes of the starter: one per outcome, so that a script or a
// deployment tool can tell what happened without reading the log.
#pragma once

enum : int {
  EXIT_OK = 0,              // image built, or nothing to do
  EXIT_BAD_COMMAND_LINE = 2,
  EXIT_ALREADY_RUNNING = 3,
  EXIT_NO_SERVER = 10,      // the file-information server could not be reached or stopped answering
  EXIT_SERVER_STATUS = 11,  // the server answered with a status instead of the list
  EXIT_LIST_REFUSED = 12,   // the list that came could not be read
  EXIT_DOWNLOAD_FAILED = 13,
  EXIT_INSTALL_FAILED = 14, // checking or installing the image's files failed
  EXIT_DISK_SHORT = 15,
  EXIT_CANCELLED = 16,
  EXIT_FATAL = 17,          // no memory, no thread, or the run's own plumbing failed
  EXIT_FOLDER_REJECTED = 18,  // the image or download folder cannot be used
  EXIT_START_FAILED = 19,   // the program itself could not start (message 10000)
  EXIT_NOT_SIGNED = 20,     // the publisher's signature does not hold for the list or a file
};

// The exit code of a run's outcome: type 0 success, 1 failure with code, 2
// no connection (the install page's final triple).
int ExitCodeOfRun(int type, int code);
// The word the log uses for an exit code ("no-server", ...).
const char* ExitCodeName(int exitCode);
