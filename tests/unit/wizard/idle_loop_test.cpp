#include "framework/idle_loop.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr UINT kPlainMessage = WM_APP + 1;
constexpr UINT kSystemTimer = 0x0118;  // not a sign of new idle work

// A thread object that records its idle calls and the messages it pumps.
class RecordingThread : public CWinThread {
 public:
  BOOL OnIdle(LONG count) override {
    idleCounts.push_back(count);
    if (count == 2 && postAtLastPass != 0) ::PostThreadMessageA(::GetCurrentThreadId(), postAtLastPass, 0, 0);
    return count < 2;  // three passes of idle work
  }
  BOOL PumpMessage() override {
    BOOL result = CWinThread::PumpMessage();
    if (result) pumped.push_back(GetCurrentMessage().message);
    return result;
  }
  std::vector<LONG> idleCounts;
  std::vector<UINT> pumped;
  UINT postAtLastPass = 0;
};

void DrainQueue() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

bool QueueEmpty() {
  MSG msg;
  return !::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
}

void Post(UINT message) { ASSERT_TRUE(::PostThreadMessageA(::GetCurrentThreadId(), message, 0, 0)); }

TEST(IdleMessageLoop, TimerEndsTheWaitOnAnEmptyQueueAndIsGoneAfterwards) {
  DrainQueue();
  RecordingThread thread;
  CIdleMessageLoop loop(&thread);
  EXPECT_EQ(loop.Run(50), 0);
  EXPECT_EQ(thread.idleCounts, (std::vector<LONG>{0, 1, 2}));
  ASSERT_FALSE(thread.pumped.empty());
  EXPECT_EQ(thread.pumped.back(), UINT(WM_TIMER));
  // The wake-up timer was killed: nothing arrives any more.
  ::Sleep(200);
  EXPECT_TRUE(QueueEmpty());
}

TEST(IdleMessageLoop, OneRunHandlesEveryQueuedMessage) {
  DrainQueue();
  RecordingThread thread;
  CIdleMessageLoop loop(&thread);
  for (UINT i = 0; i < 3; ++i) Post(kPlainMessage + i);
  EXPECT_EQ(loop.Run(-1), 0);
  EXPECT_EQ(thread.pumped, (std::vector<UINT>{kPlainMessage, kPlainMessage + 1, kPlainMessage + 2}));
  EXPECT_TRUE(thread.idleCounts.empty());  // the queue was never empty before the pump
  EXPECT_TRUE(QueueEmpty());
}

TEST(IdleMessageLoop, QuitIsReportedAndPostedAgain) {
  DrainQueue();
  RecordingThread thread;
  CIdleMessageLoop loop(&thread);
  Post(kPlainMessage);
  ::PostQuitMessage(0);
  EXPECT_EQ(loop.Run(-1), 1);
  MSG msg;
  ASSERT_TRUE(::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, UINT(WM_QUIT));
}

TEST(IdleMessageLoop, IdleWorkWaitsForNewWorkOrResetIdle) {
  DrainQueue();
  RecordingThread thread;
  thread.postAtLastPass = kSystemTimer;  // wakes the pump without bringing new idle work
  CIdleMessageLoop loop(&thread);
  EXPECT_EQ(loop.Run(-1), 0);
  EXPECT_EQ(thread.idleCounts, (std::vector<LONG>{0, 1, 2}));

  // The idle work ran out and nothing new came: the next run does none.
  Post(kSystemTimer);
  EXPECT_EQ(loop.Run(-1), 0);
  EXPECT_EQ(thread.idleCounts.size(), 3u);

  // ResetIdle starts it again from count 0.
  loop.ResetIdle();
  thread.idleCounts.clear();
  EXPECT_EQ(loop.Run(-1), 0);
  EXPECT_EQ(thread.idleCounts, (std::vector<LONG>{0, 1, 2}));

  // So does a message that counts as new work.
  Post(kPlainMessage);
  EXPECT_EQ(loop.Run(-1), 0);
  thread.idleCounts.clear();
  EXPECT_EQ(loop.Run(-1), 0);
  EXPECT_EQ(thread.idleCounts, (std::vector<LONG>{0, 1, 2}));
}

}  // namespace
