#include "wizard/folder_check.h"

#include "platform/mbcs.h"
#include "common/strings.h"
#include "framework/msgbox.h"
#include "platform/files.h"
#include "settings/settings.h"

namespace {
constexpr unsigned kAskCreateFolder = 10100;
constexpr unsigned kCannotCreateFolder = 10101;
constexpr unsigned kFileInTheWay = 10102;
}  // namespace

unsigned ImageFolderDriveMessage(unsigned driveType) {
  switch (driveType) {
    case 0:
    case 1:
      return 10103;
    case 2:
    case 5:
      return 10104;
    case 4:
      return 10106;
    case 6:
      return 10105;
    default:
      return 0;
  }
}

unsigned DownloadFolderDriveMessage(unsigned driveType) {
  switch (driveType) {
    case 0:
    case 1:
      return 10107;
    case 2:
    case 5:
      return 10108;
    case 6:
      return 10109;
    case 4:
      return 10110;
    default:
      return 0;
  }
}

bool ConfirmAndCreateFolder(const std::string& folder) {
  size_t first = mbcs::FindChar(folder, '\\');
  if (first == std::string::npos || first + 1 >= folder.size()) return true;

  bool asked = false;
  size_t pos = first + 1;
  for (;;) {
    size_t end = mbcs::FindChar(folder, '\\', pos);
    if (end == std::string::npos) end = folder.size();
    // Two backslashes in a row or a final one make no level of their own.
    if (end > pos) {
      std::string level = folder.substr(0, end);
      plat::FileStatus status;
      if (plat::GetFileStatus(level, &status)) {
        if (!(status.attributes & plat::kAttrDirectory)) {
          AfxMessageBox(FormatText(LoadResString(kFileInTheWay).c_str(), level.c_str()), MB_ICONHAND);
          return false;
        }
      } else {
        if (!asked) {
          int answer = AfxMessageBox(FormatText(LoadResString(kAskCreateFolder).c_str(), folder.c_str()),
                                     MB_YESNO | MB_ICONEXCLAMATION);
          if (answer != IDYES) return true;
          asked = true;
        }
        if (!plat::MakeDirectory(level)) {
          AfxMessageBox(kCannotCreateFolder, MB_ICONHAND);
          return false;
        }
      }
    }
    if (end >= folder.size()) return true;
    pos = end + 1;
  }
}

bool AcceptImageFolder(const std::string& folder) {
  const unsigned type = GetPathDriveType(folder);
  if (type == 3) return ConfirmAndCreateFolder(folder);
  if (unsigned message = ImageFolderDriveMessage(type)) AfxMessageBox(message, MB_ICONEXCLAMATION);
  return false;
}
