// Windows backend of the file services: the real Win32 calls, ANSI flavour.
#include "platform/files.h"

#include <windows.h>
#include <shlwapi.h>

#include "platform/mbcs.h"

namespace plat {
namespace {

uint64_t FromFileTime(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME ToFileTime(uint64_t value) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(value);
  ft.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return ft;
}

}  // namespace

FileHandle OpenFile(const std::string& path, OpenMode mode) {
  HANDLE h = mode == OpenMode::ReadExisting
                 ? ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr)
                 : ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr);
  return h == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(h);
}

bool ReadFile(FileHandle file, void* buffer, size_t size, size_t* got) {
  DWORD n = 0;
  DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
  BOOL ok = ::ReadFile(reinterpret_cast<HANDLE>(file), buffer, chunk, &n, nullptr);
  *got = ok ? n : 0;
  return ok != FALSE;
}

bool WriteFile(FileHandle file, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD n = 0;
    if (!::WriteFile(reinterpret_cast<HANDLE>(file), p, chunk, &n, nullptr)) return false;
    if (n == 0) {
      ::SetLastError(ERROR_DISK_FULL);
      return false;
    }
    p += n;
    size -= n;
  }
  return true;
}

bool CloseFile(FileHandle file) { return ::CloseHandle(reinterpret_cast<HANDLE>(file)) != FALSE; }

bool GetFileStatus(const std::string& path, FileStatus* status) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  status->size = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                     ? 0
                     : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  status->attributes = data.dwFileAttributes;
  status->creationTime = FromFileTime(data.ftCreationTime);
  status->lastAccessTime = FromFileTime(data.ftLastAccessTime);
  status->lastWriteTime = FromFileTime(data.ftLastWriteTime);
  return true;
}

bool FileExists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool SetAttributes(const std::string& path, uint32_t attributes) {
  return ::SetFileAttributesA(path.c_str(), attributes) != FALSE;
}

bool SetFileTimes(const std::string& path, uint64_t creation, uint64_t lastAccess, uint64_t lastWrite) {
  HANDLE h = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME c = ToFileTime(creation), a = ToFileTime(lastAccess), w = ToFileTime(lastWrite);
  BOOL ok = ::SetFileTime(h, creation ? &c : nullptr, lastAccess ? &a : nullptr, lastWrite ? &w : nullptr);
  DWORD err = ::GetLastError();
  ::CloseHandle(h);
  ::SetLastError(err);
  return ok != FALSE;
}

bool RemoveFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != FALSE; }

bool CopyFileTo(const std::string& from, const std::string& to, bool failIfExists) {
  return ::CopyFileA(from.c_str(), to.c_str(), failIfExists) != FALSE;
}

bool RenameFile(const std::string& from, const std::string& to) {
  return ::MoveFileA(from.c_str(), to.c_str()) != FALSE;
}

bool MakeDirectory(const std::string& path) { return ::CreateDirectoryA(path.c_str(), nullptr) != FALSE; }

bool RemoveEmptyDirectory(const std::string& path) { return ::RemoveDirectoryA(path.c_str()) != FALSE; }

bool ListFiles(const std::string& folder, std::vector<std::string>* names) {
  names->clear();
  std::string pattern = folder;
  if (!pattern.empty() && !mbcs::EndsWithChar(pattern, '\\')) pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA found;
  HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names->push_back(found.cFileName);
  } while (::FindNextFileA(search, &found));
  ::FindClose(search);
  return true;
}

bool GetFreeDiskSpace(const std::string& path, uint64_t* freeBytes) {
  ULARGE_INTEGER available;
  if (!::GetDiskFreeSpaceExA(path.c_str(), &available, nullptr, nullptr)) return false;
  *freeBytes = available.QuadPart;
  return true;
}

std::string StripToRoot(const std::string& path) {
  char buffer[MAX_PATH];
  lstrcpynA(buffer, path.c_str(), MAX_PATH);
  if (!::PathStripToRootA(buffer)) return std::string();
  return buffer;
}

std::string GetTempFolder() {
  char buffer[MAX_PATH + 1];
  DWORD n = ::GetTempPathA(MAX_PATH, buffer);
  std::string folder = (n > 0 && n < MAX_PATH) ? std::string(buffer, n) : std::string("C:\\");
  if (folder.back() != '\\') folder += '\\';
  return folder;
}

uint32_t LastError() { return ::GetLastError(); }
void SetLastError(uint32_t code) { ::SetLastError(code); }

}  // namespace plat
