// The starter's command line: the wizard by default, or an unattended build
// (/quiet: no window; /passive: the install page only) with options that
// override the stored settings for that run.
#pragma once

#include <string>
#include <vector>

enum class RunMode { Wizard, Quiet, Passive };
enum class ProxyChoice { Stored, None, System, Named };

struct CCommandLine {
  RunMode mode = RunMode::Wizard;
  bool bHelp = false;   // /?
  bool bSave = false;   // keep the overrides as the stored settings
  bool bBoot = false;   // launch the installer once the image is built
  std::string strImage;
  std::string strDownload;
  std::string strServer;  // host[:port]
  ProxyChoice proxy = ProxyChoice::Stored;
  std::string strProxyServer;  // host:port with ProxyChoice::Named
  std::string strLog;
  int nConnections = 0;  // /connections=N (1-8); 0: the stored number
  int nSpeedLimit = -1;  // /limit=KBPS (0: no cap); -1: the stored cap
  // The option that made the line unacceptable, as it was written.
  std::string strBadOption;

  bool Unattended() const { return mode != RunMode::Wizard; }
};

// The arguments of a full command line (GetCommandLineA): the program's
// name, quoted or not, is dropped.
std::string ArgumentsOf(const std::string& commandLine);
// Blank-separated words; double quotes keep blanks inside a word and are
// dropped ("/image=C:\My Games" written as /image="C:\My Games").
std::vector<std::string> SplitArguments(const std::string& arguments);
// false with strBadOption set when an option is unknown or malformed.
bool ParseCommandLine(const std::string& arguments, CCommandLine* line);
// true for "host:port" with a non-empty host without blanks and a port of
// 1-65535; with portOptional, also a bare host.
bool IsHostPort(const std::string& text, bool portOptional);
