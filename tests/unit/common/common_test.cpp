#include <gtest/gtest.h>

#include "common/format_size.h"
#include "common/stopwatch.h"
#include "common/strings.h"

namespace {

TEST(FormatSize, EachRangeAndItsBoundaries) {
  struct Case {
    uint64_t bytes;
    const char* text;
  } cases[] = {
      {0, "0 BYTE"},
      {1023, "1023 BYTE"},
      {1024, "1 KB"},
      {1536, "1 KB"},
      {1048575, "1023 KB"},
      {1048576, "1.00 MB"},
      {1572864, "1.50 MB"},
      {1048576 + 10 * 1024, "1.00 MB"},  // 0.0097 MB truncates, never rounds up
      {1073741823, "1023.99 MB"},
      {1073741824, "1.000 GB"},
      {1610612736, "1.500 GB"},
      {5368709120, "5.000 GB"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatSize(c.bytes), c.text) << c.bytes;
}

uint32_t g_now = 0;
uint32_t FakeTicks() { return g_now; }

TEST(TickStopwatch, CountsOnlyWhileRunningAndAcrossTheWrap) {
  g_now = 1000;
  CTickStopwatch watch(FakeTicks);
  g_now += 5000;
  EXPECT_EQ(watch.GetSeconds(), 0u);  // not started: nothing accumulates

  g_now = 0xFFFFF000u;  // 4096 ms before the counter wraps
  watch.Start();
  g_now += 3999;
  EXPECT_EQ(watch.GetSeconds(), 3u);
  g_now += 2001;  // past the wrap
  EXPECT_LT(g_now, 0x1000u);
  EXPECT_EQ(watch.GetSeconds(), 6u);

  watch.Reset();  // keeps running, starts again from now
  EXPECT_EQ(watch.GetSeconds(), 0u);
  g_now += 61001;
  EXPECT_EQ(watch.GetSeconds(), 61u);
  EXPECT_EQ(CTickStopwatch::ElapsedTicks(0xFFFFFFF0u, 0x10u), 0x20u);
}

TEST(TickStopwatch, StartKeepsWhatWasAccumulated) {
  g_now = 100;
  CTickStopwatch watch(FakeTicks);
  watch.Start();
  g_now += 2500;
  EXPECT_EQ(watch.GetSeconds(), 2u);
  watch.Start();  // the accumulated time stays
  g_now += 600;
  EXPECT_EQ(watch.GetSeconds(), 3u);
}

TEST(StringTable, KnownIdInCodePage932AndUnknownIdEmpty) {
  // The caption, as the Japanese ANSI code page encodes it.
  const std::string caption = LoadResString(57344);
  EXPECT_EQ(caption.substr(0, 2), "\x81\x77");  // 『
  EXPECT_NE(caption.find(" Ver.1.0"), std::string::npos);
  EXPECT_EQ(LoadResString(1), "");
}

}  // namespace
