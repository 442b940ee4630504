#include "app/ini_path.h"

#include "platform/mbcs.h"
#include "platform/files.h"

namespace {
void AddBackslash(std::string& path) {
  if (!mbcs::EndsWithChar(path, '\\')) path += '\\';
}

// The folder exists (as anything) or could be made.
bool EnsureFolder(const std::string& path) { return plat::FileExists(path) || plat::MakeDirectory(path); }
}  // namespace

std::string ResolveIniPath(const std::string& documentsFolder) {
  std::string path;
  bool usable = false;
  if (!documentsFolder.empty()) {
    path = documentsFolder;
    AddBackslash(path);
    path += "Quillmere";
    bool companyFolder = EnsureFolder(path);
    path += "\\Marlo";
    usable = EnsureFolder(path) && companyFolder;
  }
  if (!usable) path = plat::GetTempFolder();
  AddBackslash(path);
  return path + "MarloStarter.ini";
}
