#include "run/run_texts.h"

#include "common/format_size.h"
#include "platform/mbcs.h"
#include "common/strings.h"
#include "engine/records.h"
#include "framework/msgbox.h"
#include "run/run_observer.h"

int NextStatusDots(int dots) { return dots >= kMaxStatusDots ? 0 : dots + 1; }

std::string StatusLabelText(const std::string& text, const std::string& item, bool alwaysItem, int dots) {
  std::string label = text;
  if (!item.empty() || alwaysItem) {
    label += item;
    label += ' ';
    label.append(static_cast<size_t>(dots < 0 ? 0 : dots), '.');
  }
  return label;
}

std::string DiskSpaceQuestion(const CUpdateNotify& notify) {
  const CDiskSpaceInfo& install = notify.m_install;
  const CDiskSpaceInfo& download = notify.m_download;
  if (install.InUse() && download.InUse())
    return FormatText(LoadResString(IDS_DISK_BOTH_SHORT).c_str(), install.m_szRoot,
                      FormatSize(install.m_qwNeeded).c_str(), FormatSize(install.m_qwAvailable).c_str(),
                      download.m_szRoot, FormatSize(download.m_qwNeeded).c_str(),
                      FormatSize(download.m_qwAvailable).c_str());
  if (install.InUse())
    return FormatText(LoadResString(IDS_DISK_INSTALL_SHORT).c_str(), install.m_szRoot,
                      FormatSize(install.m_qwNeeded).c_str(), FormatSize(install.m_qwAvailable).c_str());
  return FormatText(LoadResString(IDS_DISK_DOWNLOAD_SHORT).c_str(), download.m_szRoot,
                    FormatSize(download.m_qwNeeded).c_str(), FormatSize(download.m_qwAvailable).c_str());
}

bool AskCheckRetry(IRunAnswers& ask, const CUpdateNotify& notify, int* reply) {
  const std::string text = FormatText(LoadResString(IDS_CHECK_ERROR).c_str(), notify.m_nValue, notify.m_nExtra);
  *reply = ask.Ask(text, MB_RETRYCANCEL | MB_ICONEXCLAMATION) == IDRETRY ? REPLY_CHECK_RETRY : REPLY_CHECK_CANCELLED;
  return true;
}

bool AskDiskSpace(IRunAnswers& ask, const CUpdateNotify& notify, int* reply) {
  if (ask.Ask(DiskSpaceQuestion(notify), MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2) == IDYES) return false;
  *reply = REPLY_DISK_DECLINED;
  return true;
}

bool AskInstallRetry(IRunAnswers& ask, const CUpdateNotify& notify, int* reply) {
  *reply = REPLY_INSTALL_RETRY;
  if (notify.m_szText[0] == '\0') return true;
  const std::string text = FormatText(LoadResString(InstallErrorStringId(notify.m_nValue)).c_str(), notify.m_nValue,
                                      notify.m_nExtra, notify.m_szText);
  if (ask.Ask(text, MB_RETRYCANCEL | MB_ICONEXCLAMATION) != IDRETRY) *reply = REPLY_INSTALL_CANCELLED;
  return true;
}

unsigned InstallErrorStringId(int value) {
  switch (value) {
    case -400: case -399: case -398: case -394: case -392:
    case -390: case -386: case -384: case -382: case -375:
      return 11004;
    case -391: case -383:
      return 11005;
    case -397: case -395: case -389: case -387: case -381: case -379: case -374: case -372:
      return 11006;
    case -396: case -388: case -380: case -373:
      return 11007;
    case -393: case -385: case -371: case -370: case -369:
      return 11008;
    case -378: return 11009;
    case -377: return 11010;
    case -376: return 11011;
    default: return IDS_INSTALL_ERROR_OTHER;
  }
}

std::string FileNameOfPath(const std::string& path) {
  const size_t last = mbcs::FindLastChar(path, '\\');
  return last == std::string::npos ? path : path.substr(last + 1);
}
