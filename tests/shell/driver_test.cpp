// The driver's state machine, its display in the settings dialog and the tray, and the
// messages the settings dialog routes to it.
#include "shell_fixture.h"

namespace shelltest {
namespace {

class DriverTest : public ShellTest {
 public:
  using ShellTest::Start;
  using ShellTest::Stop;

 protected:
  // Brings the driver into a state the way the program gets there.
  void Reach(int state) {
    if (state == DRIVER_RUNNING) Start();
    if (state == DRIVER_PAUSED) {
      bench::SetPortBusy(true);
      Start();
      bench::SetPortBusy(false);
    }
    ASSERT_EQ(DriverState, state);
    bench::ClearTrace();
  }
};

struct TransitionRow {
  const char* name;
  int from;
  void (*event)(DriverTest*);
  int to;
  Lines display;  // kDisplayCalls of the transition
  Lines timers;   // resume timer calls (id 2)
  int readers;
};

TEST_F(DriverTest, EveryRowOfTheStateTable) {
  const TransitionRow rows[] = {
      {"stopped, start, opened", DRIVER_STOPPED, [](DriverTest* t) { t->Start(); }, DRIVER_RUNNING,
       Display(DRIVER_RUNNING, false), {}, 1},
      {"stopped, start, refused", DRIVER_STOPPED,
       [](DriverTest* t) {
         bench::SetPortBusy(true);
         t->Start();
       },
       DRIVER_PAUSED, Display(DRIVER_PAUSED, false), {DialogTimer(true, 2, 2000)}, 0},
      {"paused, resume timer, opened", DRIVER_PAUSED, [](DriverTest*) { bench::Advance(2000); }, DRIVER_RUNNING,
       Display(DRIVER_RUNNING, false), {DialogTimer(false, 2)}, 1},
      {"paused, resume timer, refused", DRIVER_PAUSED,
       [](DriverTest*) {
         bench::SetPortBusy(true);
         bench::Advance(2000);
       },
       DRIVER_PAUSED, {}, {}, 0},
      {"running, stop", DRIVER_RUNNING, [](DriverTest* t) { t->Stop(); }, DRIVER_STOPPED,
       Display(DRIVER_STOPPED, false), {}, 0},
      {"paused, stop", DRIVER_PAUSED, [](DriverTest* t) { t->Stop(); }, DRIVER_STOPPED,
       Display(DRIVER_STOPPED, false), {DialogTimer(false, 2)}, 0},
      // Only the exit stops a stopped driver; the test asks for it through its hook.
      {"stopped, stop", DRIVER_STOPPED, [](DriverTest* t) { t->Stop(); }, DRIVER_STOPPED,
       Display(DRIVER_STOPPED, false), {}, 0},
      {"running, cradle", DRIVER_RUNNING,
       [](DriverTest*) {
         bench::SetCarrier(true);
         bench::Advance(1000);
       },
       DRIVER_PAUSED, Display(DRIVER_PAUSED, false), {DialogTimer(true, 2, 2000)}, 0},
  };
  for (const TransitionRow& row : rows) {
    SCOPED_TRACE(row.name);
    // Each row starts from a stopped driver whose tray icon exists.
    Stop();
    bench::SetPortBusy(false);
    bench::SetCarrier(false);
    Reach(row.from);
    row.event(this);
    EXPECT_EQ(DriverState, row.to);
    EXPECT_EQ(bench::Trace(kDisplayCalls), row.display);
    EXPECT_EQ(bench::Trace({"SetTimer([Dialog], 2", "KillTimer([Dialog], 2"}), row.timers);
    EXPECT_EQ(Readers(), row.readers);
    // A paused driver retries every 2000 ms, any other one never.
    int opens = bench::PortOpensTotal();
    bench::ClearTrace();
    bench::SetPortBusy(true);
    bench::Advance(4000);
    EXPECT_EQ(bench::Trace({"CreateFile"}).size(), row.to == DRIVER_PAUSED ? 2u : 0u);
    EXPECT_EQ(bench::PortOpensTotal(), opens);
    bench::SetPortBusy(false);
  }
}

// The program as it starts: its driver starts itself.
class DriverStartTest : public DriverTest {
 protected:
  DriverStartTest() { launchStopped_ = false; }
};

TEST_F(DriverStartTest, FirstDisplayAddsTheTrayIconLaterOnesModifyExitDeletes) {
  LaunchHooked();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(bench::Trace(kDisplayCalls), Display(DRIVER_RUNNING, true));
  EXPECT_EQ(TrayIconPending, 0);
  bench::TrayIcon icon = bench::GetTrayIcon(hSettingsDlg, 1);
  EXPECT_TRUE(icon.present);
  EXPECT_EQ(icon.flags, (UINT)(NIF_MESSAGE | NIF_ICON));
  EXPECT_EQ(icon.callbackMessage, 0x8001u);
  EXPECT_EQ(icon.iconId, 111);
  EXPECT_EQ(bench::DescribeIcon(bench::ControlIcon(GetDlgItem(hSettingsDlg, 1026))).id, 145);
  WCHAR text[32] = {0};
  GetWindowTextW(GetDlgItem(hSettingsDlg, 1040), text, 32);
  EXPECT_STREQ(text, L"Running");

  bench::ClearTrace();
  Stop();
  Stop();  // the same state again still reloads and modifies
  Lines twice = Display(DRIVER_STOPPED, false);
  for (auto& l : Display(DRIVER_STOPPED, false)) twice.push_back(l);
  EXPECT_EQ(bench::Trace(kDisplayCalls), twice);
  EXPECT_EQ(bench::GetTrayIcon(hSettingsDlg, 1).iconId, 112);
  EXPECT_EQ(bench::TrayIconCount(), 1);

  bench::ClearTrace();
  ExitWithAnswer(IDYES);
  EXPECT_EQ(WaitForExit(), 0u);
  Lines shutdown = Display(DRIVER_STOPPED, false);
  shutdown.push_back("Shell_NotifyIcon(NIM_DELETE, 1)");
  EXPECT_EQ(bench::Trace(kDisplayCalls), shutdown);
  EXPECT_EQ(bench::TrayIconCount(), 0);
}

TEST_F(DriverStartTest, AFailedFirstAddLeavesNoTrayIconForTheRun) {
  // The program's first start is held in its wait for a reader on its way out (one the
  // test makes up), after the dialog exists and before the first display.
  ReaderExited = 0;
  hReaderExitEvent = release_;
  LaunchHooked();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(bench::Trace(kDisplayCalls).empty());
  // Meanwhile someone takes the icon's identity, so the driver's add is refused.
  NOTIFYICONDATA taken = {};
  taken.cbSize = sizeof taken;
  taken.hWnd = hSettingsDlg;
  taken.uID = 1;
  ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &taken));
  ReaderExited = 1;
  SetEvent(release_);
  bench::Settle();
  ASSERT_EQ(DriverState, DRIVER_RUNNING);
  EXPECT_EQ(bench::Trace({"Shell_NotifyIcon"}),
            (Lines{"Shell_NotifyIcon(NIM_ADD, 1)", "Shell_NotifyIcon(NIM_ADD, 1, icon=111) -> FALSE"}));
  EXPECT_EQ(TrayIconPending, 0);
  ASSERT_TRUE(Shell_NotifyIcon(NIM_DELETE, &taken));
  bench::ClearTrace();
  Stop();
  EXPECT_EQ(bench::Trace({"Shell_NotifyIcon"}), (Lines{"Shell_NotifyIcon(NIM_MODIFY, 1, icon=112) -> FALSE"}));
  EXPECT_EQ(bench::TrayIconCount(), 0);
}

TEST_F(DriverStartTest, StartInTheCradleShowsPausedAndTheButtonThenStopsTheRetries) {
  bench::SetCarrier(true);
  LaunchHooked();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(DriverState, DRIVER_PAUSED);
  EXPECT_EQ(bench::Trace(kDisplayCalls), Display(DRIVER_PAUSED, true));
  // The start/stop button while paused stops and does not retry at once.
  bench::ClearTrace();
  Stop();
  EXPECT_TRUE(bench::Trace({"CreateFile"}).empty());
  EXPECT_EQ(bench::Trace(kTimerCalls), (Lines{DialogTimer(false, 2)}));
  bench::SetCarrier(false);
  bench::Advance(10000);
  EXPECT_EQ(DriverState, DRIVER_STOPPED);
  EXPECT_TRUE(bench::Trace({"CreateFile"}).empty());
}

TEST_F(DriverTest, TrayTapShowsTheWindowAfterTheDoubleClickTime) {
  PostToDialog(TRAY_NOTIFY_MESSAGE, 1, WM_LBUTTONDOWN);
  EXPECT_EQ(bench::Trace({"Sleep"}), (Lines{"Sleep(" + std::to_string(GetDoubleClickTime()) + ")"}));
  bench::Advance(GetDoubleClickTime() - 1);
  EXPECT_TRUE(MainCommands().empty());
  bench::Advance(1);
  EXPECT_EQ(MainCommands(), (std::vector<unsigned>{1011}));
}

TEST_F(DriverTest, OtherTrayNotificationsDoNothing) {
  const LPARAM others[] = {WM_LBUTTONUP, WM_LBUTTONDBLCLK, 0x0200 /* mouse move */, 0x0204 /* right down */, 0};
  for (LPARAM lp : others) {
    SCOPED_TRACE(lp);
    PostToDialog(TRAY_NOTIFY_MESSAGE, 1, lp);
    bench::Advance(2000);
    EXPECT_TRUE(bench::Trace({"Sleep"}).empty());
    EXPECT_TRUE(MainCommands().empty());
  }
}

TEST_F(DriverStartTest, InitReadsCapsLockAndOpensTheNamedTouchEvent) {
  for (bool capsOn : {true, false}) {
    SCOPED_TRACE(capsOn ? "Caps Lock on" : "Caps Lock off");
    if (!capsOn) Restart();
    ASSERT_FALSE(HasFatalFailure());
    if (capsOn) bench::PressCapsLock();  // before the program registers its hot key
    LaunchHooked();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(CapsLockOn, capsOn ? 1u : 0u);
    HANDLE other = CreateEventW(nullptr, FALSE, FALSE, L"TouchEvent");
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    SetEvent(hTouchEvent);
    EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(other, 0), (DWORD)WAIT_TIMEOUT) << "auto-reset";
    CloseHandle(other);
  }
}

// The close's wait keeps answering the reader's messages: a hand-off that has begun
// finishes its pause, and the stop then kills the resume timer it armed.
TEST_F(DriverTest, StopDuringAHandOffEndsPausedThenStoppedWithTheResumeTimerKilled) {
  Start();
  bench::SetCarrier(true);  // the reader closes the port and sleeps its second
  bench::Settle();
  ASSERT_EQ(DriverState, DRIVER_RUNNING);
  bench::ClearTrace();
  Stop();  // the close finds the port gone and waits for the reader
  EXPECT_EQ(DriverState, DRIVER_RUNNING);
  bench::Advance(1000);
  EXPECT_EQ(DriverState, DRIVER_STOPPED);
  Lines shown = Display(DRIVER_PAUSED, false);
  for (auto& l : Display(DRIVER_STOPPED, false)) shown.push_back(l);
  EXPECT_EQ(bench::Trace(kDisplayCalls), shown);
  EXPECT_EQ(bench::Trace({"SetTimer([Dialog], 2", "KillTimer([Dialog], 2"}),
            (Lines{DialogTimer(true, 2, 2000), DialogTimer(false, 2)}));
  EXPECT_EQ(bench::Trace({"CloseHandle(COM1)"}).size(), 0u) << "the hand-off closed the port, once";
  EXPECT_EQ(bench::PowerState(), bench::Power::Off);
  EXPECT_EQ(bench::AsicMappedCount(), 0);
  EXPECT_EQ(Readers(), 0);
  bench::SetCarrier(false);
  bench::Advance(10000);
  EXPECT_EQ(DriverState, DRIVER_STOPPED);
  EXPECT_EQ(bench::PortOpensTotal(), 1);
}

// The same with the user-interface thread busy while the reader begins its pause.
TEST_F(DriverTest, StopWhileTheReaderPausesEndsStopped) {
  Start();
  bench::SetCarrier(true);
  bench::Settle();
  PostMessageW(hSettingsDlg, kRunBlockThenStop, 0, 0);
  bench::Advance(1000);  // the reader's pause now waits for the busy thread
  ASSERT_EQ(Readers(), 1);
  SetEvent(release_);
  bench::Settle();
  EXPECT_EQ(DriverState, DRIVER_STOPPED);
  EXPECT_EQ(Readers(), 0);
  Lines timers = bench::Trace({"SetTimer([Dialog], 2", "KillTimer([Dialog], 2"});
  EXPECT_EQ(timers, (Lines{DialogTimer(true, 2, 2000), DialogTimer(false, 2)}));
  EXPECT_EQ(bench::Trace(kDisplayCalls).back(), Display(DRIVER_STOPPED, false).back());
  bench::SetCarrier(false);
  bench::Advance(10000);
  EXPECT_EQ(bench::PortOpensTotal(), 1);
}

// A stop that finds the driver paused by a reader still showing that pause through this
// thread waits for the reader: its whole display lands before the stop's, and the resume
// timer it arms is killed by the stop, so the stopped driver never comes back by itself.
TEST_F(DriverTest, StopOfAPauseStillShowingItselfWaitsForTheReader) {
  Start();
  bench::SetCarrier(true);
  bench::Settle();  // the reader has handed the line over and sleeps its second
  ASSERT_EQ(DriverState, DRIVER_RUNNING);
  bench::ClearTrace();
  PostMessageW(hSettingsDlg, kRunAnswerPauseThenBlock, 0, 0);
  bench::Advance(1000);  // the pause begins and waits on the busy thread to show itself
  ASSERT_EQ(DriverState, DRIVER_PAUSED);
  ASSERT_EQ(Readers(), 1);
  ASSERT_EQ(bench::Trace(kDisplayCalls), (Lines{Display(DRIVER_PAUSED, false)[0]}));
  SetEvent(release_);  // the user's stop
  bench::Settle();
  EXPECT_EQ(DriverState, DRIVER_STOPPED);
  EXPECT_EQ(Readers(), 0);
  Lines shown = Display(DRIVER_PAUSED, false);
  for (auto& l : Display(DRIVER_STOPPED, false)) shown.push_back(l);
  EXPECT_EQ(bench::Trace(kDisplayCalls), shown);
  EXPECT_EQ(bench::Trace({"SetTimer([Dialog], 2", "KillTimer([Dialog], 2"}),
            (Lines{DialogTimer(true, 2, 2000), DialogTimer(false, 2)}));
  EXPECT_EQ(bench::GetTrayIcon(hSettingsDlg, 1).iconId, 112);
  bench::SetCarrier(false);
  bench::Advance(10000);
  EXPECT_EQ(DriverState, DRIVER_STOPPED);
  EXPECT_EQ(bench::PortOpensTotal(), 1);
}

}  // namespace
}  // namespace shelltest
