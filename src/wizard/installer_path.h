// Texts around the built image's installer.
#pragma once

#include <string>

// The image folder, one backslash (unless it already ends with one) and the
// installer's path relative to that folder.
std::string JoinInstallerPath(const std::string& imageFolder, const std::string& installerName);
// The path between double quotes, as the shell needs it for a path with blanks.
std::string QuoteCommandPath(const std::string& path);
