#include "wizard/installer_path.h"

#include "platform/mbcs.h"

std::string JoinInstallerPath(const std::string& imageFolder, const std::string& installerName) {
  std::string path = imageFolder;
  if (!mbcs::EndsWithChar(path, '\\')) path += '\\';
  return path + installerName;
}

std::string QuoteCommandPath(const std::string& path) { return "\"" + path + "\""; }
