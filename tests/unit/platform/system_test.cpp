#include "platform/system.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/message.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

TEST(PlatformSystem, TickCountAdvancesAndProcessIdIsSet) {
  uint32_t before = plat::GetTickCount();
  plat::Sleep(50);
  uint32_t elapsed = plat::GetTickCount() - before;
  EXPECT_GT(elapsed, 0u);
  EXPECT_LT(elapsed, 600000u);
  EXPECT_NE(plat::GetCurrentProcessId(), 0u);
}

TEST(PlatformSystem, ManualResetEventStaysSetUntilReset) {
  plat::ManualResetEvent event;
  EXPECT_FALSE(event.Wait(0));
  event.Set();
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(0));
  event.Reset();
  EXPECT_FALSE(event.Wait(10));
  plat::ManualResetEvent preset(true);
  EXPECT_TRUE(preset.Wait(0));
}

TEST(PlatformSystem, ThreadsHandOverThroughLockAndEvent) {
  plat::CriticalSection cs;
  plat::ManualResetEvent done;
  int counter = 0;
  constexpr int kThreads = 4, kRounds = 1000;
  std::atomic<int> finished{0};
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_TRUE(plat::StartThread([&] {
      for (int i = 0; i < kRounds; ++i) {
        plat::Lock lock(cs);
        plat::Lock again(cs);  // the lock is recursive, like a critical section
        ++counter;
      }
      if (++finished == kThreads) done.Set();
    }));
  }
  ASSERT_TRUE(done.Wait(30000));
  plat::Lock lock(cs);
  EXPECT_EQ(counter, kThreads * kRounds);
}

#ifdef _WIN32
TEST(PlatformMessage, PostReachesTheWindowQueue) {
  HWND window = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(plat::PostToWindow(window, WM_APP + 1, 7, -3));
  MSG msg;
  ASSERT_TRUE(::PeekMessageA(&msg, window, WM_APP + 1, WM_APP + 1, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_EQ(msg.lParam, -3);
  ::DestroyWindow(window);
}
#else
struct Recorder : plat::MessageReceiver {
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
  void OnPostedMessage(uint32_t m, uintptr_t w, intptr_t l) override {
    message = m;
    wParam = w;
    lParam = l;
  }
};

TEST(PlatformMessage, PostReachesTheReceiver) {
  Recorder r;
  ASSERT_TRUE(plat::PostToWindow(&r, 0x8201, 7, -3));
  EXPECT_EQ(r.message, 0x8201u);
  EXPECT_EQ(r.wParam, 7u);
  EXPECT_EQ(r.lParam, -3);
  EXPECT_FALSE(plat::PostToWindow(nullptr, 1, 0, 0));
}
#endif

}  // namespace
