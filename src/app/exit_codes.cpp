#include "app/exit_codes.h"

int ExitCodeOfRun(int type, int code) {
  if (type == 0) return EXIT_OK;
  if (type == 2) return EXIT_NO_SERVER;
  if (type != 1) return EXIT_FATAL;
  if (code == -297) return EXIT_DISK_SHORT;
  if (code == -286) return EXIT_CANCELLED;
  if (code >= -296 && code <= -284) return EXIT_DOWNLOAD_FAILED;
  if (code >= -400 && code <= -367) return EXIT_INSTALL_FAILED;
  if (code >= -300 && code <= -298) return EXIT_INSTALL_FAILED;
  if (code >= -193 && code <= -189) return EXIT_SERVER_STATUS;
  if (code >= -188 && code <= -183) return EXIT_LIST_REFUSED;
  if (code >= -176 && code <= -170) return EXIT_NOT_SIGNED;
  // Connect failed, refused or lost, reply lost, or no answer in time.
  if (code == -199 || code == -198 || code == -197 || code == -195) return EXIT_NO_SERVER;
  return EXIT_FATAL;  // -200, -194, -100 ... -93 and anything unknown
}

const char* ExitCodeName(int exitCode) {
  switch (exitCode) {
    case EXIT_OK: return "success";
    case EXIT_BAD_COMMAND_LINE: return "bad-command-line";
    case EXIT_ALREADY_RUNNING: return "already-running";
    case EXIT_NO_SERVER: return "no-server";
    case EXIT_SERVER_STATUS: return "server-status";
    case EXIT_LIST_REFUSED: return "list-refused";
    case EXIT_DOWNLOAD_FAILED: return "download-failed";
    case EXIT_INSTALL_FAILED: return "install-failed";
    case EXIT_DISK_SHORT: return "disk-short";
    case EXIT_CANCELLED: return "cancelled";
    case EXIT_FATAL: return "fatal";
    case EXIT_FOLDER_REJECTED: return "folder-rejected";
    case EXIT_START_FAILED: return "start-failed";
    case EXIT_NOT_SIGNED: return "not-signed";
    default: return "unknown";
  }
}
