#include "run/download_phase.h"

#include "platform/mbcs.h"
#include "common/run_log.h"
#include "common/stopwatch.h"
#include "common/strings.h"
#include "common/trace.h"
#include "engine/checker_core.h"
#include "engine/crc32.h"
#include "engine/records.h"
#include "run/run_record.h"
#include "framework/msgbox.h"
#include "platform/files.h"
#include "platform/system.h"
#include "trust/manifest.h"

std::string PartUrl(const char* base, const std::string& remoteName) {
  return "http:/" + std::string(base ? base : "") + remoteName;
}

std::string DownloadNameOf(const std::string& url) {
  const size_t slash = mbcs::FindLastChar(url, '/');
  return slash == std::string::npos ? url : url.substr(slash + 1);
}

int DownloadReplyOf(int partCode, int partExtra, int* replyExtra) {
  *replyExtra = 0;
  if (partCode == PART_RETRY) return REPLY_DOWNLOAD_GAVE_UP;
  if (partCode == PART_CANCELLED) return REPLY_DOWNLOAD_CANCELLED;
  if (partCode == PART_REQUEST_ERROR) {
    *replyExtra = partExtra;
    return REPLY_DOWNLOAD_REQUEST_ERROR;
  }
  if (partCode >= PART_NOT_RUN && partCode <= PART_STALLED) {
    *replyExtra = partExtra;
    return partCode - 299;
  }
  return REPLY_DOWNLOAD_FAILED;  // PART_RELOAD, or anything unknown
}

bool IsPartComplete(const std::string& path, uint32_t size, uint32_t crc) {
  plat::FileStatus status;
  if (!plat::GetFileStatus(path, &status) || (status.attributes & plat::kAttrDirectory)) return false;
  if (static_cast<uint32_t>(status.size) != size) return false;
  CCrc32 calc;
  uint32_t error = 0;
  return calc.Compute(path, &error) && calc.GetValue() == crc;
}

uint32_t CDownloadPhase::Now() const { return plat::GetTickCount(); }

bool CDownloadPhase::DownloadRequest(const CUpdateNotify& request, int* reply, int* replyExtra) {
  *reply = 0;
  *replyExtra = 0;
  if (request.m_pFile == nullptr || request.m_pszDownloadFolder == nullptr) {
    *reply = REPLY_DOWNLOAD_FAILED;
    return true;
  }
  const CCheckFile& file = *request.m_pFile;

  m_dwFileDone = 0;
  m_qwPhaseTotal = 0;
  m_qwPhaseDone = 0;
  const int count = static_cast<int>(file.m_aParts.size());
  int remaining = count;
  for (const CDLFileInfo& part : file.m_aParts) {
    m_qwPhaseTotal += part.m_dwPackedSize;
    if (part.m_wFlags & FILE_FLAG_DOWNLOADED) {
      m_qwPhaseDone += part.m_dwPackedSize;
      --remaining;
    }
  }
  m_qwMeasuredBytes = 0;
  m_qwMeasuredMs = 0;
  m_dwEstimateTick = Now();
  // A cancel confirmed while no transfer ran is not meant for this request.
  m_bCancelRequested = false;

  ShowRemainingParts(remaining, count);
  ShowPhaseBytes();
  ShowEstimate(true);

  for (const CDLFileInfo& part : file.m_aParts) {
    if (part.m_wFlags & FILE_FLAG_DOWNLOADED) continue;
    const std::string url = PartUrl(request.m_pszBaseUrl, part.m_strRemoteName);
    const std::string path = std::string(request.m_pszDownloadFolder) + part.m_strLocalName;
    int extra = 0;
    const int code =
        DownloadPart(url, path, part.m_dwPackedSize, part.m_dwPackedCrc, &extra, part.m_wFlags & FILE_FLAG_RELOAD);
    if (code != PART_OK) {
      *reply = DownloadReplyOf(code, extra, replyExtra);
      return true;
    }
    ShowRemainingParts(--remaining, count);
    m_qwPhaseDone += part.m_dwPackedSize;
    ShowFileProgress();
    ShowEstimate(false);
  }
  return false;
}

int CDownloadPhase::DownloadPart(const std::string& url, const std::string& path, uint32_t size, uint32_t crc,
                                 int* extra, bool reload) {
  *extra = 0;
  m_strDownloadName = DownloadNameOf(url);
  ShowDownloadActivity();
  m_dwFileDone = 0;
  m_dwFileHigh = 0;
  m_dwFileTotal = size;
  ShowFileProgress();

  // A part left complete by an earlier run is not fetched again.
  if (plat::FileExists(path)) {
    SetWaitCursor(true);
    const bool complete = IsPartComplete(path, size, crc);
    if (complete) {
      m_dwFileDone = m_dwFileTotal;
      ShowFileProgress();
    }
    SetWaitCursor(false);
    if (complete) {
      runlog::Writef("DOWNLOAD", "%s: already in the download folder, %u bytes", url.c_str(), size);
      return PART_OK;
    }
  }

  m_dwResumeFrom = 0;
  m_bKeepStallClock = false;
  for (int attempt = 1, failed = 0;; ++attempt) {
    const uint32_t started = Now();
    const int code = DownloadAttempt(url, path, size, crc, reload, extra);
    RecordPartAttempt(url, size, attempt, code, *extra, CTickStopwatch::ElapsedTicks(started, Now()), m_dwResumedAt);
    if (code == PART_RELOAD) reload = true;  // caches may hold the bad copy
    if (code != PART_RETRY && code != PART_RELOAD && code != PART_SILENT) return code;
    // What arrived of a transfer that broke off stays; a bad copy starts from 0.
    m_dwResumeFrom = code == PART_RELOAD ? 0 : PartialSize(path, size);
    // A reconnect after silence is no failure of its own: the stall limit bounds those.
    m_bKeepStallClock = code == PART_SILENT;
    if (code != PART_SILENT && ++failed >= kMaxPartAttempts) return PART_RETRY;
  }
}

uint32_t CDownloadPhase::PartialSize(const std::string& path, uint32_t size) {
  plat::FileStatus status;
  if (!plat::GetFileStatus(path, &status) || (status.attributes & plat::kAttrDirectory)) return 0;
  return status.size > 0 && status.size < size ? static_cast<uint32_t>(status.size) : 0;
}

int CDownloadPhase::DownloadAttempt(const std::string& url, const std::string& path, uint32_t size, uint32_t crc,
                                    bool reload, int* extra) {
  const int result = RunAttempt(url, path, size, size, reload, extra);
  if (result == kSessionNotRun) return PART_NOT_RUN;
  *extra = 0;

  switch (result) {
    case 0:
      return VerifyPart(path, size, crc, extra);
    case kHttpTooLong:
      return AskRetry(LoadResString(IDS_DOWNLOAD_BAD_FILE)) ? PART_RELOAD : PART_BAD_SIZE;
    case 4:
      if (plat::FileExists(path)) plat::RemoveFile(path);
      return PART_CANCELLED;
    case 5:
    case 6:
    case 9:
    case 11:
      if (AskRetry(FormatText(LoadResString(IDS_DOWNLOAD_NO_CONNECTION).c_str(), result, m_nHttpExtra)))
        return PART_RETRY;
      *extra = m_nHttpExtra;
      return result == 11 ? PART_REQUEST_ERROR : result + 1;
    case 7:
    case 8:
    case 10:
      if (AskRetry(FormatText(LoadResString(IDS_DOWNLOAD_TRANSFER_ERROR).c_str(), result, m_nHttpExtra)))
        return PART_RETRY;
      *extra = m_nHttpExtra;
      return result + 1;
    case kHttpStalled:
      if (AskRetry(FormatText(LoadResString(IDS_DOWNLOAD_TIMEOUT).c_str(), kHttpStalled))) return PART_RETRY;
      return PART_STALLED;
    case kHttpSilent:
      return PART_SILENT;
    default:
      return PART_NOT_RUN;
  }
}

int CDownloadPhase::RunAttempt(const std::string& url, const std::string& path, uint32_t size, uint32_t maxBytes,
                               bool reload, int* extra) {
  *extra = 0;
  m_nHttpResult = kHttpRunning;
  m_nHttpExtra = 0;
  m_bStarted = false;
  m_dwFileDone = 0;
  m_dwFileHigh = 0;
  m_dwFileTotal = size;
  ShowFileProgress();
  EnableCancel(false);

  m_wAttemptSerial = NextSerial();
  m_dwResumedAt = 0;
  if (!m_bKeepStallClock) m_dwStallSince = Now();
  CTransferRequest request;
  request.strUrl = url;
  request.strPath = path;
  request.bReload = reload;
  request.dwMaxBytes = maxBytes;
  request.dwResumeFrom = m_dwResumeFrom;
  const int result = RunSession(request, extra);
  // Whatever the ended session still says belongs to no attempt.
  m_wAttemptSerial = 0;
  return result;
}

int CDownloadPhase::FetchManifest(const CUpdateNotify& request, int* extra) {
  *extra = 0;
  if (request.m_pszDownloadFolder == nullptr) return TRUST_MANIFEST_UNAVAILABLE;
  const std::string url = PartUrl(request.m_pszBaseUrl, kManifestName);
  const std::string path = std::string(request.m_pszDownloadFolder) + request.m_szText;
  m_bCancelRequested = false;
  m_strDownloadName = DownloadNameOf(url);
  for (int attempt = 1;; ++attempt) {
    const uint32_t started = Now();
    int sessionExtra = 0;
    const int result = RunAttempt(url, path, 0, static_cast<uint32_t>(kMaxManifestBytes), true, &sessionExtra);
    const int value = result == kSessionNotRun ? sessionExtra : m_nHttpExtra;
    RecordManifestAttempt(url, attempt, result, value, CTickStopwatch::ElapsedTicks(started, Now()));
    if (result == 0) return 0;
    // A body past the cap is no manifest, however often it is fetched.
    if (result == kHttpTooLong) {
      if (plat::FileExists(path)) plat::RemoveFile(path);
      return TRUST_MANIFEST_MALFORMED;
    }
    if (result == 4) {
      if (plat::FileExists(path)) plat::RemoveFile(path);
      return REPLY_DOWNLOAD_CANCELLED;
    }
    if (result == kSessionNotRun || attempt >= kMaxManifestAttempts) {
      *extra = value;
      return TRUST_MANIFEST_UNAVAILABLE;
    }
  }
}

int CDownloadPhase::VerifyPart(const std::string& path, uint32_t size, uint32_t crc, int* extra) {
  for (;;) {
    plat::FileStatus status;
    if (plat::GetFileStatus(path, &status) && static_cast<uint32_t>(status.size) != size)
      return AskRetry(LoadResString(IDS_DOWNLOAD_BAD_FILE)) ? PART_RELOAD : PART_BAD_SIZE;

    CCrc32 calc;
    uint32_t error = 0;
    bool readable = false;
    {
      trace::Span span("part-crc");
      readable = calc.Compute(path, &error);
    }
    // A file that is gone counts as unreadable.
    if (!readable) {
      if (AskRetry(LoadResString(IDS_DOWNLOAD_UNREADABLE))) continue;
      *extra = static_cast<int>(error);
      return PART_BAD_CRC;
    }
    if (calc.GetValue() == crc) return PART_OK;
    return AskRetry(LoadResString(IDS_DOWNLOAD_BAD_FILE)) ? PART_RELOAD : PART_BAD_CRC;
  }
}

bool CDownloadPhase::CheckAbort(CAttemptWatch& watch) {
  if (watch.bCancelled || watch.bTimedOut || watch.bSilent) return false;
  if (m_bCancelRequested) {
    watch.bCancelled = true;
    return true;
  }
  const uint32_t now = Now();
  if (m_bStarted && CTickStopwatch::ElapsedTicks(m_dwStallSince, now) > m_dwStallLimit) {
    watch.bTimedOut = true;
    return true;
  }
  if (CTickStopwatch::ElapsedTicks(m_dwLastDataTick, now) > kSilenceLimitMs) {
    watch.bSilent = true;
    return true;
  }
  return false;
}

int CDownloadPhase::SessionResult(const CAttemptWatch& watch) const {
  if (watch.bCancelled) return 4;
  if (watch.bTimedOut) return kHttpStalled;
  if (watch.bSilent) return kHttpSilent;
  return m_nHttpResult;
}

uint64_t CDownloadPhase::RemainingBytes(bool includeCurrent) const {
  const uint64_t done = m_qwPhaseDone + (includeCurrent ? m_dwFileDone : 0);
  return done > m_qwPhaseTotal ? 0 : m_qwPhaseTotal - done;
}

void CDownloadPhase::TakeReceivedCount(uint32_t value) {
  if (value != m_dwFileDone) {
    m_dwFileDone = value;
    ShowFileProgress();
  }
  uint32_t delta = 0;
  if (value > m_dwFileHigh) {
    delta = value - m_dwFileHigh;
    m_dwFileHigh = value;
  }
  const uint32_t now = Now();
  uint32_t elapsed = CTickStopwatch::ElapsedTicks(m_dwLastDataTick, now);
  if (elapsed == 0 && delta != 0) elapsed = 1;
  m_qwMeasuredBytes += delta;
  m_qwMeasuredMs += elapsed;
  m_dwLastDataTick = now;
  if (delta != 0) m_dwStallSince = now;
}

uint16_t CDownloadPhase::NextSerial() {
  m_wLastSerial = static_cast<uint16_t>(m_wLastSerial % 0xFFFF + 1);
  return m_wLastSerial;
}

void CDownloadPhase::OnHttpMessage(uintptr_t wParam, uint32_t lParam) {
  const uint16_t serial = static_cast<uint16_t>((wParam >> 16) & 0xFFFF);
  if (serial == 0 || serial != m_wAttemptSerial) return;
  OnHttpNotify(static_cast<int>(wParam & 0xFFFF), lParam);
}

void CDownloadPhase::OnHttpNotify(int code, uint32_t value) {
  switch (code) {
    case 0:
      TakeReceivedCount(value);
      m_nHttpResult = 0;
      m_nHttpExtra = static_cast<int>(value);
      break;
    case 1:
      if (value != m_dwFileTotal) {
        m_dwFileTotal = value;
        ShowFileProgress();
      }
      break;
    case 2: {
      TakeReceivedCount(value);
      const uint32_t now = Now();
      if (CTickStopwatch::ElapsedTicks(m_dwEstimateTick, now) >= 1000) {
        ShowEstimate(true);
        m_dwEstimateTick = now;
      }
      break;
    }
    case 3:
      // Its value: the bytes of the file the transfer kept and goes on from.
      m_bStarted = true;
      m_dwLastDataTick = Now();
      if (!m_bKeepStallClock) m_dwStallSince = m_dwLastDataTick;
      m_dwResumedAt = value;
      if (value != 0 && value <= m_dwFileTotal) {
        m_dwFileDone = m_dwFileHigh = value;
        ShowFileProgress();
      }
      break;
    default:
      m_nHttpResult = code;
      m_nHttpExtra = static_cast<int>(value);
      break;
  }
}
