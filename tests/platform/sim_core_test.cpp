// The bench's own promises: Settle is exact, virtual time moves only when told and
// stops at every expiry on the way, and keyboard input reaches the foreground window.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/bench.h"

namespace {

using Strings = std::vector<std::string>;

// A window on a simulated thread of its own, running an ordinary message loop.
struct UiThread {
  static std::mutex mu;          // two UI threads may record at once
  static std::vector<MSG> seen;  // written by the UI threads, read after Settle
  static std::vector<DWORD> ticks;
  static UINT_PTR rearmTo;  // when non-zero, the first WM_TIMER re-arms timer 1 to this
  HWND hwnd = nullptr;
  HANDLE thread = nullptr;
  HANDLE ready = nullptr;

  static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    switch (m) {
      case WM_TIMER:
        ticks.push_back(GetTickCount());
        if (rearmTo) {
          SetTimer(h, 1, (UINT)rearmTo, nullptr);
          rearmTo = 0;
        }
        return 0;
      case WM_KEYDOWN: case WM_KEYUP: case WM_CHAR: case WM_HOTKEY: case WM_ACTIVATE: case WM_APP:
        {
          std::lock_guard<std::mutex> g(mu);
          seen.push_back(MSG{h, m, wp, lp, 0, {0, 0}});
        }
        return 0;
      case WM_APP + 1:
        DestroyWindow(h);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(h, m, wp, lp);
  }
  static DWORD WINAPI Main(LPVOID p) {
    auto* self = (UiThread*)p;
    self->hwnd = CreateWindowExW(0, L"SimUi", L"ui", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                 nullptr);
    SetEvent(self->ready);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    return 0;
  }
  void Start() {
    ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread = CreateThread(nullptr, 0, Main, this, 0, nullptr);
    WaitForSingleObject(ready, INFINITE);
    bench::Settle();
  }
  void Stop() {
    PostMessageW(hwnd, WM_APP + 1, 0, 0);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(ready);
  }
};
std::mutex UiThread::mu;
std::vector<MSG> UiThread::seen;
std::vector<DWORD> UiThread::ticks;
UINT_PTR UiThread::rearmTo = 0;

class Sim : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bench::Reset());
    WNDCLASSW wc{};
    wc.lpfnWndProc = UiThread::Proc;
    wc.lpszClassName = L"SimUi";
    ASSERT_NE(RegisterClassW(&wc), 0);
    UiThread::seen.clear();
    UiThread::ticks.clear();
    UiThread::rearmTo = 0;
  }
  void TearDown() override {
    bench::Settle();
    EXPECT_EQ(bench::LiveThreads(), 0);
    EXPECT_TRUE(bench::Reset());
  }
};

TEST_F(Sim, SettleReturnsOnlyOnceEveryPostedMessageIsHandled) {
  UiThread ui;
  ui.Start();
  for (int i = 0; i < 500; ++i) PostMessageW(ui.hwnd, WM_APP, i, 0);
  bench::Settle();
  ASSERT_EQ(UiThread::seen.size(), 500u);
  EXPECT_EQ(UiThread::seen.back().wParam, 499u);
  ui.Stop();
}

TEST_F(Sim, TimersFireAtTheirVirtualTimesAndAReplacedPeriodTakesOver) {
  UiThread ui;
  ui.Start();
  UiThread::rearmTo = 50;  // like a typematic repeat: a first delay, then a shorter period
  SetTimer(ui.hwnd, 1, 500, nullptr);
  bench::Advance(499);
  EXPECT_TRUE(UiThread::ticks.empty());
  bench::Advance(1);
  bench::Advance(160);
  EXPECT_EQ(UiThread::ticks, (std::vector<DWORD>{500, 550, 600, 650}));
  KillTimer(ui.hwnd, 1);
  bench::Advance(1000);
  EXPECT_EQ(UiThread::ticks.size(), 4u);
  EXPECT_EQ(bench::Now(), 1660u);
  ui.Stop();
}

TEST_F(Sim, APeriodBelowTheMinimumIsRaisedNeverZero) {
  UiThread ui;
  ui.Start();
  SetTimer(ui.hwnd, 1, 0, nullptr);
  bench::Advance(100);
  EXPECT_EQ(UiThread::ticks.size(), 10u);
  EXPECT_EQ(bench::Trace({"SetTimer"}), (Strings{"SetTimer([SimUi], 1, 0)"}));
  KillTimer(ui.hwnd, 1);
  ui.Stop();
}

std::atomic<int> gStage{0};

DWORD WINAPI Sleeper(LPVOID) {
  gStage = 1;
  Sleep(1000);
  gStage = 2;
  return 0;
}

TEST_F(Sim, SleepOnASimulatedThreadWaitsForVirtualTime) {
  gStage = 0;
  HANDLE t = CreateThread(nullptr, 0, Sleeper, nullptr, 0, nullptr);
  bench::Settle();
  EXPECT_EQ(gStage.load(), 1);
  bench::Advance(999);
  EXPECT_EQ(gStage.load(), 1);
  bench::Advance(1);
  EXPECT_EQ(gStage.load(), 2);
  EXPECT_EQ(WaitForSingleObject(t, 0), (DWORD)WAIT_OBJECT_0);
  CloseHandle(t);
}

HANDLE gEvent;
std::atomic<DWORD> gWaitResult{0};

DWORD WINAPI TimedWaiter(LPVOID) {
  gWaitResult = WaitForSingleObject(gEvent, 300);
  return 0;
}

TEST_F(Sim, TimedWaitsEndAtTheVirtualDeadlineOrWhenSignalled) {
  gEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE t = CreateThread(nullptr, 0, TimedWaiter, nullptr, 0, nullptr);
  bench::Advance(299);
  EXPECT_EQ(WaitForSingleObject(t, 0), (DWORD)WAIT_TIMEOUT);
  bench::Advance(1);
  EXPECT_EQ(WaitForSingleObject(t, 0), (DWORD)WAIT_OBJECT_0);
  EXPECT_EQ(gWaitResult.load(), (DWORD)WAIT_TIMEOUT);
  CloseHandle(t);

  t = CreateThread(nullptr, 0, TimedWaiter, nullptr, 0, nullptr);
  bench::Advance(100);
  SetEvent(gEvent);
  bench::Settle();
  EXPECT_EQ(gWaitResult.load(), (DWORD)WAIT_OBJECT_0);
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);
  CloseHandle(gEvent);
}

TEST_F(Sim, KeyboardInputReachesTheForegroundWindowAsKeysAndCharacters) {
  UiThread ui;
  ui.Start();
  ASSERT_TRUE(SetForegroundWindow(ui.hwnd));
  bench::Settle();
  UiThread::seen.clear();
  struct Step {
    BYTE vk;
    DWORD flags;
  } steps[] = {{'A', 0}, {'A', KEYEVENTF_KEYUP}, {VK_LSHIFT, 0}, {'B', 0}, {'B', KEYEVENTF_KEYUP},
               {VK_LSHIFT, KEYEVENTF_KEYUP}, {'1', 0}, {'1', KEYEVENTF_KEYUP}};
  for (auto& s : steps) keybd_event(s.vk, 0, s.flags, 0);
  bench::PressCapsLock();  // the handheld's own key: no trace entry
  keybd_event('C', 0, 0, 0);
  keybd_event('C', 0, KEYEVENTF_KEYUP, 0);
  bench::Settle();
  std::vector<std::pair<UINT, WPARAM>> got, want = {
      {WM_KEYDOWN, 'A'}, {WM_CHAR, 'a'},     {WM_KEYUP, 'A'},     {WM_KEYDOWN, VK_SHIFT}, {WM_KEYDOWN, 'B'},
      {WM_CHAR, 'B'},    {WM_KEYUP, 'B'},    {WM_KEYUP, VK_SHIFT}, {WM_KEYDOWN, '1'},     {WM_CHAR, '1'},
      {WM_KEYUP, '1'},   {WM_KEYDOWN, VK_CAPITAL}, {WM_KEYUP, VK_CAPITAL}, {WM_KEYDOWN, 'C'}, {WM_CHAR, 'C'},
      {WM_KEYUP, 'C'}};
  for (auto& m : UiThread::seen) got.push_back({m.message, m.wParam});
  EXPECT_EQ(got, want);
  EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, 1);
  EXPECT_EQ(bench::Trace({"keybd_event"}).size(), 10u);
  EXPECT_EQ(bench::Trace({"keybd_event"})[2], "keybd_event(0xA0, 0x0)");
  EXPECT_EQ(bench::Trace({"keybd_event"})[5], "keybd_event(0xA0, 0x2)");
  ui.Stop();
}

TEST_F(Sim, PostKeybdMessageDeliversTheKeyAndItsCharacters) {
  UiThread ui;
  ui.Start();
  SetForegroundWindow(ui.hwnd);
  bench::Settle();
  UiThread::seen.clear();
  UINT shift = 0x80, ch = 0x0D;
  ASSERT_TRUE(PostKeybdMessage((HWND)-1, VK_RETURN, 0x80, 1, &shift, &ch));
  UINT none = 0, e = 0xE9;
  ASSERT_TRUE(PostKeybdMessage((HWND)-1, 0, 0, 1, &none, &e));
  EXPECT_FALSE(PostKeybdMessage((HWND)-1, 0, 0, 1, nullptr, nullptr));
  bench::Settle();
  std::vector<std::pair<UINT, WPARAM>> got, want = {{WM_KEYDOWN, VK_RETURN}, {WM_CHAR, 0x0D}, {WM_CHAR, 0xE9}};
  for (auto& m : UiThread::seen) got.push_back({m.message, m.wParam});
  EXPECT_EQ(got, want);
  EXPECT_EQ(bench::Trace({"PostKeybdMessage"}),
            (Strings{"PostKeybdMessage(-1, 0x0D, 0x80, [0x80], [U+000D])",
                     "PostKeybdMessage(-1, 0x00, 0x0, [0x0], [U+00E9])"}));
  ui.Stop();
}

TEST_F(Sim, AHotKeyPressIsNotAlsoAKeyDown) {
  UiThread ui;
  ui.Start();
  SetForegroundWindow(ui.hwnd);
  ASSERT_TRUE(RegisterHotKey(ui.hwnd, 1, 0, VK_CAPITAL));
  bench::Settle();
  UiThread::seen.clear();
  SHORT before = GetKeyState(VK_CAPITAL) & 1;
  bench::PressCapsLock();
  bench::Settle();
  ASSERT_EQ(UiThread::seen.size(), 2u);
  EXPECT_EQ(UiThread::seen[0].message, (UINT)WM_HOTKEY);
  EXPECT_EQ(UiThread::seen[0].wParam, 1u);
  EXPECT_EQ(UiThread::seen[1].message, (UINT)WM_KEYUP);
  EXPECT_NE(GetKeyState(VK_CAPITAL) & 1, before);
  ui.Stop();
}

TEST_F(Sim, ForegroundChangesSendActivationToBothWindows) {
  UiThread a, b;
  a.Start();
  b.Start();
  SetForegroundWindow(a.hwnd);
  bench::Settle();
  UiThread::seen.clear();
  SetForegroundWindow(b.hwnd);
  bench::Settle();
  // Two threads handle these, so only each window's own message is fixed.
  ASSERT_EQ(UiThread::seen.size(), 2u);
  for (auto& m : UiThread::seen) {
    EXPECT_EQ(m.message, (UINT)WM_ACTIVATE);
    EXPECT_EQ(LOWORD(m.wParam), m.hwnd == a.hwnd ? WA_INACTIVE : WA_ACTIVE);
    EXPECT_EQ((HWND)m.lParam, m.hwnd == a.hwnd ? b.hwnd : a.hwnd);
  }
  EXPECT_NE(UiThread::seen[0].hwnd, UiThread::seen[1].hwnd);
  EXPECT_EQ(GetForegroundWindow(), b.hwnd);
  b.Stop();
  EXPECT_EQ(GetForegroundWindow(), nullptr);
  a.Stop();
}

DWORD WINAPI Quitter(LPVOID) { return 5; }

TEST_F(Sim, ThreadsAndHandlesAreCountedAndCreateThreadCanBeMadeToFail) {
  int handles = bench::OpenHandles();
  bench::FailNextCreateThread();
  EXPECT_EQ(CreateThread(nullptr, 0, Quitter, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ENOUGH_MEMORY);
  HANDLE t = CreateThread(nullptr, 0, Quitter, nullptr, 0, nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(bench::OpenHandles(), handles + 1);
  WaitForSingleObject(t, INFINITE);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, 5u);
  EXPECT_TRUE(CloseHandle(t));
  EXPECT_FALSE(CloseHandle(t));
  EXPECT_EQ(bench::OpenHandles(), handles);
  EXPECT_EQ(bench::LiveThreads(), 0);
}

TEST_F(Sim, NamedEventsAreSharedAndTheirSignalsTraced) {
  HANDLE a = CreateEventW(nullptr, FALSE, FALSE, L"TouchEvent");
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_SUCCESS);
  HANDLE b = CreateEventW(nullptr, FALSE, FALSE, L"TouchEvent");
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
  ASSERT_NE(a, b);
  EventModify(a, EVENT_SET);
  EXPECT_EQ(WaitForSingleObject(b, 0), (DWORD)WAIT_OBJECT_0);  // the same event
  EXPECT_EQ(WaitForSingleObject(a, 0), (DWORD)WAIT_TIMEOUT);   // auto-reset
  EXPECT_EQ(bench::Trace({"SetEvent"}), (Strings{"SetEvent(TouchEvent)"}));
  EXPECT_EQ(EventModify(a, 99), FALSE);
  CloseHandle(a);
  CloseHandle(b);
  EXPECT_EQ(EventModify(a, EVENT_SET), FALSE);
}

DWORD WINAPI ShortLived(LPVOID p) {
  auto* hwnd = (HWND*)p;
  *hwnd = CreateWindowExW(0, L"SimUi", L"short", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                          nullptr);
  Sleep(100);  // never fetches a message, then leaves
  return 0;
}

TEST_F(Sim, ASendToAThreadThatEndsWithoutAnsweringReturnsZero) {
  HWND hwnd = nullptr;
  HANDLE t = CreateThread(nullptr, 0, ShortLived, &hwnd, 0, nullptr);
  bench::Settle();
  ASSERT_NE(hwnd, nullptr);
  std::atomic<bool> done{false};
  // The test thread would block in SendMessageW; let virtual time pass meanwhile from
  // a plain helper thread.
  std::thread mover([&] {
    while (!done) bench::Advance(10);
  });
  EXPECT_EQ(SendMessageW(hwnd, WM_APP, 1, 0), 0);
  done = true;
  mover.join();
  EXPECT_FALSE(IsWindow(hwnd));  // a thread's windows go with it
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);
}

TEST_F(Sim, ResetRefusesWhileSimulatedThreadsLive) {
  UiThread ui;
  ui.Start();
  EXPECT_FALSE(bench::Reset());
  ui.Stop();
  EXPECT_TRUE(bench::Reset());
  EXPECT_EQ(bench::Now(), 0u);
  EXPECT_TRUE(bench::Trace().empty());
  EXPECT_EQ(FindWindowW(L"SimUi", nullptr), nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = UiThread::Proc;
  wc.lpszClassName = L"SimUi";
  EXPECT_NE(RegisterClassW(&wc), 0);  // classes went too
}

TEST_F(Sim, TheRealClockRunsTimersAndSleepsInRealTime) {
  bench::UseRealClock(true);
  UiThread ui;
  ui.Start();
  auto t0 = std::chrono::steady_clock::now();
  SetTimer(ui.hwnd, 1, 20, nullptr);
  HANDLE t = CreateThread(nullptr, 0, Sleeper, nullptr, 0, nullptr);
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);
  auto elapsed = std::chrono::steady_clock::now() - t0;
  // The real clock counts whole milliseconds, so a wait may end up to 1 ms early.
  EXPECT_GE(elapsed, std::chrono::milliseconds(999));
  KillTimer(ui.hwnd, 1);
  bench::Settle();
  EXPECT_GE(UiThread::ticks.size(), 10u);  // about 50 at 20 ms; leave room for a slow machine
  ui.Stop();
  bench::UseRealClock(false);
}

}  // namespace
