// The settings file: every read and write of a setting goes through these four
// operations on one INI file. The application object owns the path.
#pragma once

#include <cstdint>
#include <string>

class CIniFile {
 public:
  CIniFile() = default;
  explicit CIniFile(std::string strIniPath) : m_strIniPath(std::move(strIniPath)) {}
  virtual ~CIniFile() = default;

  // Values longer than 4095 bytes come back cut, as the fixed read buffer holds them.
  std::string GetIniString(const char* pszSection, const char* pszKey, const char* pszDefault) const;
  uint32_t GetIniInt(const char* pszSection, const char* pszKey, int nDefault) const;
  // A null value deletes the key.
  bool WriteIniString(const char* pszSection, const char* pszKey, const char* pszValue);
  bool WriteIniInt(const char* pszSection, const char* pszKey, int nValue);

  std::string m_strIniPath;
};
