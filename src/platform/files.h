// Files and folders for the portable core. Paths are Windows-style ANSI paths
// ("C:\Work\a.bin"); the POSIX backend turns '\' into '/' at its boundary.
// Failures return false (or kInvalidFile) and leave a Windows error code in
// plat::LastError().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

using FileHandle = intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

// Windows error codes the core looks at; the POSIX backend maps errno onto them.
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorHandleDiskFull = 39;
inline constexpr uint32_t kErrorFileExists = 80;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorDiskFull = 112;
inline constexpr uint32_t kErrorAlreadyExists = 183;

// File attribute bits, as Windows defines them.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrNormal = 0x80;

enum class OpenMode {
  ReadExisting,  // read only, sharing reads with others, the file must exist
  CreateAlways,  // write only, created or truncated, no sharing
};

FileHandle OpenFile(const std::string& path, OpenMode mode);
// Reads up to size bytes; *got = 0 at the end of the file.
bool ReadFile(FileHandle file, void* buffer, size_t size, size_t* got);
// Writes all size bytes or fails.
bool WriteFile(FileHandle file, const void* data, size_t size);
bool CloseFile(FileHandle file);

// Times are FILETIMEs: 100-nanosecond intervals since 1601-01-01 UTC.
struct FileStatus {
  uint64_t size = 0;
  uint32_t attributes = 0;
  uint64_t creationTime = 0;
  uint64_t lastAccessTime = 0;
  uint64_t lastWriteTime = 0;
};
bool GetFileStatus(const std::string& path, FileStatus* status);
bool FileExists(const std::string& path);       // a file or a folder
bool SetAttributes(const std::string& path, uint32_t attributes);
// Zero times are left as they are.
bool SetFileTimes(const std::string& path, uint64_t creation, uint64_t lastAccess, uint64_t lastWrite);
bool RemoveFile(const std::string& path);
bool CopyFileTo(const std::string& from, const std::string& to, bool failIfExists);
bool RenameFile(const std::string& from, const std::string& to);
bool MakeDirectory(const std::string& path);  // one level; fails if it exists
bool RemoveEmptyDirectory(const std::string& path);  // an empty folder
// The names of the files (not folders) directly in folder; false when it
// cannot be read.
bool ListFiles(const std::string& folder, std::vector<std::string>* names);

// Free bytes available to this user on the volume that holds path.
bool GetFreeDiskSpace(const std::string& path, uint64_t* freeBytes);
// The root of a path: "C:\" for "C:\a\b", "\\server\share" for a UNC path,
// "\" for a rooted POSIX path (PathStripToRoot).
std::string StripToRoot(const std::string& path);
// The temporary folder, ending with a backslash.
std::string GetTempFolder();

uint32_t LastError();
void SetLastError(uint32_t code);

}  // namespace plat
