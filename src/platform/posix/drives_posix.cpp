// POSIX backend of the drive services: one local file system, no network
// neighbourhood.
#include "platform/drives.h"

namespace plat {

unsigned DriveTypeOfRoot(const std::string& root) { return root.empty() ? kDriveNoRootDir : kDriveFixed; }

bool IsUncPath(const std::string& path) { return path.size() >= 2 && path[0] == '\\' && path[1] == '\\'; }

bool GetNetworkNeighbourhoodFolder(std::string* /*folder*/) { return false; }

}  // namespace plat
