// What a reply to a request for the rest of a part means, and the speed cap's
// arithmetic over a clock of the test's own.
#include <gtest/gtest.h>

#include "install/transfer_rules.h"

namespace {

TEST(RangeReplies, OnlyTheExactRestIsAppended) {
  struct Case {
    uint32_t status;
    const char* range;
    uint32_t from;
    uint32_t size;
    RangeReply reply;
  } cases[] = {
      {206, "bytes 100-199/200", 100, 200, RangeReply::kAppend},
      {206, "bytes 100-199/*", 100, 0, RangeReply::kAppend},
      {206, "bytes 100-199/200", 100, 0, RangeReply::kAppend},
      {206, "bytes 0-199/200", 100, 200, RangeReply::kAskAgain},     // from the start
      {206, "bytes 100-149/200", 100, 200, RangeReply::kAskAgain},   // not to the end
      {206, "bytes 100-199/300", 100, 200, RangeReply::kAskAgain},   // another size
      {206, "bytes 100-199/*", 100, 200, RangeReply::kAskAgain},     // a size we cannot check
      {206, "bytes 100-99/200", 100, 200, RangeReply::kAskAgain},
      {206, "", 100, 200, RangeReply::kAskAgain},
      {206, "bytes 100-199/200 and more", 100, 200, RangeReply::kAskAgain},
      {206, "items 100-199/200", 100, 200, RangeReply::kAskAgain},
      {200, "", 100, 200, RangeReply::kFromZero},
      {416, "bytes */200", 100, 200, RangeReply::kAskAgain},
      {404, "", 100, 200, RangeReply::kRefused},
      {500, "", 100, 200, RangeReply::kRefused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + " " + c.range);
    EXPECT_EQ(c.reply, JudgeRangeReply(c.status, c.range, c.from, c.size));
  }
}

// Bytes a reader gets through the cap in a given time, reading as fast as it
// is let: the rate's worth plus at most the bucket it starts with.
uint64_t BytesThrough(CRateLimit& limit, uint32_t readSize, uint64_t fromMs, uint64_t toMs, uint64_t* clock) {
  uint64_t bytes = 0;
  for (*clock = fromMs; *clock < toMs;) {
    bytes += readSize;
    *clock += limit.Take(readSize, *clock);
  }
  return bytes;
}

TEST(RateLimit, HoldsTheRateOverFiveSecondWindows) {
  for (uint32_t kbps : {1u, 64u, 500u, 20000u}) {
    SCOPED_TRACE(kbps);
    const uint32_t rate = kbps * 1024;
    CRateLimit limit(rate);
    const uint32_t read = limit.ReadSize(1024 * 1024);
    EXPECT_LE(read, std::max<uint32_t>(rate / 8, 1024));
    uint64_t clock = 0;
    BytesThrough(limit, read, 0, 1000, &clock);  // the first bucket is spent
    for (int window = 0; window < 3; ++window) {
      const uint64_t start = clock;
      const uint64_t bytes = BytesThrough(limit, read, start, start + 5000, &clock);
      const double measured = bytes * 1000.0 / static_cast<double>(clock - start);
      EXPECT_NEAR(measured, rate, rate * 0.1) << "window " << window;
    }
  }
}

TEST(RateLimit, ReadersShareOneCapAndIdleTimeIsNotSaved) {
  CRateLimit limit(100000);
  // Two readers together: each wait is the debt of both.
  EXPECT_EQ(0u, limit.Take(25000, 0));  // the bucket: a quarter of a second
  const uint32_t first = limit.Take(10000, 0);
  EXPECT_EQ(100u, first);
  EXPECT_EQ(200u, limit.Take(10000, 0));
  // An hour of idling buys one bucket, not an hour's worth.
  EXPECT_EQ(0u, limit.Take(25000, 3600 * 1000));
  EXPECT_GT(limit.Take(25000, 3600 * 1000), 0u);
}

}  // namespace
