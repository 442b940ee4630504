#include "settings/settings.h"

#include "settings/password.h"
#include "platform/drives.h"
#include "platform/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "../../support/scratch.h"

#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>
#endif

using namespace testing_support;

namespace {

constexpr char kAbsent[] = "<absent>";

// A settings file in a fresh folder, optionally with given contents.
struct SettingsFile {
  ScratchFolder dir;
  CIniFile ini;
  explicit SettingsFile(const std::string& contents = std::string()) : ini(dir / "MarloStarter.ini") {
    if (!contents.empty()) {
      EXPECT_TRUE(WriteWholeFile(ini.m_strIniPath, contents));
    }
  }
  std::string Get(const char* key) const { return ini.GetIniString(kIniSection, key, kAbsent); }
};

// The root of the drive the scratch folders live on ("C:\" under Windows,
// "\" on POSIX).
std::string ScratchRoot() { return plat::StripToRoot(plat::GetTempFolder()); }

// ---------------------------------------------------------------------------
// INI operations

TEST(SettingsIni, MissingFileOrKeyGivesDefaults) {
  ScratchFolder dir;
  for (const std::string& path : {dir / "none.ini", dir / "no\\such\\folder.ini"}) {
    CIniFile ini(path);
    EXPECT_EQ(ini.GetIniString("Main", "Key", nullptr), "");
    EXPECT_EQ(ini.GetIniString("Main", "Key", "dflt"), "dflt");
    EXPECT_EQ(ini.GetIniInt("Main", "Key", 7), 7u);
  }
  EXPECT_FALSE(plat::FileExists(dir / "none.ini"));  // reading never creates the file
}

TEST(SettingsIni, WriteReadDeleteAndOtherKeysKept) {
  SettingsFile f("; written by hand\r\n[Other]\r\nKey=other\r\n\r\n[Main]\r\nKeep=yes\r\n");
  CIniFile& ini = f.ini;
  EXPECT_TRUE(ini.WriteIniString("Main", "Key", "value"));
  EXPECT_TRUE(ini.WriteIniInt("Main", "Number", -42));
  EXPECT_TRUE(ini.WriteIniString("New", "Key", "fresh"));
  EXPECT_EQ(ini.GetIniString("Main", "Key", nullptr), "value");
  EXPECT_EQ(ini.GetIniString("Main", "Number", nullptr), "-42");
  EXPECT_EQ(ini.GetIniString("main", "KEY", nullptr), "value");  // names ignore case
  EXPECT_EQ(ini.GetIniString("New", "Key", nullptr), "fresh");
  EXPECT_EQ(ini.GetIniString("Other", "Key", nullptr), "other");
  EXPECT_EQ(ini.GetIniString("Main", "Keep", nullptr), "yes");

  EXPECT_TRUE(ini.WriteIniString("Main", "Key", "changed"));
  EXPECT_EQ(ini.GetIniString("Main", "Key", nullptr), "changed");
  EXPECT_TRUE(ini.WriteIniString("Main", "Key", nullptr));  // null deletes
  EXPECT_EQ(ini.GetIniString("Main", "Key", "gone"), "gone");
  EXPECT_TRUE(ini.WriteIniString("Main", "Key", ""));  // an empty value keeps the key
  EXPECT_EQ(ini.GetIniString("Main", "Key", "gone"), "");
  EXPECT_EQ(ini.GetIniString("Other", "Key", nullptr), "other");
  EXPECT_EQ(ini.GetIniString("Main", "Keep", nullptr), "yes");
}

TEST(SettingsIni, LongValuesAreCutTo4095Bytes) {
  SettingsFile f;
  const std::string value(5000, 'v');
  ASSERT_TRUE(f.ini.WriteIniString("Main", "Long", value.c_str()));
  EXPECT_EQ(f.ini.GetIniString("Main", "Long", nullptr), value.substr(0, 4095));
}

TEST(SettingsIni, IntegersAndValuesAsStored) {
  SettingsFile f(
      "[Main]\r\nZero=0\r\nOne=1\r\nSpaced =  7  \r\nTail=12abc\r\nWord=abc\r\nEmpty=\r\n"
      "Quoted=\"a b\"\r\nJapanese=\x93\xfa\x96{\x8c\xea\r\n");
  struct Case {
    const char* key;
    uint32_t value;
  };
  const Case ints[] = {{"Zero", 0}, {"One", 1}, {"Spaced", 7}, {"Tail", 12}, {"Word", 0}, {"Empty", 99},
                       {"Missing", 99}};
  for (const Case& c : ints) EXPECT_EQ(f.ini.GetIniInt("Main", c.key, 99), c.value) << c.key;
  EXPECT_EQ(f.ini.GetIniString("Main", "Spaced", nullptr), "7");
  EXPECT_EQ(f.ini.GetIniString("Main", "Quoted", nullptr), "a b");
  EXPECT_EQ(f.ini.GetIniString("Main", "Japanese", nullptr), "\x93\xfa\x96{\x8c\xea");
}

// ---------------------------------------------------------------------------
// Download settings: loading

TEST(DownloadSettingLoad, KeysGiveModeAndStrings) {
  struct Case {
    const char* name;
    std::string file;
    int mode;
    const char* server;
    const char* user;
    const char* password;
    const char* path;
  };
  const Case cases[] = {
      {"empty file", "", kProxySystem, "", "", "", ""},
      {"proxy on, no server", "[Main]\r\nUseProxy=1\r\nProxyServer=\r\n", kProxySystem, "", "", "", ""},
      {"no UseProxy key, server", "[Main]\r\nProxyServer=proxy:8080\r\n", kProxyNamed, "proxy:8080", "", "", ""},
      {"named proxy with password",
       "[Main]\r\nUseProxy=1\r\nProxyServer=p:3128\r\nProxyUser=me\r\nProxyPasswd=yXmp5bWpTo6J@qwibC\r\n",
       kProxyNamed, "p:3128", "me", "password", ""},
      {"proxy off keeps the strings read",
       "[Main]\r\nUseProxy=0\r\nProxyServer=p:1\r\nProxyUser=u\r\nProxyPasswd=yXmp5bWpTo6J@qwibC\r\n", kProxyNone,
       "p:1", "u", "password", ""},
      {"undecodable password is empty", "[Main]\r\nProxyServer=p\r\nProxyPasswd=ABCDEF\r\n", kProxyNamed, "p", "",
       "", ""},
      {"download path is not validated on load", "[Main]\r\nDownloadPath=W:\\nowhere\\\r\n", kProxySystem, "", "",
       "", "W:\\nowhere\\"},
      {"garbage", std::string("\x00\xff[\x01\n=\x02\r\n[Main\n", 14), kProxySystem, "", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SettingsFile f(c.file);
    CBinaryDownloadSetting s;
    s.m_nProxyMode = kProxyNone;
    s.m_strProxyPassword = "stale";
    s.Load(f.ini);
    EXPECT_EQ(s.m_nProxyMode, c.mode);
    EXPECT_EQ(s.m_strProxyServer, c.server);
    EXPECT_EQ(s.m_strProxyUser, c.user);
    EXPECT_EQ(s.m_strProxyPassword, c.password);
    EXPECT_EQ(s.m_strDownloadPath, c.path);
  }
}

TEST(DownloadSettingLoad, UnreadableSettingsFileGivesDefaults) {
  ScratchFolder dir;
  ASSERT_TRUE(plat::MakeDirectory(dir / "folder.ini"));
  for (const std::string& path : {dir / "folder.ini", dir / "missing\\x.ini", std::string()}) {
    CBinaryDownloadSetting s;
    s.Load(CIniFile(path));
    EXPECT_EQ(s.m_nProxyMode, kProxySystem) << path;
    EXPECT_EQ(s.m_strProxyServer + s.m_strProxyUser + s.m_strProxyPassword + s.m_strDownloadPath, "") << path;
  }
}

// ---------------------------------------------------------------------------
// Download settings: saving

const char kFullFile[] =
    "[Main]\r\nUseProxy=1\r\nProxyServer=old:1\r\nProxyUser=olduser\r\nProxyPasswd=yXmp5bWpTo6J@qwibC\r\n"
    "DownloadPath=W:\\old\\\r\nInstallPath=C:\\Image\r\nBootInstaller=0\r\n";

TEST(DownloadSettingSave, WhatTheFileHoldsAfterEachMode) {
  struct Case {
    const char* name;
    int mode;
    const char* useProxy;
    const char* server;
    const char* user;
    bool passwordStored;
  };
  const Case cases[] = {
      {"system settings", kProxySystem, "1", "", kAbsent, false},
      {"no proxy", kProxyNone, "0", "proxy:8080", kAbsent, false},
      {"named proxy", kProxyNamed, "1", "proxy:8080", "user", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SettingsFile f(kFullFile);
    CBinaryDownloadSetting s;
    s.m_nProxyMode = c.mode;
    s.m_strProxyServer = "proxy:8080";
    s.m_strProxyUser = "user";
    s.m_strProxyPassword = "pass word";
    s.Save(f.ini);
    EXPECT_EQ(f.Get(kKeyUseProxy), c.useProxy);
    EXPECT_EQ(f.Get(kKeyProxyServer), c.server);
    EXPECT_EQ(f.Get(kKeyProxyUser), c.user);
    const std::string stored = f.Get(kKeyProxyPasswd);
    if (c.passwordStored) {
      std::string plain;
      ASSERT_TRUE(DecodePassword(stored, kPasswordKey, plain));
      EXPECT_STREQ(plain.c_str(), "pass word");
    } else {
      EXPECT_EQ(stored, kAbsent);
    }
    EXPECT_EQ(f.Get(kKeyDownloadPath), kAbsent);  // empty path: key deleted
    // Keys of the pages are not the record's business.
    EXPECT_EQ(f.Get(kKeyInstallPath), "C:\\Image");
    EXPECT_EQ(f.Get(kKeyBootInstaller), "0");
  }
}

TEST(DownloadSettingSave, EmptyPasswordDeletesTheKey) {
  SettingsFile f(kFullFile);
  CBinaryDownloadSetting s;
  s.Set(true, false, "proxy", 8080, "user", "");
  s.Save(f.ini);
  EXPECT_EQ(f.Get(kKeyProxyUser), "user");
  EXPECT_EQ(f.Get(kKeyProxyPasswd), kAbsent);
}

TEST(DownloadSettingSave, DownloadPathIsStoredValidatedOrDeleted) {
  SettingsFile f(kFullFile);
  ASSERT_TRUE(plat::MakeDirectory(f.dir / "dl"));
  struct Case {
    std::string path;
    std::string stored;
  };
  const Case cases[] = {
      {f.dir / "dl", f.dir / "dl\\"},
      {f.dir / "dl\\", f.dir / "dl\\"},
      {f.dir / "missing", kAbsent},
      {"", kAbsent},
  };
  for (const Case& c : cases) {
    CBinaryDownloadSetting s;
    s.m_strDownloadPath = c.path;
    s.Save(f.ini);
    EXPECT_EQ(f.Get(kKeyDownloadPath), c.stored) << c.path;
  }
}

TEST(DownloadSettingSave, SaveThenLoadGivesTheSameRecord) {
  SettingsFile f;
  ASSERT_TRUE(plat::MakeDirectory(f.dir / "dl"));
  CBinaryDownloadSetting saved;
  saved.Set(true, false, "proxy.example", 3128, "\x83\x86\x81[\x83U", "p\x95\x5cw");  // CP932 user and password
  saved.m_strDownloadPath = f.dir / "dl\\";
  saved.Save(f.ini);
  CBinaryDownloadSetting loaded;
  loaded.Load(f.ini);
  EXPECT_EQ(loaded.m_nProxyMode, kProxyNamed);
  EXPECT_EQ(loaded.m_strProxyServer, "proxy.example:3128");
  EXPECT_EQ(loaded.m_strProxyUser, saved.m_strProxyUser);
  EXPECT_EQ(loaded.m_strProxyPassword, saved.m_strProxyPassword);
  EXPECT_EQ(loaded.m_strDownloadPath, saved.m_strDownloadPath);
}

TEST(DownloadSettingSave, NamedProxyWithEmptyHostComesBackAsColonAndPort) {
  SettingsFile f;
  CBinaryDownloadSetting s;
  s.Set(true, false, "", 8080, "", "");
  EXPECT_EQ(s.m_strProxyServer, ":8080");
  s.Save(f.ini);
  EXPECT_EQ(f.Get(kKeyProxyServer), ":8080");
  CBinaryDownloadSetting loaded;
  loaded.Load(f.ini);
  EXPECT_EQ(loaded.m_nProxyMode, kProxyNamed);
  std::string host = "x";
  int port = 0;
  loaded.GetProxyHostPort(host, port);
  EXPECT_EQ(host, "");
  EXPECT_EQ(port, 8080);
}

// ---------------------------------------------------------------------------
// Download settings: the dialog's result and the proxy address

TEST(DownloadSetting, SetTakesTheDialogResult) {
  struct Case {
    bool useProxy, useSystem;
    const char* host;
    unsigned port;
    int mode;
    const char* server;
    const char* user;
    const char* password;
  };
  const Case cases[] = {
      {false, false, "host", 80, kProxyNone, "", "", ""},
      {false, true, nullptr, 80, kProxyNone, "", "", ""},
      {true, true, "host", 80, kProxySystem, "", "u", "p"},
      {true, false, nullptr, 80, kProxySystem, "", "u", "p"},
      {true, false, "host", 8080, kProxyNamed, "host:8080", "u", "p"},
      {true, false, "", 0, kProxyNamed, ":0", "u", "p"},
      {true, false, "h", 65535, kProxyNamed, "h:65535", "u", "p"},
  };
  for (const Case& c : cases) {
    CBinaryDownloadSetting s;
    s.m_strProxyServer = "stale:1";
    s.Set(c.useProxy, c.useSystem, c.host, c.port, "u", "p");
    EXPECT_EQ(s.m_nProxyMode, c.mode);
    EXPECT_EQ(s.m_strProxyServer, c.server);
    EXPECT_EQ(s.m_strProxyUser, c.user);
    EXPECT_EQ(s.m_strProxyPassword, c.password);
  }
}

TEST(DownloadSetting, ProxyHostAndPort) {
  struct Case {
    const char* server;
    const char* host;
    int port;
  };
  const Case cases[] = {
      {"", "", 80},
      {"proxy", "proxy", 80},
      {"proxy:", "proxy", 80},
      {"proxy:8080", "proxy", 8080},
      {"proxy:abc", "proxy", 0},
      {":3128", "", 3128},
      {"proxy:8080:x", "proxy", 8080},
      {"proxy:99999999999", "proxy", 2147483647},  // saturates rather than overflows
  };
  for (const Case& c : cases) {
    CBinaryDownloadSetting s;
    s.m_strProxyServer = c.server;
    std::string host = "stale";
    int port = -1;
    s.GetProxyHostPort(host, port);
    EXPECT_EQ(host, c.host) << c.server;
    EXPECT_EQ(port, c.port) << c.server;
  }
}

// ---------------------------------------------------------------------------
// Download folder

TEST(TransferSetting, StoredValuesInRangeOrTheDefaults) {
  struct Case {
    const char* contents;
    unsigned connections;
    unsigned limit;
  } cases[] = {
      {"", 4, 0},
      {"[Main]\r\nConnections=8\r\nSpeedLimit=512\r\n", 8, 512},
      {"[Main]\r\nConnections=1\r\nSpeedLimit=1000000\r\n", 1, 1000000},
      {"[Main]\r\nConnections=0\r\nSpeedLimit=1000001\r\n", 4, 0},
      {"[Main]\r\nConnections=9\r\nSpeedLimit=-5\r\n", 4, 0},
      {"[Main]\r\nConnections=many\r\nSpeedLimit=fast\r\n", 4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.contents);
    SettingsFile f(c.contents);
    CTransferSetting transfer;
    transfer.Load(f.ini);
    EXPECT_EQ(transfer.nConnections, c.connections);
    EXPECT_EQ(transfer.nSpeedLimit, c.limit);
  }
  SettingsFile f;
  CTransferSetting transfer;
  transfer.nConnections = 2;
  transfer.nSpeedLimit = 300;
  transfer.Save(f.ini);
  CTransferSetting back;
  back.Load(f.ini);
  EXPECT_EQ(back.nConnections, 2u);
  EXPECT_EQ(back.nSpeedLimit, 300u);
}

TEST(DownloadFolder, ValidateAcceptsExistingFoldersAndRootsOnly) {
  ScratchFolder dir;
  ASSERT_TRUE(plat::MakeDirectory(dir / "Work"));
  ASSERT_TRUE(WriteWholeFile(dir / "file.bin", "x"));
  // "表" ends with the byte 5C, which is not a backslash.
  const std::string hyou = "\x95\x5c";
  ASSERT_TRUE(plat::MakeDirectory(dir / hyou));
  const std::string root = ScratchRoot();
  struct Case {
    std::string path;
    bool ok;
    std::string folder;
  };
  const Case cases[] = {
      {dir / "Work", true, dir / "Work\\"},
      {dir / "Work\\", true, dir / "Work\\"},
      {dir / "Work\\\\", true, dir / "Work\\"},  // never two backslashes at the end
      {dir / hyou, true, dir / (hyou + "\\")},
      {dir / (hyou + "\\"), true, dir / (hyou + "\\")},
      {root, true, root},
      {dir / "missing", false, ""},
      {dir / "missing\\", false, ""},
      {dir / "file.bin", false, ""},
      {"relative\\folder", false, ""},
      {"", false, ""},
  };
  for (const Case& c : cases) {
    std::string folder = "untouched";
    EXPECT_EQ(ValidateDownloadFolder(c.path, folder), c.ok) << c.path;
    if (c.ok) {
      EXPECT_EQ(folder, c.folder) << c.path;
    }
  }
}

TEST(DownloadFolder, SetDownloadPath) {
  ScratchFolder dir;
  ASSERT_TRUE(plat::MakeDirectory(dir / "dl"));
  CBinaryDownloadSetting s;
  s.m_strDownloadPath = "old";
  EXPECT_TRUE(s.SetDownloadPath(true, (dir / "dl").c_str()));
  EXPECT_EQ(s.m_strDownloadPath, "");
  s.m_strDownloadPath = "old";
  EXPECT_TRUE(s.SetDownloadPath(false, nullptr));
  EXPECT_EQ(s.m_strDownloadPath, "");
  EXPECT_TRUE(s.SetDownloadPath(false, (dir / "dl").c_str()));
  EXPECT_EQ(s.m_strDownloadPath, dir / "dl\\");
  EXPECT_FALSE(s.SetDownloadPath(false, (dir / "none").c_str()));
  EXPECT_EQ(s.m_strDownloadPath, "");
}

TEST(DownloadFolder, GetDownloadFolderFallsBackToTheTemporaryFolder) {
  ScratchFolder dir;
  ASSERT_TRUE(plat::MakeDirectory(dir / "dl"));
  const std::string temp = plat::GetTempFolder();
  ASSERT_EQ(temp.back(), '\\');
  struct Case {
    std::string stored;
    bool ok;
    std::string folder;
  };
  const Case cases[] = {
      {"", false, temp},
      {dir / "dl", true, dir / "dl\\"},
      {dir / "gone\\", false, temp},
  };
  for (const Case& c : cases) {
    CBinaryDownloadSetting s;
    s.m_strDownloadPath = c.stored;
    std::string folder;
    EXPECT_EQ(s.GetDownloadFolder(folder), c.ok) << c.stored;
    EXPECT_EQ(folder, c.folder) << c.stored;
  }
}

// ---------------------------------------------------------------------------
// Server address

TEST(ServerAddress, ParsesTheProfileValue) {
  struct Case {
    const char* value;
    const char* host;
    int port;
  };
  const Case cases[] = {
      {"", "localhost", 9070},
      {"  \t ", "localhost", 9070},
      {"files.example", "files.example", 9070},
      {"  files.example  ", "files.example", 9070},
      {"host:1234", "host", 1234},
      {"host :1234", "host", 1234},
      {"host:1234:extra", "host", 1234},
      {"host:", "host", 9070},
      {"host::x", "host", 9070},
      {":1234", ":1234", 9070},
      {"host:abc", "host", 0},
      {"host: 81", "host", 81},
  };
  for (const Case& c : cases) {
    std::string host = "stale";
    int port = -1;
    ParseServerAddress(c.value, host, port);
    EXPECT_EQ(host, c.host) << '"' << c.value << '"';
    EXPECT_EQ(port, c.port) << '"' << c.value << '"';
  }
}

// Sets or removes the "Server" value where this system's profile keeps it.
void SetServerValue(const char* value) {
#ifdef _WIN32
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Quillmere\\Marlo\\Login", 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
            ERROR_SUCCESS);
  if (value)
    ::RegSetValueExA(key, "Server", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                     static_cast<DWORD>(std::strlen(value) + 1));
  else
    ::RegDeleteValueA(key, "Server");
  ::RegCloseKey(key);
#else
  if (value)
    ::setenv("WREN_LOGIN_SERVER", value, 1);
  else
    ::unsetenv("WREN_LOGIN_SERVER");
#endif
}

TEST(ServerAddress, ReadsTheProfileValue) {
  std::string host;
  int port = 0;
  SetServerValue(nullptr);
  GetServerAddress(host, port);
  EXPECT_EQ(host, "localhost");
  EXPECT_EQ(port, 9070);
  SetServerValue(" files.example:4321 ");
  GetServerAddress(host, port);
  EXPECT_EQ(host, "files.example");
  EXPECT_EQ(port, 4321);
  SetServerValue("");
  GetServerAddress(host, port);
  EXPECT_EQ(host, "localhost");
  EXPECT_EQ(port, 9070);
  SetServerValue(nullptr);
}

TEST(DefaultInstallPath, IsBesideTheProgram) {
  const std::string path = GetDefaultInstallPath();
  const std::string suffix = "\\MarloInstaller";
  ASSERT_GT(path.size(), suffix.size());
  EXPECT_EQ(path.substr(path.size() - suffix.size()), suffix);
  EXPECT_NE(path.find("settings"), std::string::npos);  // the test's own build folder
}

// ---------------------------------------------------------------------------
// Drive types: real drives of the test prefix (R: CD-ROM, S: removable,
// T: network, W: not mapped).

#ifdef _WIN32
TEST(DriveTypes, ClassifiesTheDrivesOfThePrefix) {
  struct Case {
    const char* path;
    unsigned type;
  };
  const Case cases[] = {
      {"C:\\", plat::kDriveFixed},          {"c:\\windows", plat::kDriveFixed},
      {"R:\\", plat::kDriveCdrom},          {"R:\\folder", plat::kDriveCdrom},
      {"S:\\x\\y", plat::kDriveRemovable},  {"T:\\", plat::kDriveRemote},
      {"W:\\Work", plat::kDriveNoRootDir},  {"\\\\server\\share\\dl", plat::kDriveRemote},
      {"relative", plat::kDriveNoRootDir},
  };
  for (const Case& c : cases) EXPECT_EQ(GetPathDriveType(c.path), c.type) << c.path;
}

TEST(DriveTypes, OnlyFixedDrivesTakeADownloadFolder) {
  // Folders that exist, on every kind of drive.
  for (const char* letter : {"R", "S", "T"}) {
    const std::string folder = std::string(letter) + ":\\dl";
    ::CreateDirectoryA(folder.c_str(), nullptr);  // may fail on the CD-ROM; the root exists anyway
  }
  const char* rejected[] = {"R:\\", "R:\\dl", "S:\\", "S:\\dl\\", "T:\\", "T:\\dl", "W:\\", "\\\\server\\share\\"};
  for (const char* path : rejected) {
    std::string folder = "untouched";
    EXPECT_FALSE(ValidateDownloadFolder(path, folder)) << path;
  }
  std::string folder;
  EXPECT_TRUE(ValidateDownloadFolder("c:\\", folder));
  EXPECT_EQ(folder, "c:\\");
  EXPECT_TRUE(ValidateDownloadFolder("C:\\windows", folder));
  EXPECT_EQ(folder, "C:\\windows\\");
}

TEST(DriveTypes, NetworkNeighbourhoodCountsAsRemote) {
  char nethood[MAX_PATH] = {};
  ASSERT_TRUE(::SHGetSpecialFolderPathA(nullptr, nethood, CSIDL_NETHOOD, TRUE));
  const std::string inside = std::string(nethood) + "\\Place";
  ::CreateDirectoryA(inside.c_str(), nullptr);
  std::string lower = inside;
  for (char& c : lower) c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(GetPathDriveType(nethood), plat::kDriveRemote);
  EXPECT_EQ(GetPathDriveType(inside), plat::kDriveRemote);
  EXPECT_EQ(GetPathDriveType(lower), plat::kDriveRemote);
  std::string folder;
  EXPECT_FALSE(ValidateDownloadFolder(inside, folder));
  // Its parent is an ordinary folder.
  std::string parent = nethood;
  parent.resize(parent.rfind('\\'));
  EXPECT_EQ(GetPathDriveType(parent), plat::kDriveFixed);
  ::RemoveDirectoryA(inside.c_str());
}
#endif

// ---------------------------------------------------------------------------
// The publisher's accepted serial

TEST(AcceptedPublication, ReadsOnlyNumbersAndOnlyEverRises) {
  const struct {
    const char* stored;
    uint64_t read;
  } cases[] = {
      {"", 0},
      {"[Main]\r\nPublicationSerial=1765400000\r\n", 1765400000},
      {"[Main]\r\nPublicationSerial=18446744073709551615\r\n", UINT64_MAX},
      {"[Main]\r\nPublicationSerial=18446744073709551616\r\n", 0},  // out of range
      {"[Main]\r\nPublicationSerial=-5\r\n", 0},
      {"[Main]\r\nPublicationSerial=12ab\r\n", 0},
  };
  for (const auto& c : cases) {
    SettingsFile f(c.stored);
    EXPECT_EQ(c.read, GetAcceptedPublication(f.ini)) << c.stored;
  }

  SettingsFile f;
  KeepAcceptedPublication(f.ini, 200);
  EXPECT_EQ("200", f.Get(kKeyPublicationSerial));
  KeepAcceptedPublication(f.ini, 100);  // an older one never lowers it
  EXPECT_EQ(200u, GetAcceptedPublication(f.ini));
  KeepAcceptedPublication(f.ini, 300);
  EXPECT_EQ(300u, GetAcceptedPublication(f.ini));
}

}  // namespace
