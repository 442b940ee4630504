// Windows backend of the drive services.
#include "platform/drives.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

namespace plat {

unsigned DriveTypeOfRoot(const std::string& root) {
  // An empty string would ask about the current directory's drive instead.
  if (root.empty()) return kDriveNoRootDir;
  return ::GetDriveTypeA(root.c_str());
}

bool IsUncPath(const std::string& path) { return ::PathIsUNCA(path.c_str()) != FALSE; }

bool GetNetworkNeighbourhoodFolder(std::string* folder) {
  char buffer[MAX_PATH] = {};
  if (!::SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_NETHOOD, FALSE)) return false;
  *folder = buffer;
  return true;
}

}  // namespace plat
