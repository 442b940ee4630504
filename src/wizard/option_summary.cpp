#include "wizard/option_summary.h"

#include "common/strings.h"
#include "framework/msgbox.h"

std::string DownloadFolderSummary(const CBinaryDownloadSetting& setting) {
  std::string folder;
  if (setting.GetDownloadFolder(folder)) return folder;
  return LoadResString(6010);
}

std::string ProxySummary(const CBinaryDownloadSetting& setting) {
  switch (setting.m_nProxyMode) {
    case kProxyNone:
      return LoadResString(6011);
    case kProxySystem:
      return LoadResString(6012);
    case kProxyNamed: {
      std::string host;
      int port = 0;
      setting.GetProxyHostPort(host, port);
      return FormatText(LoadResString(6013).c_str(), host.c_str(), static_cast<unsigned>(port),
                        setting.m_strProxyUser.c_str());
    }
    default:
      return std::string();
  }
}
