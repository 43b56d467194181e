// Window lifetime and lookup: destruction order, FindWindowW, timers, hot keys.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

struct Event {
  HWND hwnd;
  UINT msg;
};
std::vector<Event> gEvents;
std::vector<HWND> gWatch;  // windows whose existence is noted at each WM_DESTROY
std::vector<BOOL> gAliveDuringDestroy;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_DESTROY:
      gEvents.push_back({hwnd, msg});
      for (HWND h : gWatch) gAliveDuringDestroy.push_back(IsWindow(h));
      return 0;
    case WM_NCDESTROY:
      gEvents.push_back({hwnd, msg});
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

HWND Make(LPCWSTR cls, LPCWSTR title, HWND parent) {
  return CreateWindowExW(0, cls, title, parent ? WS_CHILD : WS_OVERLAPPED, 0, 0, 50, 50, parent, nullptr,
                         nullptr, nullptr);
}

class Windows : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = L"BrindleConfWin";
    ASSERT_NE(RegisterClassW(&wc), 0);
    gEvents.clear();
    gWatch.clear();
    gAliveDuringDestroy.clear();
  }
  void TearDown() override {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    EXPECT_TRUE(UnregisterClassW(L"BrindleConfWin", nullptr));
  }
};

TEST_F(Windows, DestroyWindowSendsDestroyParentFirstAndNcDestroyChildFirst) {
  HWND parent = Make(L"BrindleConfWin", L"parent", nullptr);
  HWND child = Make(L"BrindleConfWin", L"child", parent);
  HWND grandchild = Make(L"BrindleConfWin", L"grandchild", child);
  ASSERT_TRUE(parent && child && grandchild);
  EXPECT_EQ(GetParent(grandchild), child);
  EXPECT_TRUE(IsChild(parent, grandchild));
  gWatch = {parent, child, grandchild};
  ASSERT_TRUE(DestroyWindow(parent));
  std::vector<std::pair<HWND, UINT>> got, want = {{parent, WM_DESTROY},     {child, WM_DESTROY},
                                                  {grandchild, WM_DESTROY}, {grandchild, WM_NCDESTROY},
                                                  {child, WM_NCDESTROY},    {parent, WM_NCDESTROY}};
  for (auto& e : gEvents) got.push_back({e.hwnd, e.msg});
  EXPECT_EQ(got, want);
  // Every window of the tree still exists while any WM_DESTROY of it runs.
  ASSERT_EQ(gAliveDuringDestroy.size(), 9u);
  for (BOOL alive : gAliveDuringDestroy) EXPECT_TRUE(alive);
  EXPECT_FALSE(IsWindow(parent));
  EXPECT_FALSE(IsWindow(child));
  EXPECT_FALSE(IsWindow(grandchild));
}

TEST_F(Windows, DestroyingAChildLeavesItsParent) {
  HWND parent = Make(L"BrindleConfWin", L"parent", nullptr);
  HWND child = Make(L"BrindleConfWin", L"child", parent);
  ASSERT_TRUE(DestroyWindow(child));
  EXPECT_TRUE(IsWindow(parent));
  ASSERT_EQ(gEvents.size(), 2u);
  EXPECT_EQ(gEvents[0].hwnd, child);
  gEvents.clear();
  ASSERT_TRUE(DestroyWindow(parent));
  ASSERT_EQ(gEvents.size(), 2u);  // the parent alone now
  EXPECT_EQ(gEvents[0].hwnd, parent);
}

TEST_F(Windows, FindWindowMatchesClassAndTitleOfTopLevelWindows) {
  HWND one = Make(L"BrindleConfWin", L"One", nullptr);
  HWND two = Make(L"BrindleConfWin", L"Two", nullptr);
  HWND inner = Make(L"BrindleConfWin", L"Inner", one);
  ASSERT_TRUE(one && two && inner);
  struct Case {
    LPCWSTR cls;
    LPCWSTR title;
    HWND want;
  } cases[] = {
      {L"BrindleConfWin", L"One", one},
      {L"BrindleConfWin", L"Two", two},
      {L"brindleconfwin", L"Two", two},  // class names ignore case
      {nullptr, L"One", one},
      {L"BrindleConfWin", L"Three", nullptr},
      {L"BrindleConfWin", L"Inner", nullptr},  // child windows are not searched
      {L"NoSuchBrindleClass", nullptr, nullptr},
      {L"NoSuchBrindleClass", L"One", nullptr},
  };
  for (auto& c : cases) {
    EXPECT_EQ(FindWindowW(c.cls, c.title), c.want)
        << "class " << (c.cls ? "given" : "null") << ", case " << (&c - cases);
  }
  HWND any = FindWindowW(L"BrindleConfWin", nullptr);
  EXPECT_TRUE(any == one || any == two);
  ASSERT_TRUE(DestroyWindow(two));
  EXPECT_EQ(FindWindowW(L"BrindleConfWin", L"Two"), nullptr);
  EXPECT_EQ(FindWindowW(L"BrindleConfWin", nullptr), one);
  DestroyWindow(one);
}

TEST_F(Windows, TextAndGeometry) {
  // A pop-up: desktop Windows gives captioned windows a minimum width the handheld has not.
  HWND top = CreateWindowExW(0, L"BrindleConfWin", L"Geometry", WS_POPUP, 10, 20, 100, 50, nullptr,
                             nullptr, nullptr, nullptr);
  ASSERT_NE(top, nullptr);
  WCHAR buf[8];
  EXPECT_EQ(GetWindowTextW(top, buf, 8), 7);
  EXPECT_EQ(std::wstring(buf), L"Geometr");  // truncated to the buffer, NUL-terminated
  ASSERT_TRUE(SetWindowTextW(top, L"New"));
  EXPECT_EQ(GetWindowTextW(top, buf, 8), 3);
  EXPECT_EQ(FindWindowW(L"BrindleConfWin", L"New"), top);
  ASSERT_TRUE(MoveWindow(top, 5, 6, 70, 40, TRUE));
  RECT r;
  ASSERT_TRUE(GetWindowRect(top, &r));
  EXPECT_EQ(r.left, 5);
  EXPECT_EQ(r.top, 6);
  EXPECT_EQ(r.right - r.left, 70);
  EXPECT_EQ(r.bottom - r.top, 40);
  ASSERT_TRUE(GetClientRect(top, &r));
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  DestroyWindow(top);
}

// ---- timers -------------------------------------------------------------------

int CountTimers(HWND hwnd, UINT_PTR id) {
  int n = 0;
  MSG msg;
  while (PeekMessageW(&msg, hwnd, WM_TIMER, WM_TIMER, PM_REMOVE))
    if (msg.wParam == id) ++n;
  return n;
}

TEST_F(Windows, TimerMessagesDoNotPileUp) {
  HWND hwnd = Make(L"BrindleConfWin", L"timer", nullptr);
  ASSERT_NE(hwnd, nullptr);
  EXPECT_NE(SetTimer(hwnd, 1, 30, nullptr), 0u);
  Sleep(400);  // many periods pass without a fetch
  EXPECT_EQ(CountTimers(hwnd, 1), 1);
  EXPECT_TRUE(KillTimer(hwnd, 1));
  Sleep(100);
  EXPECT_EQ(CountTimers(hwnd, 1), 0);
  DestroyWindow(hwnd);
}

TEST_F(Windows, SetTimerOnTheSameIdReplacesIt) {
  HWND hwnd = Make(L"BrindleConfWin", L"timer", nullptr);
  ASSERT_NE(hwnd, nullptr);
  ASSERT_NE(SetTimer(hwnd, 1, 40, nullptr), 0u);
  Sleep(150);  // ripe, not fetched
  // Replacing restarts the timer with its new period; the ripe expiry is gone.
  ASSERT_NE(SetTimer(hwnd, 1, 5000, nullptr), 0u);
  EXPECT_EQ(CountTimers(hwnd, 1), 0);
  Sleep(300);
  EXPECT_EQ(CountTimers(hwnd, 1), 0);
  // And back to a short period: it fires again.
  ASSERT_NE(SetTimer(hwnd, 1, 40, nullptr), 0u);
  Sleep(150);
  EXPECT_EQ(CountTimers(hwnd, 1), 1);
  KillTimer(hwnd, 1);
  DestroyWindow(hwnd);
}

TEST_F(Windows, TimerComesAfterPostedMessages) {
  HWND hwnd = Make(L"BrindleConfWin", L"timer", nullptr);
  ASSERT_NE(hwnd, nullptr);
  ASSERT_NE(SetTimer(hwnd, 2, 30, nullptr), 0u);
  Sleep(100);
  ASSERT_TRUE(PostMessageW(hwnd, WM_APP + 1, 0, 0));
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, hwnd, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, (UINT)(WM_APP + 1));
  ASSERT_TRUE(PeekMessageW(&msg, hwnd, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, (UINT)WM_TIMER);
  EXPECT_EQ(msg.wParam, (WPARAM)2);
  EXPECT_EQ(msg.hwnd, hwnd);
  KillTimer(hwnd, 2);
  DestroyWindow(hwnd);
}

struct TimerFromThread {
  HWND target;
  UINT_PTR result;
};

DWORD WINAPI SetTimerThread(LPVOID p) {
  auto* t = (TimerFromThread*)p;
  t->result = SetTimer(t->target, 3, 30, nullptr);
  return 0;
}

TEST_F(Windows, ATimerSetFromAnotherThreadArrivesAtTheWindowsOwner) {
  // The driver's reader thread arms timers on a window of the user-interface thread.
  HWND hwnd = Make(L"BrindleConfWin", L"timer", nullptr);
  ASSERT_NE(hwnd, nullptr);
  TimerFromThread t{hwnd, 0};
  HANDLE th = CreateThread(nullptr, 0, SetTimerThread, &t, 0, nullptr);
  ASSERT_NE(th, nullptr);
  ASSERT_EQ(WaitForSingleObject(th, INFINITE), (DWORD)WAIT_OBJECT_0);
  CloseHandle(th);
  EXPECT_NE(t.result, 0u);
  Sleep(150);
  EXPECT_EQ(CountTimers(hwnd, 3), 1);
  EXPECT_TRUE(KillTimer(hwnd, 3));
  DestroyWindow(hwnd);
}

TEST_F(Windows, DestroyingAWindowEndsItsTimers) {
  HWND hwnd = Make(L"BrindleConfWin", L"timer", nullptr);
  ASSERT_NE(SetTimer(hwnd, 4, 30, nullptr), 0u);
  ASSERT_TRUE(DestroyWindow(hwnd));
  Sleep(100);
  MSG msg;
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
  EXPECT_FALSE(KillTimer(hwnd, 4));
}

// ---- hot keys -----------------------------------------------------------------

TEST_F(Windows, ARegisteredHotKeyBecomesWmHotkeyToItsWindow) {
  HWND hwnd = Make(L"BrindleConfWin", L"hotkey", nullptr);
  ASSERT_NE(hwnd, nullptr);
  ASSERT_TRUE(RegisterHotKey(hwnd, 1, 0, VK_CAPITAL));
  // A second registration of the same key is refused.
  EXPECT_FALSE(RegisterHotKey(hwnd, 2, 0, VK_CAPITAL));
  SHORT before = GetKeyState(VK_CAPITAL) & 1;
  keybd_event(VK_CAPITAL, 0, 0, 0);
  keybd_event(VK_CAPITAL, 0, KEYEVENTF_KEYUP, 0);
  MSG msg;
  bool hot = false;
  for (int i = 0; i < 50 && !hot; ++i) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      if (msg.message == WM_HOTKEY && msg.hwnd == hwnd && msg.wParam == 1) hot = true;
    if (!hot) Sleep(20);
  }
  EXPECT_TRUE(hot);
  EXPECT_TRUE(UnregisterHotKey(hwnd, 1));
  EXPECT_FALSE(UnregisterHotKey(hwnd, 1));
  // Put Caps Lock back as it was for whatever runs next.
  if ((GetKeyState(VK_CAPITAL) & 1) != before) {
    keybd_event(VK_CAPITAL, 0, 0, 0);
    keybd_event(VK_CAPITAL, 0, KEYEVENTF_KEYUP, 0);
    Sleep(50);
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  DestroyWindow(hwnd);
}

}  // namespace
