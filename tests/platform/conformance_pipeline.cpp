// Events set and reset through EventModify, the handheld's one event call.
#include <gtest/gtest.h>

#include "platform/platform.h"

TEST(PipelineEvents, ManualResetEventFollowsEventModify) {
  HANDLE ev = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(ev, nullptr);
  EXPECT_EQ(WaitForSingleObject(ev, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(EventModify(ev, EVENT_SET));
  EXPECT_EQ(WaitForSingleObject(ev, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(ev, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(EventModify(ev, EVENT_RESET));
  EXPECT_EQ(WaitForSingleObject(ev, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(CloseHandle(ev));
}

TEST(PipelineEvents, AutoResetEventReleasesOneWait) {
  HANDLE ev = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  ASSERT_NE(ev, nullptr);
  EXPECT_EQ(WaitForSingleObject(ev, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(ev, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(CloseHandle(ev));
}
