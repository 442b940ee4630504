// Drive classification for folder checks. The values are those of GetDriveTypeA.
#pragma once

#include <string>

namespace plat {

enum DriveType : unsigned {
  kDriveUnknown = 0,
  kDriveNoRootDir = 1,
  kDriveRemovable = 2,
  kDriveFixed = 3,
  kDriveRemote = 4,
  kDriveCdrom = 5,
  kDriveRamDisk = 6,
};

// The type of the drive whose root is given ("C:\", "\\server\share"). POSIX:
// every rooted path is on a fixed drive; an empty root has none.
unsigned DriveTypeOfRoot(const std::string& root);
// PathIsUNCA: "\\server..." (and "\\?\UNC\..."); POSIX: the same text test.
bool IsUncPath(const std::string& path);
// The network-neighbourhood folder, not created when missing. False when there
// is none (always on POSIX).
bool GetNetworkNeighbourhoodFolder(std::string* folder);

}  // namespace plat
