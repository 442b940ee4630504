#include "settings/settings_ini.h"

#include "platform/ini.h"

#include <cstdio>

namespace {
constexpr size_t kReadBufferSize = 4096;
}

// Without a path the profile functions would fall back to a file in the
// Windows folder, so an unset path reads defaults and writes nothing.

std::string CIniFile::GetIniString(const char* pszSection, const char* pszKey, const char* pszDefault) const {
  if (m_strIniPath.empty()) return pszDefault ? pszDefault : "";
  return plat::ProfileReadString(m_strIniPath, pszSection, pszKey, pszDefault, kReadBufferSize);
}

uint32_t CIniFile::GetIniInt(const char* pszSection, const char* pszKey, int nDefault) const {
  if (m_strIniPath.empty()) return static_cast<uint32_t>(nDefault);
  return plat::ProfileReadInt(m_strIniPath, pszSection, pszKey, nDefault);
}

bool CIniFile::WriteIniString(const char* pszSection, const char* pszKey, const char* pszValue) {
  if (m_strIniPath.empty()) return false;
  return plat::ProfileWriteString(m_strIniPath, pszSection, pszKey, pszValue);
}

bool CIniFile::WriteIniInt(const char* pszSection, const char* pszKey, int nValue) {
  char szValue[16];
  std::snprintf(szValue, sizeof szValue, "%d", nValue);
  return WriteIniString(pszSection, pszKey, szValue);
}
