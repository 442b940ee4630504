// The rules of a transfer that need no network: what a reply to a request
// for the rest of a part means, and the speed cap shared by all transfers.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

// What to do with the reply to "Range: bytes=from-".
enum class RangeReply {
  kAppend,   // 206 for exactly the rest: its body goes after the bytes kept
  kFromZero, // 200: the whole part, from its first byte (the kept bytes go)
  kAskAgain, // 206 for anything else, or 416: ask once more for the whole part
  kRefused,  // any other status: the transfer fails as without a range
};
// status: the reply's; contentRange: its Content-Range ("bytes 100-199/200");
// size: the whole part's size when known (0: any).
RangeReply JudgeRangeReply(uint32_t status, const std::string& contentRange, uint32_t from, uint32_t size);

// A cap on the bytes per second of every transfer together: a bucket that
// fills at the cap's rate and holds a quarter of a second of it; each read
// takes from it, and a reader waits while it is in debt.
class CRateLimit {
 public:
  explicit CRateLimit(uint32_t bytesPerSecond);
  // The most one read should ask for, so that no wait is long.
  uint32_t ReadSize(uint32_t largest) const;
  // Takes bytes read at nowMs: how many ms the reader waits before its next read.
  uint32_t Take(uint32_t bytes, uint64_t nowMs);

 private:
  std::mutex m_mutex;
  const uint64_t m_qwRate;
  const int64_t m_nBurst;  // thousandths of a byte
  int64_t m_nTokens;
  uint64_t m_qwLast = 0;
  bool m_bStarted = false;
};
