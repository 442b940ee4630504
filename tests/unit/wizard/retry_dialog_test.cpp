#include "wizard/retry_dialog.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Tick counts handed out one per call: the start, then one per timer check.
// The counter wraps between the start and the checks.
constexpr uint32_t kStart = 0xFFFF0000u;
std::vector<uint32_t> g_ticks;
size_t g_calls = 0;

uint32_t ScriptedTicks() {
  uint32_t now = g_ticks[g_calls < g_ticks.size() ? g_calls : g_ticks.size() - 1];
  ++g_calls;
  return now;
}

TEST(RetryCancelDialog, AnswersRetryByItselfOnceTheSixtyFirstSecondHasPassed) {
  g_ticks = {kStart, kStart + 59999, kStart + 60999, kStart + 61000, kStart + 70000};
  g_calls = 0;
  CRetryCancelDialog dialog("retry?", nullptr, ScriptedTicks);
  INT_PTR answer = dialog.DoModal();
  if (answer == -1) GTEST_SKIP() << "no display for the dialog";
  EXPECT_EQ(answer, IDRETRY);
  // Start, then the checks at 59 s and 60 s went on waiting; the one at 61 s answered.
  EXPECT_EQ(g_calls, 4u);
}

}  // namespace
