#include "run/run_record.h"

#include "settings/settings.h"
#include "common/format_size.h"
#include "common/run_log.h"
#include "common/stopwatch.h"
#include "engine/records.h"
#include "engine/result_message.h"
#include "run/download_phase.h"
#include "platform/system.h"

namespace {

CRunTotals g_totals;

const char* ProxyModeName(int mode) {
  switch (mode) {
    case kProxyNone: return "none";
    case kProxyNamed: return "named";
    default: return "system";
  }
}

const char* PartCodeName(int code) {
  switch (code) {
    case PART_OK: return "verified";
    case PART_RETRY: return "failed, retried";
    case PART_RELOAD: return "bad copy, fetched again";
    case PART_NOT_RUN: return "not run";
    case PART_BAD_SIZE: return "wrong size";
    case PART_BAD_CRC: return "wrong CRC or unreadable";
    case PART_STALLED: return "stalled";
    case PART_CANCELLED: return "cancelled";
    case PART_REQUEST_ERROR: return "request not sent";
    case PART_SILENT: return "nothing arrived for a minute, connecting again";
    default: return "failed";
  }
}

}  // namespace

const CRunTotals& RunTotals() { return g_totals; }

void RecordRunStart(const std::string& imageFolder, const std::string& downloadFolder,
                    const CBinaryDownloadSetting& setting, const CTransferSetting& transfer,
                    const std::string& serverHost, int serverPort, bool bootInstaller) {
  g_totals = CRunTotals{};
  g_totals.dwStartTick = plat::GetTickCount();
  runlog::Write("RUN", "build run starts");
  runlog::Writef("SETTING", "image folder: %s", imageFolder.c_str());
  runlog::Writef("SETTING", "download folder: %s", downloadFolder.c_str());
  runlog::Writef("SETTING", "server: %s:%d", serverHost.c_str(), serverPort);
  if (setting.m_nProxyMode == kProxyNamed)
    runlog::Writef("SETTING", "proxy: named %s, user \"%s\", password %s", setting.m_strProxyServer.c_str(),
                   setting.m_strProxyUser.c_str(), setting.m_strProxyPassword.empty() ? "none" : "given");
  else
    runlog::Writef("SETTING", "proxy: %s", ProxyModeName(setting.m_nProxyMode));
  runlog::Writef("SETTING", "downloads at once: %u", transfer.nConnections);
  if (transfer.nSpeedLimit == 0)
    runlog::Write("SETTING", "download speed limit: none");
  else
    runlog::Writef("SETTING", "download speed limit: %u KB/s", transfer.nSpeedLimit);
  runlog::Writef("SETTING", "launch installer: %s", bootInstaller ? "yes" : "no");
}

void RecordNotification(const CUpdateNotify& notify) {
  switch (notify.m_nKind) {
    case NOTIFY_CHECK_PHASE:
      if (notify.m_nValue == 0)
        runlog::Writef("LIST", "file list read; installer: %s", notify.m_szText);
      else
        runlog::Writef("CHECK", "check done: %u files checked", g_totals.dwChecked);
      break;
    case NOTIFY_CHECK_FILE:
      ++g_totals.dwChecked;
      runlog::Writef("CHECK", "%s", notify.m_szText);
      break;
    case NOTIFY_INSTALL_PHASE:
      if (notify.m_nValue == 0) {
        g_totals.dwToInstall = static_cast<uint32_t>(notify.m_nExtra) >> 16;
        runlog::Writef("INSTALL", "%u files to install", g_totals.dwToInstall);
      } else if (notify.m_nValue == 2) {
        ++g_totals.dwInstalled;
        runlog::Writef("INSTALL", "installed (%u of %u)", static_cast<unsigned>(notify.m_nExtra & 0xFFFF),
                       static_cast<unsigned>(static_cast<uint32_t>(notify.m_nExtra) >> 16));
      }
      break;
    case NOTIFY_INSTALL_FILE:
      runlog::Writef("INSTALL", "%s", notify.m_szText);
      break;
    case NOTIFY_DOWNLOAD:
      if (notify.m_pFile != nullptr) {
        const CCheckFile& file = *notify.m_pFile;
        uint64_t missing = 0;
        unsigned missingParts = 0;
        for (const CDLFileInfo& part : file.m_aParts) {
          if (part.m_wFlags & FILE_FLAG_DOWNLOADED) continue;
          missing += part.m_dwPackedSize;
          ++missingParts;
        }
        g_totals.qwBytesToInstall += file.m_dwSize;
        runlog::Writef("DOWNLOAD", "%s: %u bytes, %u parts, %u to download (%llu bytes)", file.m_strName.c_str(),
                       file.m_dwSize, static_cast<unsigned>(file.m_aParts.size()), missingParts,
                       static_cast<unsigned long long>(missing));
      }
      break;
    case NOTIFY_DISK_SPACE:
      runlog::Writef("DISK", "short: install %s needs %llu, has %llu; download %s needs %llu, has %llu",
                     notify.m_install.m_szRoot, static_cast<unsigned long long>(notify.m_install.m_qwNeeded),
                     static_cast<unsigned long long>(notify.m_install.m_qwAvailable), notify.m_download.m_szRoot,
                     static_cast<unsigned long long>(notify.m_download.m_qwNeeded),
                     static_cast<unsigned long long>(notify.m_download.m_qwAvailable));
      break;
    case NOTIFY_CHECK_ERROR:
      runlog::Writef("ERROR", "check: a file of the image cannot be read (%d:%d)", notify.m_nValue, notify.m_nExtra);
      break;
    case NOTIFY_INSTALL_ERROR:
      runlog::Writef("ERROR", "install: %s (%d:%d)", notify.m_szText, notify.m_nValue, notify.m_nExtra);
      break;
    case NOTIFY_PUBLICATION_ACCEPTED:
      runlog::Writef("TRUST", "the publisher's signature holds for the list and its %u files; publication %s",
                     static_cast<unsigned>(notify.m_nValue), notify.m_szText);
      break;
    default:
      break;
  }
}

void RecordPartAttempt(const std::string& url, uint32_t size, int attempt, int partCode, int extra,
                       uint32_t elapsedMs, uint32_t resumedAt) {
  if (resumedAt != 0)
    runlog::Writef("DOWNLOAD", "%s: attempt %d resumed at byte %u of %u", url.c_str(), attempt, resumedAt, size);
  if (partCode == PART_OK) {
    ++g_totals.dwPartsDownloaded;
    g_totals.qwBytesDownloaded += size;
  }
  runlog::Writef(partCode == PART_OK ? "DOWNLOAD" : "ERROR", "%s: attempt %d, %u bytes, %u ms: %s (%d)",
                 url.c_str(), attempt, size, elapsedMs, PartCodeName(partCode), extra);
}

void RecordManifestAttempt(const std::string& url, int attempt, int sessionResult, int value, uint32_t elapsedMs) {
  if (sessionResult == 0)
    runlog::Writef("TRUST", "%s: attempt %d, %d bytes, %u ms: downloaded", url.c_str(), attempt, value, elapsedMs);
  else
    runlog::Writef("ERROR", "%s: attempt %d, %u ms: not downloaded (session result %d, %d)", url.c_str(), attempt,
                   elapsedMs, sessionResult, value);
}

void RecordRunEnd(int type, int code, int extra) {
  std::string text;
  if (type == 0) {
    runlog::Writef("RUN", "build run ends: image complete, %d files installed", code);
  } else {
    FormatResultMessage(&text, type, code, extra);
    runlog::Writef("ERROR", "build run ends: type %d, code %d, extra %d", type, code, extra);
    runlog::Write("ERROR", text);
  }
  const uint32_t seconds = CTickStopwatch::ElapsedTicks(g_totals.dwStartTick, plat::GetTickCount()) / 1000;
  runlog::Writef("TOTALS", "%u checked, %u to install, %u installed, %u parts downloaded (%s), %u s",
                 g_totals.dwChecked, g_totals.dwToInstall, g_totals.dwInstalled, g_totals.dwPartsDownloaded,
                 FormatSize(g_totals.qwBytesDownloaded).c_str(), seconds);
}
