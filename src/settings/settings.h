// What the program keeps between runs: the keys of the settings file, the
// download settings (proxy and download folder), the rules for an acceptable
// download folder, and the file-information server named in the profile.
#pragma once

#include "settings/settings_ini.h"

#include <cstdint>
#include <string>

// Settings file: every key lives in one section.
inline constexpr char kIniSection[] = "Main";
inline constexpr char kKeyProxyServer[] = "ProxyServer";
inline constexpr char kKeyProxyUser[] = "ProxyUser";
inline constexpr char kKeyProxyPasswd[] = "ProxyPasswd";
inline constexpr char kKeyUseProxy[] = "UseProxy";
inline constexpr char kKeyDownloadPath[] = "DownloadPath";
inline constexpr char kKeyInstallPath[] = "InstallPath";
inline constexpr char kKeyBootInstaller[] = "BootInstaller";
inline constexpr char kKeyPublicationSerial[] = "PublicationSerial";
inline constexpr char kKeyConnections[] = "Connections";
inline constexpr char kKeySpeedLimit[] = "SpeedLimit";

// Profile (registry) names set by the application object.
inline constexpr char kRegistryKey[] = "Quillmere";
inline constexpr char kProfileName[] = "Marlo";
inline constexpr char kProfileSectionLogin[] = "Login";
inline constexpr char kProfileEntryServer[] = "Server";

inline constexpr char kDefaultServerHost[] = "localhost";
inline constexpr int kDefaultServerPort = 9070;
inline constexpr int kDefaultProxyPort = 80;

enum ProxyMode {
  kProxySystem = 0,  // the system's (Internet Explorer's) proxy configuration
  kProxyNone = 1,
  kProxyNamed = 2,  // the proxy the user gave
};

class CBinaryDownloadSetting {
 public:
  virtual ~CBinaryDownloadSetting() = default;

  void Load(const CIniFile& ini);
  void Save(CIniFile& ini) const;
  // The download-settings dialog's result. Null strings count as empty.
  void Set(bool bUseProxy, bool bUseSystemSettings, const char* pszHost, unsigned nPort, const char* pszUser,
           const char* pszPassword);
  // Empty (the temporary folder) when bUseDefault or no folder is given;
  // otherwise the folder must pass ValidateDownloadFolder.
  bool SetDownloadPath(bool bUseDefault, const char* pszFolder);
  // Host and port of m_strProxyServer; port 80 when it names none.
  void GetProxyHostPort(std::string& strHost, int& nPort) const;
  // The download folder, or (false) the temporary folder when none is set or it
  // is no longer acceptable. Always ends with one backslash.
  bool GetDownloadFolder(std::string& strFolder) const;

  int m_nProxyMode = kProxySystem;
  std::string m_strProxyServer;
  std::string m_strProxyUser;
  std::string m_strProxyPassword;
  std::string m_strDownloadPath;
};

// How many parts download at once, and the cap of all of them together.
struct CTransferSetting {
  static constexpr unsigned kMinConnections = 1;
  static constexpr unsigned kMaxConnections = 8;
  static constexpr unsigned kDefaultConnections = 4;
  static constexpr unsigned kMaxSpeedLimit = 1000000;  // KB/s

  // Stored values out of range give the defaults.
  void Load(const CIniFile& ini);
  void Save(CIniFile& ini) const;

  unsigned nConnections = kDefaultConnections;
  unsigned nSpeedLimit = 0;  // KB/s over all transfers; 0: no cap
};

// The drive type of a path's drive (plat::DriveType values); UNC paths and
// folders inside the network neighbourhood count as remote.
unsigned GetPathDriveType(const std::string& strPath);
// A download folder must be an existing folder (or the root) of a fixed drive.
// On success strFolder is the path ending with exactly one backslash. Nothing
// is created here.
bool ValidateDownloadFolder(const std::string& strPath, std::string& strFolder);

// Host and port of a "Server" profile value: host[:port[:ignored]], trimmed;
// the defaults for an empty value or an empty port.
void ParseServerAddress(const std::string& strValue, std::string& strHost, int& nPort);
// Reads the "Server" value of the profile and parses it.
void GetServerAddress(std::string& strHost, int& nPort);
// A "host[:port]" that GetServerAddress uses instead of the registry value
// (empty: the registry value again).
void SetServerOverride(const std::string& strValue);

// The highest serial of a publisher's manifest this user has accepted; 0
// when none (or the value is not a number).
uint64_t GetAcceptedPublication(const CIniFile& ini);
// Keeps serial as the accepted one when it is higher than the kept one.
void KeepAcceptedPublication(CIniFile& ini, uint64_t serial);

// The image folder when none is stored: "MarloInstaller" beside the program.
std::string GetDefaultInstallPath();
// The stored image folder, or the default one.
std::string GetImageFolder(const CIniFile& ini);
void SaveImageFolder(CIniFile& ini, const std::string& folder);
// Whether the installer is launched once the image is built (default: yes).
bool GetBootInstaller(const CIniFile& ini);
// The download settings, the transfer settings and the launch choice.
void SaveDownloadOptions(CIniFile& ini, const CBinaryDownloadSetting& setting, const CTransferSetting& transfer,
                         bool bootInstaller);
