// POSIX backend of the file services: '\' paths become '/' paths here, and
// errno values become the Windows error codes the core expects.
#include "platform/files.h"

#include "platform/mbcs.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace plat {
namespace {

thread_local uint32_t t_lastError = 0;

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDelta = 116444736000000000ULL;

// Only real separators: in code page 932 a trail byte may be 0x5C ("表" is 95 5C).
std::string ToNative(const std::string& path) { return mbcs::ReplaceChar(path, '\\', '/'); }

uint32_t MapErrno(int err) {
  switch (err) {
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return kErrorAccessDenied;
    case EBUSY:
    case ETXTBSY: return kErrorSharingViolation;
    case ENOSPC:
    case EDQUOT: return kErrorDiskFull;
    case EEXIST: return kErrorAlreadyExists;
    case EINVAL: return kErrorInvalidParameter;
    default: return 0x20000000u | static_cast<uint32_t>(err);  // our own range
  }
}

bool Fail() {
  t_lastError = MapErrno(errno);
  return false;
}

// Windows tells a missing folder on the way (3) from a missing file (2).
bool FailOnPath(const std::string& native) {
  int err = errno;
  if (err == ENOENT) {
    size_t slash = native.find_last_of('/');
    struct stat st;
    if (slash != std::string::npos && slash > 0 && ::stat(native.substr(0, slash).c_str(), &st) != 0) {
      t_lastError = kErrorPathNotFound;
      return false;
    }
  }
  t_lastError = MapErrno(err);
  return false;
}

uint64_t ToFileTime(const struct timespec& ts) {
  if (ts.tv_sec < 0) return 0;
  return static_cast<uint64_t>(ts.tv_sec) * 10000000ULL + static_cast<uint64_t>(ts.tv_nsec) / 100 + kEpochDelta;
}

struct timespec FromFileTime(uint64_t ft) {
  struct timespec ts{};
  if (ft == 0) {
    ts.tv_nsec = UTIME_OMIT;
    return ts;
  }
  uint64_t t = ft > kEpochDelta ? ft - kEpochDelta : 0;
  ts.tv_sec = static_cast<time_t>(t / 10000000ULL);
  ts.tv_nsec = static_cast<long>((t % 10000000ULL) * 100);
  return ts;
}

}  // namespace

FileHandle OpenFile(const std::string& path, OpenMode mode) {
  std::string native = ToNative(path);
  int fd = mode == OpenMode::ReadExisting ? ::open(native.c_str(), O_RDONLY | O_CLOEXEC)
                                          : ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    FailOnPath(native);
    return kInvalidFile;
  }
  if (mode == OpenMode::ReadExisting) {
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      t_lastError = kErrorAccessDenied;
      return kInvalidFile;
    }
  }
  return fd;
}

bool ReadFile(FileHandle file, void* buffer, size_t size, size_t* got) {
  *got = 0;
  for (;;) {
    ssize_t n = ::read(static_cast<int>(file), buffer, size);
    if (n >= 0) {
      *got = static_cast<size_t>(n);
      return true;
    }
    if (errno != EINTR) return Fail();
  }
}

bool WriteFile(FileHandle file, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(static_cast<int>(file), p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail();
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool CloseFile(FileHandle file) {
  return ::close(static_cast<int>(file)) == 0 || Fail();
}

bool GetFileStatus(const std::string& path, FileStatus* status) {
  struct stat st;
  if (::stat(ToNative(path).c_str(), &st) != 0) return Fail();
  status->size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
  uint32_t attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= kAttrDirectory;
  if (!(st.st_mode & S_IWUSR)) attributes |= kAttrReadOnly;
  status->attributes = attributes ? attributes : kAttrNormal;
  status->creationTime = ToFileTime(st.st_mtim);  // no birth time in stat
  status->lastAccessTime = ToFileTime(st.st_atim);
  status->lastWriteTime = ToFileTime(st.st_mtim);
  return true;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(ToNative(path).c_str(), &st) == 0 || Fail();
}

bool SetAttributes(const std::string& path, uint32_t attributes) {
  std::string native = ToNative(path);
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return Fail();
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & kAttrReadOnly) ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
  return ::chmod(native.c_str(), mode) == 0 || Fail();
}

bool SetFileTimes(const std::string& path, uint64_t /*creation*/, uint64_t lastAccess, uint64_t lastWrite) {
  struct timespec times[2] = {FromFileTime(lastAccess), FromFileTime(lastWrite)};
  return ::utimensat(AT_FDCWD, ToNative(path).c_str(), times, 0) == 0 || Fail();
}

bool RemoveFile(const std::string& path) {
  std::string native = ToNative(path);
  struct stat st;
  if (::stat(native.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      t_lastError = kErrorAccessDenied;
      return false;
    }
    // Windows refuses to delete a read-only file; keep that rule here too.
    if (!(st.st_mode & S_IWUSR)) {
      t_lastError = kErrorAccessDenied;
      return false;
    }
  }
  return ::unlink(native.c_str()) == 0 || Fail();
}

bool CopyFileTo(const std::string& from, const std::string& to, bool failIfExists) {
  int in = ::open(ToNative(from).c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Fail();
  struct stat st;
  if (::fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(in);
    t_lastError = kErrorAccessDenied;
    return false;
  }
  std::string target = ToNative(to);
  struct stat old;
  if (::stat(target.c_str(), &old) == 0) {
    if (failIfExists) {
      ::close(in);
      t_lastError = kErrorFileExists;
      return false;
    }
    if (!(old.st_mode & S_IWUSR)) {  // Windows will not overwrite a read-only file
      ::close(in);
      t_lastError = kErrorAccessDenied;
      return false;
    }
  }
  int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0777);
  if (out < 0) {
    Fail();
    ::close(in);
    return false;
  }
  static thread_local char buffer[65536];
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0 || Fail();
      break;
    }
    if (!WriteFile(out, buffer, static_cast<size_t>(n))) {
      ok = false;
      break;
    }
  }
  ::close(in);
  if (::close(out) != 0 && ok) ok = Fail();
  if (ok) {
    struct timespec times[2] = {st.st_atim, st.st_mtim};  // CopyFile keeps the write time
    ::utimensat(AT_FDCWD, target.c_str(), times, 0);
  }
  return ok;
}

bool RenameFile(const std::string& from, const std::string& to) {
  std::string target = ToNative(to);
  struct stat st;
  if (::stat(target.c_str(), &st) == 0) {  // MoveFile never replaces
    t_lastError = kErrorAlreadyExists;
    return false;
  }
  return ::rename(ToNative(from).c_str(), target.c_str()) == 0 || Fail();
}

bool MakeDirectory(const std::string& path) {
  std::string native = ToNative(path);
  return ::mkdir(native.c_str(), 0755) == 0 || FailOnPath(native);
}

bool RemoveEmptyDirectory(const std::string& path) {
  return ::rmdir(ToNative(path).c_str()) == 0 || Fail();
}

bool ListFiles(const std::string& folder, std::vector<std::string>* names) {
  names->clear();
  const std::string native = ToNative(folder);
  DIR* dir = ::opendir(native.empty() ? "." : native.c_str());
  if (dir == nullptr) return Fail();
  while (const dirent* entry = ::readdir(dir)) {
    struct stat st;
    const std::string path = native + (native.empty() || native.back() == '/' ? "" : "/") + entry->d_name;
    if (::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) names->push_back(entry->d_name);
  }
  ::closedir(dir);
  return true;
}

bool GetFreeDiskSpace(const std::string& path, uint64_t* freeBytes) {
  struct statvfs vfs;
  if (::statvfs(ToNative(path).c_str(), &vfs) != 0) return Fail();
  *freeBytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  return true;
}

std::string StripToRoot(const std::string& path) {
  // Windows-style drive paths keep their drive, as PathStripToRootA does.
  if (path.size() >= 2 && path[1] == ':' && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z'))
    return path.substr(0, path.size() >= 3 && path[2] == '\\' ? 3 : 2);
  if (!path.empty() && (path[0] == '\\' || path[0] == '/')) return "\\";
  return std::string();
}

std::string GetTempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = tmp && *tmp ? tmp : "/tmp";
  for (char& c : folder)
    if (c == '/') c = '\\';
  if (folder.back() != '\\') folder += '\\';
  return folder;
}

uint32_t LastError() { return t_lastError; }
void SetLastError(uint32_t code) { t_lastError = code; }

}  // namespace plat
