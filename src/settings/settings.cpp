#include "settings/settings.h"

#include "settings/password.h"
#include "platform/mbcs.h"
#include "platform/drives.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/profile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

constexpr size_t npos = std::string_view::npos;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return TrimRight(s);
}

// atoi as the Windows runtime does it: leading blanks, a sign, digits up to the
// first non-digit; out-of-range values saturate instead of overflowing.
int ToInt(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  long long value = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    value = value * 10 + (s[i] - '0');
    if (value > INT_MAX) return negative ? INT_MIN : INT_MAX;
  }
  return static_cast<int>(negative ? -value : value);
}

std::string WithBackslash(std::string path) {
  if (!mbcs::EndsWithChar(path, '\\')) path += '\\';
  return path;
}

// The path without its trailing backslashes ("D:\Work\\" -> "D:\Work").
std::string WithoutTrailingBackslashes(std::string path) {
  while (mbcs::EndsWithChar(path, '\\')) path.pop_back();
  return path;
}

}  // namespace

// ---------------------------------------------------------------------------
// Download settings

void CBinaryDownloadSetting::Load(const CIniFile& ini) {
  m_nProxyMode = kProxySystem;
  m_strProxyServer = ini.GetIniString(kIniSection, kKeyProxyServer, nullptr);
  m_strProxyUser = ini.GetIniString(kIniSection, kKeyProxyUser, nullptr);
  m_strProxyPassword.clear();
  const std::string strStored = ini.GetIniString(kIniSection, kKeyProxyPasswd, nullptr);
  std::string strDecoded;
  if (!strStored.empty() && DecodePassword(strStored, kPasswordKey, strDecoded))
    m_strProxyPassword = strDecoded.c_str();  // up to the first NUL
  if (ini.GetIniInt(kIniSection, kKeyUseProxy, 1) != 0)
    m_nProxyMode = m_strProxyServer.empty() ? kProxySystem : kProxyNamed;
  else
    m_nProxyMode = kProxyNone;
  m_strDownloadPath = ini.GetIniString(kIniSection, kKeyDownloadPath, nullptr);
}

void CBinaryDownloadSetting::Save(CIniFile& ini) const {
  ini.WriteIniInt(kIniSection, kKeyUseProxy, m_nProxyMode == kProxyNone ? 0 : 1);
  ini.WriteIniString(kIniSection, kKeyProxyServer, m_nProxyMode == kProxySystem ? "" : m_strProxyServer.c_str());
  if (m_nProxyMode == kProxyNamed) {
    ini.WriteIniString(kIniSection, kKeyProxyUser, m_strProxyUser.c_str());
    std::string strEncoded;
    const bool bEncoded = EncodePassword(m_strProxyPassword, kPasswordKey, strEncoded);
    ini.WriteIniString(kIniSection, kKeyProxyPasswd, bEncoded ? strEncoded.c_str() : nullptr);
  } else {
    ini.WriteIniString(kIniSection, kKeyProxyUser, nullptr);
    ini.WriteIniString(kIniSection, kKeyProxyPasswd, nullptr);
  }
  std::string strFolder;
  const bool bValid = !m_strDownloadPath.empty() && ValidateDownloadFolder(m_strDownloadPath, strFolder);
  ini.WriteIniString(kIniSection, kKeyDownloadPath, bValid ? strFolder.c_str() : nullptr);
}

void CBinaryDownloadSetting::Set(bool bUseProxy, bool bUseSystemSettings, const char* pszHost, unsigned nPort,
                                 const char* pszUser, const char* pszPassword) {
  if (!bUseProxy) {
    m_nProxyMode = kProxyNone;
    m_strProxyServer.clear();
    m_strProxyUser.clear();
    m_strProxyPassword.clear();
    return;
  }
  if (bUseSystemSettings || !pszHost) {
    m_nProxyMode = kProxySystem;
    m_strProxyServer.clear();
  } else {
    m_nProxyMode = kProxyNamed;
    char szPort[16];
    std::snprintf(szPort, sizeof szPort, "%u", nPort);
    m_strProxyServer = std::string(pszHost) + ":" + szPort;
  }
  m_strProxyUser = pszUser ? pszUser : "";
  m_strProxyPassword = pszPassword ? pszPassword : "";
}

bool CBinaryDownloadSetting::SetDownloadPath(bool bUseDefault, const char* pszFolder) {
  m_strDownloadPath.clear();
  if (bUseDefault || !pszFolder) return true;
  if (!ValidateDownloadFolder(pszFolder, m_strDownloadPath)) {
    m_strDownloadPath.clear();
    return false;
  }
  return true;
}

void CBinaryDownloadSetting::GetProxyHostPort(std::string& strHost, int& nPort) const {
  const size_t colon = m_strProxyServer.empty() ? npos : mbcs::FindChar(m_strProxyServer, ':');
  if (colon == npos) {
    strHost = m_strProxyServer;
    nPort = kDefaultProxyPort;
    return;
  }
  strHost = m_strProxyServer.substr(0, colon);
  const std::string_view port = std::string_view(m_strProxyServer).substr(colon + 1);
  nPort = port.empty() ? kDefaultProxyPort : ToInt(port);
}

bool CBinaryDownloadSetting::GetDownloadFolder(std::string& strFolder) const {
  if (!m_strDownloadPath.empty() && ValidateDownloadFolder(m_strDownloadPath, strFolder)) return true;
  strFolder = WithBackslash(plat::GetTempFolder());
  return false;
}

// ---------------------------------------------------------------------------
// Drives and folders

unsigned GetPathDriveType(const std::string& strPath) {
  const std::string strRoot = plat::StripToRoot(strPath);
  unsigned nType = plat::DriveTypeOfRoot(strRoot);
  if (nType == plat::kDriveUnknown || nType == plat::kDriveNoRootDir) {
    if (plat::IsUncPath(strRoot)) nType = plat::kDriveRemote;
  } else if (nType == plat::kDriveFixed) {
    // A folder inside the network neighbourhood stands for a network place.
    std::string strNetHood;
    if (plat::GetNetworkNeighbourhoodFolder(&strNetHood) && strPath.size() >= strNetHood.size() &&
        mbcs::ICompare(std::string_view(strPath).substr(0, strNetHood.size()), strNetHood) == 0)
      nType = plat::kDriveRemote;
  }
  return nType;
}

bool ValidateDownloadFolder(const std::string& strPath, std::string& strFolder) {
  if (GetPathDriveType(strPath) != plat::kDriveFixed) return false;
  const std::string strRoot = WithBackslash(plat::StripToRoot(strPath));
  // All trailing backslashes go, so a doubled one still leaves exactly one.
  const std::string strDir = WithoutTrailingBackslashes(strPath);
  if (mbcs::ICompare(WithBackslash(strDir), strRoot) == 0) {
    strFolder = WithBackslash(strDir);  // a drive root is always acceptable
    return true;
  }
  plat::FileStatus status;
  if (!plat::GetFileStatus(strDir, &status) || !(status.attributes & plat::kAttrDirectory)) return false;
  strFolder = strDir + '\\';
  return true;
}

// ---------------------------------------------------------------------------
// Profile and defaults

void ParseServerAddress(const std::string& strValue, std::string& strHost, int& nPort) {
  strHost = kDefaultServerHost;
  nPort = kDefaultServerPort;
  const std::string_view value = Trim(strValue);
  if (value.empty()) return;
  const size_t colon = mbcs::FindChar(value, ':');
  if (colon == npos || colon == 0) {
    strHost = value;
    return;
  }
  strHost = TrimRight(value.substr(0, colon));
  std::string_view rest = value.substr(colon + 1);
  const size_t next = mbcs::FindChar(rest, ':');
  const std::string_view portText = next == npos ? rest : rest.substr(0, next);
  if (!portText.empty()) nPort = ToInt(portText);
}

namespace {
// The server named on the command line for this run; the registry value
// stays as it is.
std::string g_strServerOverride;
}  // namespace

void SetServerOverride(const std::string& strValue) { g_strServerOverride = strValue; }

void GetServerAddress(std::string& strHost, int& nPort) {
  const std::string strValue =
      !g_strServerOverride.empty()
          ? g_strServerOverride
          : plat::ReadProfileString(kRegistryKey, kProfileName, kProfileSectionLogin, kProfileEntryServer,
                                    kDefaultServerHost);
  ParseServerAddress(strValue, strHost, nPort);
}

std::string GetDefaultInstallPath() {
  const std::string strProgram = plat::GetProgramPath();
  const size_t last = mbcs::FindLastChar(strProgram, '\\');
  const std::string strFolder = last == npos ? std::string() : strProgram.substr(0, last + 1);
  return WithBackslash(strFolder) + "MarloInstaller";
}

uint64_t GetAcceptedPublication(const CIniFile& ini) {
  const std::string value = ini.GetIniString(kIniSection, kKeyPublicationSerial, "");
  if (value.empty() || value.size() > 20 || value.find_first_not_of("0123456789") != std::string::npos) return 0;
  errno = 0;
  const unsigned long long serial = std::strtoull(value.c_str(), nullptr, 10);
  return errno == 0 ? serial : 0;
}

void KeepAcceptedPublication(CIniFile& ini, uint64_t serial) {
  if (serial <= GetAcceptedPublication(ini)) return;
  ini.WriteIniString(kIniSection, kKeyPublicationSerial, std::to_string(serial).c_str());
}

std::string GetImageFolder(const CIniFile& ini) {
  return ini.GetIniString(kIniSection, kKeyInstallPath, GetDefaultInstallPath().c_str());
}

void SaveImageFolder(CIniFile& ini, const std::string& folder) {
  ini.WriteIniString(kIniSection, kKeyInstallPath, folder.c_str());
}

bool GetBootInstaller(const CIniFile& ini) { return ini.GetIniInt(kIniSection, kKeyBootInstaller, 1) != 0; }

void SaveDownloadOptions(CIniFile& ini, const CBinaryDownloadSetting& setting, const CTransferSetting& transfer,
                         bool bootInstaller) {
  setting.Save(ini);
  transfer.Save(ini);
  ini.WriteIniInt(kIniSection, kKeyBootInstaller, bootInstaller ? 1 : 0);
}

void CTransferSetting::Load(const CIniFile& ini) {
  const uint32_t connections = ini.GetIniInt(kIniSection, kKeyConnections, static_cast<int>(kDefaultConnections));
  nConnections = connections >= kMinConnections && connections <= kMaxConnections ? connections : kDefaultConnections;
  const uint32_t limit = ini.GetIniInt(kIniSection, kKeySpeedLimit, 0);
  nSpeedLimit = limit <= kMaxSpeedLimit ? limit : 0;
}

void CTransferSetting::Save(CIniFile& ini) const {
  ini.WriteIniInt(kIniSection, kKeyConnections, static_cast<int>(nConnections));
  ini.WriteIniInt(kIniSection, kKeySpeedLimit, static_cast<int>(nSpeedLimit));
}
