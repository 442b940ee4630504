// Download preparation: which parts are already in the download folder, whether
// the drives have room for the rest and for the installation, and the request
// that makes the page download what is missing.
#include <algorithm>

#include "platform/mbcs.h"
#include "common/trace.h"
#include "engine/checker_core.h"
#include "platform/files.h"

namespace {

constexpr int kPartCrcTries = 5;

std::string DriveRoot(const std::string& folder) {
  std::string root = plat::StripToRoot(folder);
  AppendBackslash(root);
  return root;
}

}  // namespace

int CCheckerCore::PrepareDownload(CCheckFile* file) {
  if (!PostAndWait(NOTIFY_PREPARE)) return ENGINE_INSTALL_ONE_NOTIFY_FAILED;

  uint64_t largestPart = 0;
  uint64_t downloadTotal = 0;
  bool missing = false;
  for (CDLFileInfo& part : file->m_aParts) {
    const std::string partPath = m_strDownloadFolder + part.m_strLocalName;
    bool intact = false;
    plat::FileStatus status;
    if (plat::GetFileStatus(partPath, &status) && !(status.attributes & plat::kAttrDirectory) &&
        static_cast<uint32_t>(status.size) == part.m_dwPackedSize) {
      for (int tries = 0; tries < kPartCrcTries && !intact; ++tries) {
        uint32_t crc = 0, error = 0;
        trace::Span span("part-crc");
        intact = FileCrc(partPath, &crc, &error) && crc == part.m_dwPackedCrc;
      }
    }
    if (intact) {
      part.m_wFlags |= FILE_FLAG_DOWNLOADED;
    } else {
      part.m_wFlags &= ~FILE_FLAG_DOWNLOADED;
      downloadTotal += part.m_dwPackedSize;
      missing = true;
    }
    largestPart = std::max<uint64_t>(largestPart, part.m_dwSize);
  }

  if (missing) {
    if (!PostAndWait(NOTIFY_DISK_CHECK)) return ENGINE_INSTALL_ONE_NOTIFY_FAILED;
    m_nResult = 0;
    const uint64_t fileSize = file->m_dwSize;
    const std::string imageRoot = DriveRoot(m_strImageFolder);
    const std::string downloadRoot = DriveRoot(m_strDownloadFolder);

    CUpdateNotify* question = nullptr;
    if (mbcs::ICompare(imageRoot, downloadRoot) == 0) {
      uint64_t available = 0;
      if (!GetAvailableSpace(imageRoot, &available)) return ENGINE_FREE_SPACE_FAILED;
      // The joined temporary file and the installed copy, the largest part
      // while it is unpacked, and the downloads themselves.
      const uint64_t needed = 2 * fileSize + largestPart + downloadTotal;
      if (needed >= available) {
        question = CreateNotify();
        if (!question) return ENGINE_DISK_NOTIFY_FAILED;
        question->m_install.Set(imageRoot, needed, available);
      }
    } else {
      uint64_t imageAvailable = 0, downloadAvailable = 0;
      if (!GetAvailableSpace(imageRoot, &imageAvailable) || !GetAvailableSpace(downloadRoot, &downloadAvailable))
        return ENGINE_FREE_SPACE_FAILED;
      const uint64_t downloadNeeded = largestPart + downloadTotal + fileSize;
      const bool imageShort = fileSize >= imageAvailable;
      const bool downloadShort = downloadNeeded >= downloadAvailable;
      if (imageShort || downloadShort) {
        question = CreateNotify();
        if (!question) return ENGINE_DISK_NOTIFY_FAILED;
        if (imageShort) question->m_install.Set(imageRoot, fileSize, imageAvailable);
        if (downloadShort) question->m_download.Set(downloadRoot, downloadNeeded, downloadAvailable);
      }
    }
    if (question) {
      question->m_nKind = NOTIFY_DISK_SPACE;
      if (!QueueAndWait(question)) return ENGINE_DISK_NOTIFY_FAILED;
      if (m_nResult != 0) return m_nResult;
    }
  }

  m_nResult = 0;
  CUpdateNotify* request = CreateNotify();
  if (!request) return ENGINE_DOWNLOAD_NOTIFY_FAILED;
  request->m_nKind = NOTIFY_DOWNLOAD;
  request->m_pFile = file;
  request->m_pszBaseUrl = m_strBaseUrl.c_str();
  request->m_pszDownloadFolder = m_strDownloadFolder.c_str();
  if (!QueueAndWait(request)) return ENGINE_DOWNLOAD_NOTIFY_FAILED;
  return m_nResult;
}
