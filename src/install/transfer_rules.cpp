#include "install/transfer_rules.h"

#include <algorithm>
#include <cstdio>

namespace {

// "bytes first-last/total" (total may be "*"); false for anything else.
bool ParseContentRange(const std::string& text, uint64_t* first, uint64_t* last, uint64_t* total) {
  unsigned long long a = 0, b = 0, t = 0;
  char star = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "bytes %llu-%llu/%llu%n", &a, &b, &t, &used) == 3 &&
      static_cast<size_t>(used) == text.size()) {
    *total = t;
  } else if (std::sscanf(text.c_str(), "bytes %llu-%llu/%c%n", &a, &b, &star, &used) == 3 && star == '*' &&
             static_cast<size_t>(used) == text.size()) {
    *total = 0;
  } else {
    return false;
  }
  *first = a;
  *last = b;
  return a <= b;
}

}  // namespace

RangeReply JudgeRangeReply(uint32_t status, const std::string& contentRange, uint32_t from, uint32_t size) {
  if (status == 200) return RangeReply::kFromZero;
  if (status == 416) return RangeReply::kAskAgain;
  if (status != 206) return RangeReply::kRefused;
  uint64_t first = 0, last = 0, total = 0;
  if (!ParseContentRange(contentRange, &first, &last, &total) || first != from) return RangeReply::kAskAgain;
  // The rest, and all of it: to the end of a part of the size we know.
  if (size != 0 && (total != size || last + 1 != size)) return RangeReply::kAskAgain;
  if (total != 0 && last + 1 != total) return RangeReply::kAskAgain;
  return RangeReply::kAppend;
}

// The bucket counts thousandths of a byte, so that any rate fills it exactly
// by the millisecond: rate bytes/s are rate thousandths per ms.
CRateLimit::CRateLimit(uint32_t bytesPerSecond)
    : m_qwRate(std::max<uint32_t>(bytesPerSecond, 1)),
      m_nBurst(static_cast<int64_t>(std::max<uint64_t>(m_qwRate / 4, 4096)) * 1000),
      m_nTokens(m_nBurst) {}

uint32_t CRateLimit::ReadSize(uint32_t largest) const {
  return static_cast<uint32_t>(std::clamp<uint64_t>(m_qwRate / 8, 1024, largest));
}

uint32_t CRateLimit::Take(uint32_t bytes, uint64_t nowMs) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_bStarted) {
    m_bStarted = true;
    m_qwLast = nowMs;
  }
  if (nowMs > m_qwLast) {
    const uint64_t elapsed = std::min<uint64_t>(nowMs - m_qwLast, 10000);
    m_nTokens = std::min<int64_t>(m_nBurst, m_nTokens + static_cast<int64_t>(elapsed * m_qwRate));
    m_qwLast = nowMs;
  }
  m_nTokens -= static_cast<int64_t>(bytes) * 1000;
  if (m_nTokens >= 0) return 0;
  return static_cast<uint32_t>((static_cast<uint64_t>(-m_nTokens) + m_qwRate - 1) / m_qwRate);
}
