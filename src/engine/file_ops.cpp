#include "engine/file_ops.h"

#include "platform/mbcs.h"
#include "platform/files.h"

bool DeleteFileForced(const std::string& path) {
  plat::FileStatus status;
  if (!plat::GetFileStatus(path, &status) || (status.attributes & plat::kAttrDirectory)) return false;
  if (status.attributes & plat::kAttrReadOnly)
    plat::SetAttributes(path, status.attributes & ~plat::kAttrReadOnly);
  return plat::RemoveFile(path);
}

bool CopyFileForced(const std::string& source, const std::string& destination, uint32_t* error) {
  *error = 0;
  plat::FileStatus status;
  if (plat::GetFileStatus(destination, &status) && (status.attributes & plat::kAttrReadOnly))
    plat::SetAttributes(destination, status.attributes & ~plat::kAttrReadOnly);
  if (plat::CopyFileTo(source, destination, false)) return true;
  *error = plat::LastError();
  return false;
}

bool CreateFolderPath(const std::string& filePath, int* reason) {
  const size_t lastSep = mbcs::FindLastChar(filePath, '\\');
  if (lastSep == std::string::npos) return true;
  const std::string folder = filePath.substr(0, lastSep + 1);
  const size_t first = mbcs::FindChar(folder, '\\');
  if (first + 1 >= folder.size()) return true;

  for (size_t i = mbcs::CharNext(folder, first);; i = mbcs::CharNext(folder, i)) {
    const bool atEnd = i >= folder.size();
    if (!atEnd && !(folder[i] == '\\' && mbcs::CharLength(folder, i) == 1)) continue;
    const std::string prefix = folder.substr(0, i);
    plat::FileStatus status;
    if (!plat::GetFileStatus(prefix, &status)) {
      if (!plat::MakeDirectory(prefix)) {
        *reason = FOLDER_CANNOT_CREATE;
        return false;
      }
    } else if (!(status.attributes & plat::kAttrDirectory)) {
      *reason = FOLDER_IS_A_FILE;
      return false;
    }
    if (atEnd || i + 1 == folder.size()) return true;
  }
}

bool ReadExactly(plat::FileHandle file, void* buffer, size_t size) {
  unsigned char* bytes = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  while (done < size) {
    size_t got = 0;
    if (!plat::ReadFile(file, bytes + done, size - done, &got)) return false;
    if (got == 0) {
      plat::SetLastError(38);  // ERROR_HANDLE_EOF
      return false;
    }
    done += got;
  }
  return true;
}

int FileErrorCause(uint32_t systemError) {
  switch (systemError) {
    case 0: return 0;
    case 2: return 2;              // file not found
    case 3: return 3;              // path not found
    case 4: return 4;              // too many open files
    case 5: return 5;              // access denied
    case 6: return 6;              // invalid handle
    case 16: return 7;             // current directory
    case 18: return 8;             // no more files
    case 25: case 131: return 9;   // seek
    case 23: case 30: case 1117: return 10;  // data error, read fault, I/O device
    case 32: return 11;            // sharing violation
    case 33: return 12;            // lock violation
    case 39: case 112: return 13;  // disk full
    case 38: return 14;            // end of file
    default: return 1;
  }
}
