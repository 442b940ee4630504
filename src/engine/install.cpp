// Installing one target file: join its parts into a temporary file in the
// download folder, verify it, give it the list's times, copy it into the image
// folder, verify the copy, and clean up. Failed attempts are retried and the
// user is asked when they keep failing.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "common/trace.h"
#include "engine/checker_core.h"
#include "engine/crc32.h"
#include "engine/file_ops.h"
#include "engine/packed.h"
#include "engine/retry.h"
#include "platform/files.h"
#include "platform/system.h"
#include "trust/sha256.h"

namespace {

// Codes of one installation attempt.
enum : int {
  INSTALL_TEMP_CREATE = -400,
  INSTALL_PART_MISSING = -399,
  INSTALL_WRITE_UNPACKED = -391,
  INSTALL_RAW_STATUS = -390,
  INSTALL_RAW_SIZE = -389,
  INSTALL_RAW_CRC = -387,
  INSTALL_RAW_OPEN = -386,
  INSTALL_NO_BUFFER = -385,
  INSTALL_RAW_READ = -384,
  INSTALL_TEMP_WRITE = -383,
  INSTALL_TEMP_STATUS = -382,  // then -381 size, -380 CRC read, -379 CRC
  INSTALL_FOLDER_CREATE = -378,
  INSTALL_FOLDER_IS_FILE = -377,
  INSTALL_COPY = -376,
  INSTALL_DEST_STATUS = -375,  // then -374 size, -373 CRC read, -372 CRC
  INSTALL_UNPACK = -371,
  INSTALL_PACKED_READ = -370,
};

constexpr size_t kCopyBuffer = 1024 * 1024;
constexpr uint32_t kErrorHandleEof = 38;

// 75 * done / count rounded to the nearest, halves up (MulDiv).
int ProgressOfParts(size_t done, size_t count) {
  return static_cast<int>((75 * done * 2 + count) / (2 * count));
}

}  // namespace

int CCheckerCore::InstallFile(CCheckFile* file) {
  const std::string destination = m_strImageFolder + file->m_strName;
  m_nResult = 0;
  m_nResultExtra = 0;
  if (!PostAndWait(NOTIFY_FILE_PROGRESS, destination.c_str(), 0)) return ENGINE_INSTALL_FILE_NOTIFY_FAILED;

  int code = 0, detail = 0;
  CRetryBudget budget;
  for (;;) {
    if (!budget.TakeOne()) {
      m_nResult = 0;
      m_nResultExtra = 0;
      if (!PostAndWait(NOTIFY_INSTALL_ERROR, destination.c_str(), code, detail))
        return ENGINE_INSTALL_FILE_NOTIFY_FAILED;
      if (m_nResult != REPLY_INSTALL_RETRY) {
        m_nResultExtra = detail;
        return code;
      }
      budget.Refill();
    }
    if (!PostAndWait(NOTIFY_FILE_PROGRESS, nullptr, 1, 0)) return ENGINE_INSTALL_FILE_NOTIFY_FAILED;
    detail = 0;
    code = InstallAttempt(*file, destination, &detail);
    // Joining the same parts again gives the same wrong file: it takes new parts.
    if (code == 0 || code == ENGINE_INSTALL_FILE_NOTIFY_FAILED || code == TRUST_FILE_MISMATCH) return code;
  }
}

int CCheckerCore::InstallAttempt(CCheckFile& file, const std::string& destination, int* detail) {
  const std::string temp = MakeTempName();
  plat::FileHandle out = plat::OpenFile(temp, plat::OpenMode::CreateAlways);
  if (out == plat::kInvalidFile) return INSTALL_TEMP_CREATE;
  // An attempt that fails leaves no temporary file behind: a flaky network
  // would otherwise fill the disk with them, one per attempt.
  const int code = JoinAndInstall(file, temp, out, destination, detail);
  if (code != 0) DeleteRunFile(temp);
  return code;
}

int CCheckerCore::JoinAndInstall(CCheckFile& file, const std::string& temp, plat::FileHandle out,
                                 const std::string& destination, int* detail) {
  // The joined file's CRC (and SHA-256, when signed) is taken from the bytes
  // as they are written to it, so the file is not read back for it; its size
  // is still checked on disk.
  CCrc32 joined;
  std::unique_ptr<CSha256> joinedSha;
  try {
    if (file.m_bSigned) joinedSha = std::make_unique<CSha256>();
  } catch (const std::exception&) {
    plat::CloseFile(out);
    return INSTALL_NO_BUFFER;
  }
  const size_t count = file.m_aParts.size();
  for (size_t i = 0; i < count; ++i) {
    const CDLFileInfo& part = file.m_aParts[i];
    const std::string partPath = m_strDownloadFolder + part.m_strLocalName;
    plat::FileStatus status;
    int code = 0;
    if (!plat::GetFileStatus(partPath, &status) || (status.attributes & plat::kAttrDirectory)) {
      code = INSTALL_PART_MISSING;
    } else {
      DeleteRunFile(partPath + "_.tmp");  // a leftover of an interrupted download
      code = AppendPart(part, partPath, out, joined, joinedSha.get(), detail);
    }
    if (code != 0) {
      plat::CloseFile(out);
      return code;
    }
    if (!PostAndWait(NOTIFY_FILE_PROGRESS, nullptr, 1, ProgressOfParts(i + 1, count))) {
      plat::CloseFile(out);
      return ENGINE_INSTALL_FILE_NOTIFY_FAILED;
    }
  }
  // The times go on the closed file: setting them by name while our handle is
  // open without sharing would fail, and no later write may touch them.
  plat::CloseFile(out);
  {
    trace::Span span("times");
    plat::SetFileTimes(temp, file.m_ftCreation, file.m_ftLastWrite, file.m_ftLastWrite);
  }
  if (!PostAndWait(NOTIFY_FILE_PROGRESS, nullptr, 1, 80)) return ENGINE_INSTALL_FILE_NOTIFY_FAILED;

  // Verifies a file against the record: status, size, then the CRC, read from
  // the file unless it is known from writing it.
  auto verify = [&](const std::string& path, int firstCode, const CCrc32* written) {
    plat::FileStatus status;
    if (!plat::GetFileStatus(path, &status)) return firstCode;
    if (status.size != file.m_dwSize) return firstCode + 1;
    uint32_t crc = 0, error = 0;
    if (written != nullptr) {
      crc = written->GetValue();
    } else {
      trace::Span span("dest-crc");
      if (!FileCrc(path, &crc, &error)) {
        *detail = static_cast<int>(error);
        return firstCode + 2;
      }
    }
    return crc == file.m_dwCrc ? 0 : firstCode + 3;
  };
  if (int code = verify(temp, INSTALL_TEMP_STATUS, &joined)) return code;
  // Same size and CRC-32 are easy to forge; the publisher's SHA-256 is not.
  if (joinedSha && joinedSha->GetValue() != file.m_abSha256) return TRUST_FILE_MISMATCH;

  int reason = 0;
  if (!CreateFolderPath(destination, &reason))
    return reason == FOLDER_IS_A_FILE ? INSTALL_FOLDER_IS_FILE : INSTALL_FOLDER_CREATE;
  if (!PostAndWait(NOTIFY_FILE_PROGRESS, nullptr, 1, 85)) return ENGINE_INSTALL_FILE_NOTIFY_FAILED;

  uint32_t copyError = 0;
  bool copied = false;
  {
    trace::Span span("copy");
    copied = CopyFileForced(temp, destination, &copyError);
  }
  if (!copied) {
    *detail = static_cast<int>(copyError);
    return INSTALL_COPY;
  }
  if (!PostAndWait(NOTIFY_FILE_PROGRESS, nullptr, 1, 95)) return ENGINE_INSTALL_FILE_NOTIFY_FAILED;
  // The copy is read back: it is what the user keeps. One that fails is not
  // left under the target's name.
  if (int code = verify(destination, INSTALL_DEST_STATUS, nullptr)) {
    DeleteFileForced(destination);
    return code;
  }

  {
    trace::Span span("delete");
    DeleteRunFile(temp);
    for (const CDLFileInfo& part : file.m_aParts) DeleteRunFile(m_strDownloadFolder + part.m_strLocalName);
  }
  if (!PostAndWait(NOTIFY_FILE_PROGRESS, nullptr, 1, 100)) return ENGINE_INSTALL_FILE_NOTIFY_FAILED;
  return 0;
}

int CCheckerCore::AppendPart(const CDLFileInfo& part, const std::string& partPath, plat::FileHandle temp,
                             CCrc32& joined, CSha256* joinedSha, int* detail) {
  auto write = [&](const unsigned char* data, size_t size) {
    {
      trace::Span span("join-write");
      if (!plat::WriteFile(temp, data, size)) return false;
      joined.Update(data, size);
    }
    if (joinedSha) {
      trace::Span span("sha256");
      joinedSha->Update(data, size);
    }
    return true;
  };

  if (!(part.m_wFlags & FILE_FLAG_RAW)) {
    unsigned char* data = nullptr;
    uint32_t size = 0;
    int rc = 0;
    {
      trace::Span span("inflate");
      rc = UnpackFile(partPath, &data, &size);
    }
    if (rc == UNPACK_OK) {
      const bool written = write(data, size);
      if (!written) *detail = FileErrorCause(plat::LastError());
      FreeUnpacked(data);
      return written ? 0 : INSTALL_WRITE_UNPACKED;
    }
    if (rc == UNPACK_CANNOT_READ) {
      *detail = static_cast<int>(plat::LastError());
      return INSTALL_PACKED_READ;
    }
    if (rc != UNPACK_NOT_PACKED) {
      *detail = rc;
      return INSTALL_UNPACK;
    }
    // Not a container after all: the file is the content itself.
  }

  plat::FileStatus status;
  if (!plat::GetFileStatus(partPath, &status)) return INSTALL_RAW_STATUS;
  if (status.size != part.m_dwSize) return INSTALL_RAW_SIZE;

  // One read of the part both checks its CRC and appends it; the temporary
  // file is thrown away when the CRC is wrong, so nothing unchecked is kept.
  plat::FileHandle in = plat::OpenFile(partPath, plat::OpenMode::ReadExisting);
  if (in == plat::kInvalidFile) return INSTALL_RAW_OPEN;
  const size_t bufferSize = static_cast<size_t>(std::min<uint64_t>(status.size, kCopyBuffer));
  unsigned char* buffer = static_cast<unsigned char*>(std::malloc(std::max<size_t>(bufferSize, 1)));
  if (!buffer) {
    plat::CloseFile(in);
    return INSTALL_NO_BUFFER;
  }
  CCrc32 crc;
  int code = 0;
  for (uint64_t remaining = status.size; remaining > 0 && code == 0;) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(bufferSize, remaining));
    size_t got = 0;
    if (!plat::ReadFile(in, buffer, chunk, &got)) {
      *detail = FileErrorCause(plat::LastError());
      code = INSTALL_RAW_READ;
    } else if (got == 0) {
      // The part shrank after it was looked at: never pad the target with stale bytes.
      *detail = FileErrorCause(kErrorHandleEof);
      code = INSTALL_RAW_READ;
    } else {
      crc.Update(buffer, got);
      if (!write(buffer, got)) {
        *detail = FileErrorCause(plat::LastError());
        code = INSTALL_TEMP_WRITE;
      } else {
        remaining -= got;
      }
    }
  }
  plat::CloseFile(in);
  std::free(buffer);
  if (code == 0 && crc.GetValue() != part.m_dwCrc) code = INSTALL_RAW_CRC;
  return code;
}
