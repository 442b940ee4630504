// The run's own files in the download folder — parts and temporary files —
// are kept apart from the files of the list. The download folder may be the
// image folder or lie inside it, so a part or a temporary file could otherwise
// take the place of a target file (and be deleted after it was installed
// there) or of a folder on a target's way.
#include <cstdio>
#include <string_view>

#include "platform/mbcs.h"
#include "engine/checker_core.h"
#include "engine/file_ops.h"
#include "engine/filelist.h"
#include "platform/files.h"
#include "platform/system.h"

namespace {

// Added to a part's name when the name is taken by a file of the list.
constexpr std::string_view kPartSuffix = ".wrenpart";

// "_gs" + process id and tick as 16 hex digits + ".tmp".
constexpr std::string_view kTempPrefix = "_gs";
constexpr std::string_view kTempSuffix = ".tmp";
constexpr size_t kTempDigits = 16;

bool IsTempName(std::string_view name) {
  if (name.size() != kTempPrefix.size() + kTempDigits + kTempSuffix.size()) return false;
  if (mbcs::ICompare(name.substr(0, kTempPrefix.size()), kTempPrefix) != 0) return false;
  if (mbcs::ICompare(name.substr(name.size() - kTempSuffix.size()), kTempSuffix) != 0) return false;
  for (char c : name.substr(kTempPrefix.size(), kTempDigits))
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

}  // namespace

bool CCheckerCore::IsListPath(const std::string& path) const {
  return m_setListPaths.count(mbcs::PathKey(path)) != 0;
}

void CCheckerCore::AssignLocalNames() {
  m_setListPaths.clear();
  for (const std::unique_ptr<CCheckFile>& file : m_listFiles) {
    const std::string key = mbcs::PathKey(m_strImageFolder + file->m_strName);
    m_setListPaths.insert(key);
    for (size_t i = 0; i < key.size(); i = mbcs::CharNext(key, i))
      if (i > 0 && key[i] == '\\' && mbcs::CharLength(key, i) == 1) m_setListPaths.insert(key.substr(0, i));
  }

  for (const std::unique_ptr<CCheckFile>& file : m_listFiles) {
    std::unordered_set<std::string> taken;  // this file's part names so far
    auto isFree = [&](const std::string& name) {
      return !IsListPath(m_strDownloadFolder + name) && taken.count(mbcs::PathKey(name)) == 0;
    };
    for (CDLFileInfo& part : file->m_aParts) {
      const std::string derived = DeriveLocalName(m_strBaseUrl, part.m_strRemoteName);
      std::string local = derived;
      for (int n = 1; !isFree(local); ++n)
        local = derived + std::string(kPartSuffix) + (n > 1 ? std::to_string(n) : std::string());
      taken.insert(mbcs::PathKey(local));
      part.m_strLocalName = local;
    }
  }
}

std::string TempFileName(uint32_t high, uint32_t low) {
  char name[32];
  std::snprintf(name, sizeof name, "_gs%08x%08x.tmp", high, low);
  return name;
}

std::string CCheckerCore::MakeTempName() const {
  for (uint32_t salt = 0;; ++salt) {
    const std::string path =
        m_strDownloadFolder + TempFileName(plat::GetCurrentProcessId(), plat::GetTickCount() + salt);
    if (!IsListPath(path)) return path;
  }
}

bool CCheckerCore::DeleteRunFile(const std::string& path) const {
  return !IsListPath(path) && DeleteFileForced(path);
}

void CCheckerCore::RemoveLeftoverTempFiles() const {
  std::vector<std::string> names;
  if (!plat::ListFiles(m_strDownloadFolder, &names)) return;
  for (const std::string& name : names)
    if (IsTempName(name)) DeleteRunFile(m_strDownloadFolder + name);
}
