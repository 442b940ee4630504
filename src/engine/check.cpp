// The installed-file check: which target files are missing from the image
// folder or differ from the list by size or CRC (or from the publisher's
// manifest by SHA-256).
#include "common/trace.h"
#include "engine/checker_core.h"
#include "engine/filelist.h"
#include "engine/retry.h"
#include "platform/files.h"

int CCheckerCore::CheckInstalledFiles() {
  if (!PostAndWait(NOTIFY_CHECK_PHASE, m_strInstallerName.c_str(), 0)) return ENGINE_CHECK_NOTIFY_FAILED;
  m_listUpdate.clear();
  AssignLocalNames();

  for (const std::unique_ptr<CCheckFile>& owned : m_listFiles) {
    CCheckFile* file = owned.get();
    const std::string path = m_strImageFolder + file->m_strName;
    if (!PostAndWait(NOTIFY_CHECK_FILE, file->m_strName.c_str())) return ENGINE_CHECK_NOTIFY_FAILED;

    auto needsInstall = [&] {
      file->m_wFlags |= FILE_FLAG_UPDATE;
      m_listUpdate.push_back(file);
    };
    plat::FileStatus status;
    if (!plat::GetFileStatus(path, &status)) {
      needsInstall();
      continue;
    }
    if (static_cast<uint32_t>(status.size) != file->m_dwSize) {
      needsInstall();
      continue;
    }

    int code = 0;
    uint32_t systemError = 0;
    CRetryBudget budget;
    for (;;) {
      if (!budget.TakeOne()) {
        m_nResult = 0;
        m_nResultExtra = 0;
        if (!PostAndWait(NOTIFY_CHECK_ERROR, nullptr, code, static_cast<int>(systemError)))
          return ENGINE_CHECK_NOTIFY_FAILED;
        if (m_nResult != REPLY_CHECK_RETRY) {
          m_nResultExtra = static_cast<int>(systemError);
          return code;
        }
        budget.Refill();
      }
      uint32_t crc = 0;
      bool signedMatch = true;
      trace::Span span("check-crc");
      if (!FileCrcAndDigest(*file, path, &crc, &signedMatch, &systemError)) {
        code = CHECK_READ_FAILED;
        continue;
      }
      if (crc != file->m_dwCrc || !signedMatch) needsInstall();
      break;
    }
  }

  if (!PostAndWait(NOTIFY_CHECK_PHASE, nullptr, 1)) return ENGINE_CHECK_NOTIFY_FAILED;
  return static_cast<int>(m_listUpdate.size());
}
