// File operations of the installation that insist a little more than the
// platform's: they clear a read-only attribute in the way and report why a
// folder path cannot be made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/files.h"

// Deletes a file, read-only or not; false when there is none or it stays.
bool DeleteFileForced(const std::string& path);

// Copies source over destination, replacing a read-only destination; on
// failure *error is the system's error code.
bool CopyFileForced(const std::string& source, const std::string& destination, uint32_t* error);

// Reads exactly size bytes; a file that ends first fails with the system
// error ERROR_HANDLE_EOF (38), as one that shrank under the reader.
bool ReadExactly(plat::FileHandle file, void* buffer, size_t size);

// Reasons CreateFolderPath gives.
inline constexpr int FOLDER_CANNOT_CREATE = 1;
inline constexpr int FOLDER_IS_A_FILE = 2;

// Creates every missing folder on the way to the file at filePath.
bool CreateFolderPath(const std::string& filePath, int* reason);

// The cause number of a failed file read or write (0 none, 1 generic, 2 not
// found, 3 bad path, 4 too many open files, 5 access denied, 6 invalid file,
// 7 removing the current folder, 8 folder full, 9 bad seek, 10 hardware,
// 11 sharing violation, 12 lock violation, 13 disk full, 14 end of file).
int FileErrorCause(uint32_t systemError);
