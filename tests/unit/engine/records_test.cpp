// The notification records and their queue: fixed-size texts are cut, not
// overrun, and the hand-over event holds a waiting worker until the queue is
// released.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/records.h"

namespace {

TEST(UpdateNotify, TextsAreCutToTheirFields) {
  CUpdateNotify n;
  const std::string longText(400, 'a');
  n.SetText(longText.c_str());
  EXPECT_EQ(std::string(259, 'a'), n.m_szText);
  n.SetText("short");
  EXPECT_STREQ("short", n.m_szText);
  EXPECT_EQ('\0', n.m_szText[6]);  // nothing left of the longer text
  n.SetText(nullptr);
  EXPECT_STREQ("", n.m_szText);

  CDiskSpaceInfo info;
  EXPECT_FALSE(info.InUse());
  info.Set(std::string(300, 'r'), 1, 2);
  EXPECT_TRUE(info.InUse());
  EXPECT_EQ(std::string(255, 'r'), info.m_szRoot);
}

TEST(UpdateNotifyList, AddResetsAndReleaseAllSetsTheEvent) {
  CUpdateNotifyList list;
  EXPECT_TRUE(list.m_event.Wait(0));  // created signalled
  ASSERT_TRUE(list.Add(new CUpdateNotify));
  ASSERT_TRUE(list.Add(new CUpdateNotify));
  EXPECT_FALSE(list.m_event.Wait(0));
  EXPECT_EQ(2u, list.GetCount());
  list.ReleaseAll();
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_TRUE(list.m_event.Wait(0));
}

TEST(UpdateNotifyList, ReleaseAllLetsAWaiterGo) {
  CUpdateNotifyList list;
  ASSERT_TRUE(list.Add(new CUpdateNotify));
  std::atomic<bool> released{false};
  std::thread waiter([&] {
    list.m_event.Wait(plat::ManualResetEvent::kInfinite);
    released = true;
  });
  {
    plat::Lock lock(EngineSharedLock());
    EXPECT_FALSE(released);  // nothing sets the event but ReleaseAll
    list.ReleaseAll();
  }
  waiter.join();
  EXPECT_TRUE(released);
}

}  // namespace
