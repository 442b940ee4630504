// Where the settings file lives.
#pragma once

#include <string>

// MarloStarter.ini in <documents>\Quillmere\Marlo, creating the two folders
// when missing; in the temporary folder when documentsFolder is empty or the
// folders cannot be made.
std::string ResolveIniPath(const std::string& documentsFolder);
