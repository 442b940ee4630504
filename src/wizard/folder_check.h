// Checks a folder the user chose: the message for a drive that cannot hold it,
// and the walk that offers to create the folder's missing levels.
#pragma once

#include <string>

// The message for a folder on a drive of this type (GetPathDriveType), or 0
// when the drive type needs none. The image folder and the download folder
// have messages of their own.
unsigned ImageFolderDriveMessage(unsigned driveType);
unsigned DownloadFolderDriveMessage(unsigned driveType);

// Walks the folder level by level (for D:\A\B: D:\A, then D:\A\B). The first
// missing level asks once (10100) whether to create the folder; No accepts the
// folder as it is. Returns false after 10102 (a level is a file) or 10101 (a
// level cannot be created).
bool ConfirmAndCreateFolder(const std::string& folder);

// The checks of the image folder: a fixed drive (else its message), then the
// missing levels created after asking.
bool AcceptImageFolder(const std::string& folder);
