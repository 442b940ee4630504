// What the install run writes into the run log: the settings a run starts
// with, the engine's notifications as they are handled (files checked,
// downloaded and installed, with sizes), each part's download, and the
// outcome with the run's totals.
#pragma once

#include <cstdint>
#include <string>

class CBinaryDownloadSetting;
struct CTransferSetting;
struct CUpdateNotify;

// The run's settings (the proxy password is never written).
void RecordRunStart(const std::string& imageFolder, const std::string& downloadFolder,
                    const CBinaryDownloadSetting& setting, const CTransferSetting& transfer,
                    const std::string& serverHost, int serverPort, bool bootInstaller);
void RecordNotification(const CUpdateNotify& notify);
// One download attempt of a part and how it ended (a DownloadAttempt code).
// resumedAt: the bytes the attempt kept and asked for the rest of (0: none).
void RecordPartAttempt(const std::string& url, uint32_t size, int attempt, int partCode, int extra,
                       uint32_t elapsedMs, uint32_t resumedAt = 0);
// One download attempt of the publisher's manifest: the session's result
// (0 done) and its value (bytes, HTTP status or error).
void RecordManifestAttempt(const std::string& url, int attempt, int sessionResult, int value, uint32_t elapsedMs);
// The final message of the engine: type 0 success (code: files installed),
// 1 failure with code and extra, 2 no connection.
void RecordRunEnd(int type, int code, int extra);

// The run's counters (also for tests).
struct CRunTotals {
  uint32_t dwChecked = 0;
  uint32_t dwToInstall = 0;
  uint32_t dwInstalled = 0;
  uint32_t dwPartsDownloaded = 0;
  uint64_t qwBytesDownloaded = 0;
  uint64_t qwBytesToInstall = 0;
  uint32_t dwStartTick = 0;
};
const CRunTotals& RunTotals();
