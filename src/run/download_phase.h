// The download phase of a build run: for one download request of the engine,
// every part that is not yet in the download folder is fetched, one attempt
// at a time, and checked by size and CRC-32; what goes wrong becomes a
// question to the user and, in the end, one reply to the engine.
//
// This class holds the rules and the counters; the install page supplies the
// HTTP session with its wait loop, the retry dialog and the display.
#pragma once

#include <cstdint>
#include <string>

#include "install/http_transfer.h"

struct CUpdateNotify;

// Strings of the download phase.
enum : unsigned {
  IDS_DOWNLOAD_BAD_FILE = 11102,
  IDS_DOWNLOAD_UNREADABLE = 11103,
  IDS_DOWNLOAD_NO_CONNECTION = 11104,
  IDS_DOWNLOAD_TRANSFER_ERROR = 11105,
  IDS_DOWNLOAD_TIMEOUT = 11106,
  IDS_DOWNLOAD_CANNOT_CREATE = 11110,
};

// Outcomes of one part (DownloadPart) and of one attempt (DownloadAttempt).
enum : int {
  PART_OK = 0,
  PART_RETRY = 1,           // Retry after a connection or transfer error
  PART_RELOAD = 2,          // download again after a size or CRC mismatch
  PART_NOT_RUN = 3,         // no start, window gone, or an unknown session code
  PART_BAD_SIZE = 4,        // size mismatch, declined
  PART_BAD_CRC = 5,         // CRC mismatch or unreadable, declined
  PART_STALLED = 12,        // no data for too long, declined
  PART_CANCELLED = 13,      // the user cancelled; the partial file is gone
  PART_REQUEST_ERROR = 14,  // the request could not be sent, declined
  PART_SILENT = 15,         // nothing arrived for a minute: connect again at once
};

// Replies to the engine for a failed request.
enum : int {
  REPLY_DOWNLOAD_FAILED = -296,
  REPLY_DOWNLOAD_CANCELLED = -286,
  REPLY_DOWNLOAD_GAVE_UP = -285,
  REPLY_DOWNLOAD_REQUEST_ERROR = -284,
};

// Session results the phase sees (the session's own codes, plus the stall).
inline constexpr int kHttpRunning = -1;
inline constexpr int kHttpStalled = -2;
inline constexpr int kHttpTooLong = 12;  // the body was longer than it can be
inline constexpr int kHttpSilent = -3;   // nothing arrived for kSilenceLimitMs
// Attempts per part, the first one included.
inline constexpr int kMaxPartAttempts = 9;
// Attempts for the publisher's manifest.
inline constexpr int kMaxManifestAttempts = 3;
// No data for this long after the transfer started ends the attempt.
inline constexpr uint32_t kDefaultStallLimitMs = 30 * 60 * 1000;
// A transfer that receives nothing for this long is on a dead connection (a
// NAT or proxy dropped it silently): it is connected again at once, asking for
// the rest, without a question; the stall limit runs on across such attempts.
inline constexpr uint32_t kSilenceLimitMs = 60 * 1000;

// "http:/" + base + remote name: the base starts with the second '/' of the URL.
std::string PartUrl(const char* base, const std::string& remoteName);
// The URL's text after its last '/', all of it without one.
std::string DownloadNameOf(const std::string& url);
// The reply to the engine for a DownloadPart code other than 0.
int DownloadReplyOf(int partCode, int partExtra, int* replyExtra);
// True when the part file is there with the expected size and CRC-32.
bool IsPartComplete(const std::string& path, uint32_t size, uint32_t crc);

class CDownloadPhase {
 public:
  virtual ~CDownloadPhase() = default;

  // Notification kind 10. true with *reply and *replyExtra when the request
  // failed; false when every part is in place (the engine then goes on).
  bool DownloadRequest(const CUpdateNotify& request, int* reply, int* replyExtra);
  // reload: the first attempt already asks past caches (an earlier copy was bad).
  int DownloadPart(const std::string& url, const std::string& path, uint32_t size, uint32_t crc, int* extra,
                   bool reload = false);
  // Notification kind 13: the publisher's manifest into the download folder,
  // always past caches, a few attempts without asking. 0, or the reply for the
  // engine: -170 with *extra the last attempt's HTTP status or error, or -286
  // when the user cancelled.
  int FetchManifest(const CUpdateNotify& request, int* extra);
  int DownloadAttempt(const std::string& url, const std::string& path, uint32_t size, uint32_t crc, bool reload,
                      int* extra);
  // The session's report (message 0x8301): code = low word of wParam, the
  // attempt's serial = its high word. Reports of an attempt that has ended
  // (or of none) are dropped.
  void OnHttpMessage(uintptr_t wParam, uint32_t lParam);
  // The serial for a new transfer (1 to 0xFFFF, round and round).
  uint16_t NextSerial();
  void OnHttpNotify(int code, uint32_t value);

  // Display counters.
  uint32_t m_dwFileTotal = 0;
  uint32_t m_dwFileDone = 0;
  uint32_t m_dwFileHigh = 0;
  uint64_t m_qwPhaseTotal = 0;
  uint64_t m_qwPhaseDone = 0;
  uint64_t m_qwMeasuredBytes = 0;
  uint64_t m_qwMeasuredMs = 0;
  uint32_t m_dwEstimateTick = 0;
  std::string m_strDownloadName;

  // State of the running attempt.
  int m_nHttpResult = kHttpRunning;
  int m_nHttpExtra = 0;
  bool m_bStarted = false;
  uint32_t m_dwLastDataTick = 0;
  bool m_bCancelRequested = false;
  uint32_t m_dwStallLimit = kDefaultStallLimitMs;
  // What the next attempt keeps of the part file, and what the running one kept.
  uint32_t m_dwResumeFrom = 0;
  uint32_t m_dwResumedAt = 0;
  // Since when the part has had no new data (runs on across reconnects).
  uint32_t m_dwStallSince = 0;
  bool m_bKeepStallClock = false;
  // Serial of the running attempt (1 to 0xFFFF), 0 while none runs.
  uint16_t m_wAttemptSerial = 0;
  uint16_t m_wLastSerial = 0;

 protected:
  // What one attempt's wait loop has decided on its own.
  struct CAttemptWatch {
    bool bCancelled = false;
    bool bTimedOut = false;
    bool bSilent = false;
  };
  // Returned by RunSession when the attempt never ran to a session result.
  static constexpr int kSessionNotRun = -1000;

  // Starts a session for url into path, tagged with m_wAttemptSerial, and
  // waits for its end, calling CheckAbort once per pass of its wait loop and
  // leaving the loop at once when it asks for the abort (a stalled read must
  // not hold the stop up); returns SessionResult, or kSessionNotRun with
  // *extra set (-1 no start, -2 the page went away).
  // request: its URL, file, whether past caches, the most its body can have
  // (a longer one ends the session with kHttpTooLong) and the bytes of the
  // file to keep (asked for the rest); its serial and where its reports go
  // are the implementation's.
  virtual int RunSession(const CTransferRequest& request, int* extra) = 0;
  // The retry dialog: true for Retry.
  virtual bool AskRetry(const std::string& text) = 0;
  virtual uint32_t Now() const;
  virtual void SetWaitCursor(bool /*on*/) {}
  virtual void EnableCancel(bool /*enable*/) {}

  virtual void ShowFileProgress() {}
  virtual void ShowPhaseBytes() {}
  virtual void ShowRemainingParts(int /*remaining*/, int /*count*/) {}
  virtual void ShowEstimate(bool /*includeCurrent*/) {}
  virtual void ShowDownloadActivity() {}

  // One pass of a wait loop: true when the session must be aborted now (a
  // confirmed cancel, or no data for longer than the stall limit).
  bool CheckAbort(CAttemptWatch& watch);
  // The attempt's result once its session has stopped.
  int SessionResult(const CAttemptWatch& watch) const;
  // The remaining-time text's byte count.
  uint64_t RemainingBytes(bool includeCurrent) const;

 private:
  // Starts one attempt's session with a new serial and waits for its end:
  // RunSession's result.
  int RunAttempt(const std::string& url, const std::string& path, uint32_t size, uint32_t maxBytes, bool reload,
                 int* extra);
  // The bytes of a part file that broke off part-way, to be kept; 0 for none.
  static uint32_t PartialSize(const std::string& path, uint32_t size);
  // Adds a received count (codes 0 and 2) to the file display and the rate.
  void TakeReceivedCount(uint32_t value);
  // Checks a finished download; 0, PART_RELOAD, PART_BAD_SIZE or PART_BAD_CRC.
  int VerifyPart(const std::string& path, uint32_t size, uint32_t crc, int* extra);
};
