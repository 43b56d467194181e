// The serial link and its reader thread, driven through the bench's keyboard line.
#include <gtest/gtest-spi.h>

#include <chrono>

#include "shell_fixture.h"

namespace shelltest {
namespace {

class SerialTest : public ShellTest {
 protected:
  static Lines Link() { return bench::Trace(kLinkCalls); }
};

const Lines kOpen = {
    "CreateFile(COM1:)",
    "GetCommModemStatus -> 0x00",
    "SetCommState(baud=9600, size=8, parity=0, stop=0, flags=0x00001093)",
    "EscapeCommFunction(5)",
    "EscapeCommFunction(3)",
    "VirtualAlloc(4096, 0x2000, 0x1)",
    "VirtualCopy(0xA2000000, 4096, 0x204)",
    "Power(on)",
    "SetCommTimeouts(0xFFFFFFFF, 0, 0, 0, 0)",
    "SetCommMask(0x2139)",
};

TEST_F(SerialTest, OpenConfiguresThePortPowersTheKeyboardAndStartsOneReader) {
  Start();
  EXPECT_EQ(Link(), kOpen);
  EXPECT_EQ(bench::Trace({"SetTimer", "KillTimer"}), (Lines{DialogTimer(true, 3, 600000)}));
  EXPECT_EQ(DriverState, DRIVER_RUNNING);
  EXPECT_EQ(Readers(), 1);
  EXPECT_EQ(bench::CommBaud(), 9600u);
  EXPECT_TRUE(bench::CommDtr());
  EXPECT_TRUE(bench::CommRts());
  EXPECT_EQ(bench::CommMask(), 0x2139u);
  EXPECT_EQ(bench::PowerState(), bench::Power::On);
  EXPECT_EQ(bench::AsicMappedCount(), 1);
  EXPECT_TRUE(bench::MessageBoxes().empty());
}

struct FlagsRow {
  DWORD read;
  DWORD set;
};

TEST_F(SerialTest, FlagsWordKeepsTheReservedBitsAsRead) {
  const FlagsRow rows[] = {
      {0x00000000, 0x00001093}, {0xFFFFFFFF, 0xFFFF9093}, {0x80006F6C, 0x80001093},
      {0x7FFF8000, 0x7FFF9093}, {0x12345678, 0x12341093}, {0x00004000, 0x00001093},
  };
  for (const FlagsRow& row : rows) {
    SCOPED_TRACE(row.read);
    bench::SetInitialCommFlags(row.read);
    Start();
    EXPECT_EQ(bench::CommFlags(), row.set);
    Stop();
  }
}

struct RefusalRow {
  const char* name;
  void (*make)();
  void (*clear)();
  Lines link;
};

TEST_F(SerialTest, RefusedOpenIsSilentPausesAndRetriesEveryTwoSeconds) {
  const RefusalRow rows[] = {
      {"cradle", [] { bench::SetCarrier(true); }, [] { bench::SetCarrier(false); },
       {"CreateFile(COM1:)", "GetCommModemStatus -> 0x80", "CloseHandle(COM1)"}},
      {"busy", [] { bench::SetPortBusy(true); }, [] { bench::SetPortBusy(false); },
       {"CreateFile(COM1:) failed 5"}},
      {"missing", [] { bench::SetPortMissing(true); }, [] { bench::SetPortMissing(false); },
       {"CreateFile(COM1:) failed 2"}},
  };
  for (const RefusalRow& row : rows) {
    SCOPED_TRACE(row.name);
    row.make();
    size_t writes = bench::PowerWrites().size();
    bench::ClearTrace();
    Start();
    EXPECT_EQ(Link(), row.link);
    EXPECT_EQ(DriverState, DRIVER_PAUSED);
    EXPECT_EQ(bench::Trace(kTimerCalls), (Lines{DialogTimer(true, 2, 2000)}));
    EXPECT_EQ(bench::PortOpenCount(), 0);
    EXPECT_EQ(Readers(), 0);
    EXPECT_TRUE(bench::MessageBoxes().empty());
    EXPECT_EQ(bench::PowerWrites().size(), writes);

    // Still refused: the retry changes nothing.
    bench::ClearTrace();
    bench::Advance(2000);
    EXPECT_EQ(Link(), row.link);
    EXPECT_EQ(DriverState, DRIVER_PAUSED);
    EXPECT_TRUE(bench::Trace(kDisplayCalls).empty());

    // Free again: the next retry, not earlier, runs the driver and ends the retries.
    row.clear();
    bench::ClearTrace();
    bench::Advance(1999);
    EXPECT_TRUE(Link().empty());
    bench::Advance(1);
    EXPECT_EQ(Link(), kOpen);
    EXPECT_EQ(DriverState, DRIVER_RUNNING);
    // The resume timer ends on this thread, the new reader's watchdog starts on its own.
    EXPECT_EQ(bench::Trace({"SetTimer([Dialog], 2", "KillTimer([Dialog], 2"}), (Lines{DialogTimer(false, 2)}));
    EXPECT_EQ(bench::Trace({"SetTimer([Dialog], 3", "KillTimer([Dialog], 3"}),
              (Lines{DialogTimer(true, 3, 600000)}));
    Stop();
    bench::ClearTrace();
    bench::Advance(4000);
    EXPECT_TRUE(Link().empty()) << "no retry after the stop";
  }
}

TEST_F(SerialTest, CradleEnteredWhileRunningHandsTheLineOverAndTakesItBack) {
  Start();
  bench::ClearTrace();
  // Two key bytes arrive in the same event as the carrier.
  bench::SendLineEvent({0x04, 0x84}, true, false);
  bench::Settle();
  const Lines handOff = {
      "WaitCommEvent -> 0x0021",
      "SetCommMask(0x2139)",
      "ReadFile(COM1) [0x04]",
      "keybd_event(0x41, 0x0)",
      "ReadFile(COM1) [0x84]",
      "keybd_event(0x41, 0x2)",
      "GetCommModemStatus -> 0x80",
      "SetCommMask(0x0000)",
      "CloseHandle(COM1)",
      "ShellExecuteEx(repllog.exe)",
      "Sleep(1000)",
  };
  Lines keys = kLinkCalls;
  keys.push_back("keybd_event");
  EXPECT_EQ(bench::Trace(keys), handOff);
  EXPECT_EQ(bench::StartedPrograms(), (std::vector<std::string>{"repllog.exe"}));
  EXPECT_EQ(bench::PortOpenCount(), 0);

  // The pause comes one second later, and then no reader is left.
  bench::Advance(999);
  EXPECT_EQ(DriverState, DRIVER_RUNNING);
  EXPECT_EQ(Readers(), 1);
  bench::ClearTrace();
  bench::Advance(1);
  EXPECT_EQ(DriverState, DRIVER_PAUSED);
  EXPECT_EQ(Readers(), 0);
  EXPECT_EQ(bench::Trace(kDisplayCalls), Display(DRIVER_PAUSED, false));
  EXPECT_EQ(bench::Trace(kTimerCalls), (Lines{DialogTimer(true, 2, 2000), DialogTimer(false, 3)}));
  // The hand-off neither powers the keyboard off nor releases the block.
  EXPECT_EQ(bench::PowerWrites(), (Lines{"on"}));
  EXPECT_EQ(bench::AsicMappedCount(), 1);

  // In the cradle the retries are refused.
  bench::ClearTrace();
  bench::Advance(2000);
  EXPECT_EQ(Link(), (Lines{"CreateFile(COM1:)", "GetCommModemStatus -> 0x80", "CloseHandle(COM1)"}));
  EXPECT_EQ(DriverState, DRIVER_PAUSED);

  // Out of the cradle: the next retry opens again and reuses the mapped block.
  bench::SetCarrier(false);
  bench::ClearTrace();
  bench::Advance(2000);
  EXPECT_EQ(DriverState, DRIVER_RUNNING);
  EXPECT_EQ(Readers(), 1);
  EXPECT_TRUE(bench::Trace({"VirtualAlloc", "VirtualCopy"}).empty());
  EXPECT_EQ(bench::Trace({"Power"}), (Lines{"Power(on)"}));
  EXPECT_EQ(bench::AsicMappedPeak(), 1);
  bench::ClearTrace();
  bench::SendKeyBytes({0x05, 0x85});
  bench::Settle();
  EXPECT_EQ(bench::Trace({"keybd_event"}), (Lines{"keybd_event(0x42, 0x0)", "keybd_event(0x42, 0x2)"}));
}

TEST_F(SerialTest, ResumeRepowersTheKeyboardAndStopsARepeatWithoutAnyByte) {
  Start();
  bench::SendKeyBytes({0x04});  // A held: the repeat is armed
  bench::Settle();
  ASSERT_EQ(bench::Trace({"SetTimer([Dialog], 1"}), (Lines{DialogTimer(true, 1, 500)}));
  bench::ClearTrace();
  bench::RaiseResume();
  bench::Settle();
  EXPECT_EQ(bench::Trace({"WaitCommEvent", "SetCommMask", "ReadFile", "keybd_event", "KillTimer([Dialog], 1)",
                          "GetCommModemStatus"}),
            (Lines{"WaitCommEvent -> 0x2000", "SetCommMask(0x2139)", DialogTimer(false, 1),
                   "GetCommModemStatus -> 0x00"}));
  EXPECT_EQ(bench::PowerWrites(), (Lines{"on", "on"}));
  bench::ClearTrace();
  bench::Advance(2000);
  EXPECT_TRUE(bench::Trace({"keybd_event"}).empty()) << "the repeat stays stopped";
  EXPECT_EQ(DriverState, DRIVER_RUNNING);
}

struct LinkEndRow {
  const char* name;
  void (*end)();
  int state;
  bool keepsLatches;  // a rebuild: latched sticky keys stay latched
};

struct HeldRow {
  const char* name;
  std::vector<unsigned char> bytes;  // typed before the link ends
  Lines lifted;                      // key events the end of the link sends
  bool shiftLatched = false;
  bool fnLatched = false;
  Lines rebuilt = {};  // what a rebuild sends instead, when not `lifted` less the Shift
};

// Keys down when the link ends never get their release byte: the repeat must not type
// on while the driver is paused or stopped, nothing may stay down in the input system,
// and the next link starts with fresh modifiers.
TEST_F(SerialTest, KeysHeldWhenTheLinkEndsAreLifted) {
  const LinkEndRow ends[] = {
      {"user stop", [] { PostStartStop(); }, DRIVER_STOPPED, false},
      {"cradle", [] { bench::SetCarrier(true); }, DRIVER_PAUSED, false},
      {"lost port", [] { bench::FailAllWaits(true); }, DRIVER_PAUSED, false},
      {"watchdog", [] { PostMessageW(hSettingsDlg, WM_TIMER, WATCHDOG_TIMER_ID, 0); }, DRIVER_RUNNING, true},
  };
  const Lines shiftUp = {"keybd_event(0xA0, 0x2)"};
  // Lifted in rising key order, left Shift last.
  const HeldRow held[] = {
      {"nothing", {0x04, 0x84}, {}},
      {"A repeating", {0x04}, {"keybd_event(0x41, 0x2)"}},
      {"A held under B's ended repeat", {0x04, 0x05, 0x85}, {"keybd_event(0x41, 0x2)"}},
      {"three letters", {0x06, 0x04, 0x05}, {"keybd_event(0x41, 0x2)", "keybd_event(0x42, 0x2)", "keybd_event(0x43, 0x2)"}},
      {"Shift held", {0x74}, shiftUp},
      {"Shift and A held", {0x74, 0x04}, {"keybd_event(0x41, 0x2)", "keybd_event(0xA0, 0x2)"}},
      {"Enter held", {0x28}, {"keybd_event(0x0D, 0x2)"}},
      {"Fn+right arrow: Page Up held", {0x77, 0x4F}, {"keybd_event(0x21, 0x2)"}},
      {"sticky Shift latched", {0x74, 0xF4}, shiftUp, true},
      {"sticky Shift latched, A held", {0x74, 0xF4, 0x04}, {"keybd_event(0x41, 0x2)", "keybd_event(0xA0, 0x2)"}, true},
      {"sticky Fn latched", {0x77, 0xF7}, {}, false, true},
      // Left Shift is up already while Delete is down.
      {"Shift+Backspace: Delete repeating", {0x74, 0x2A}, {"keybd_event(0x2E, 0x2)"}},
      // The latch stays through a rebuild, so the Shift that Delete lifted goes down again.
      {"sticky Shift latched, Shift+Backspace: Delete repeating", {0x74, 0xF4, 0x2A}, {"keybd_event(0x2E, 0x2)"},
       true, false, {"keybd_event(0x2E, 0x2)", "keybd_event(0xA0, 0x4)"}},
  };
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.lpszClassName = L"Notes";
  RegisterClassW(&wc);
  HWND notes = CreateWindowExW(0, L"Notes", L"Notes", WS_VISIBLE, 0, 26, 240, 268, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(notes, nullptr);
  for (const LinkEndRow& end : ends) {
    for (const HeldRow& row : held) {
      SCOPED_TRACE(std::string(end.name) + ", " + row.name);
      Stop();
      bench::SetCarrier(false);
      bench::FailAllWaits(false);
      PrefShift = 1;
      PrefFn = 1;
      Start();
      ASSERT_EQ(DriverState, DRIVER_RUNNING);
      // The user types into another program, not onto the settings page (where Enter
      // would press the start/stop button the tap left focused).
      SetForegroundWindow(notes);
      bench::SendKeyBytes(row.bytes);
      bench::Settle();
      bench::ClearTrace();
      end.end();
      bench::Settle();
      // Longer than the delay and many periods, and through a hand-off's second of sleep.
      bench::Advance(3000);
      bool keepShift = end.keepsLatches && row.shiftLatched;
      bool keepFn = end.keepsLatches && row.fnLatched;
      Lines lifted = row.lifted;
      if (keepShift && !row.rebuilt.empty())
        lifted = row.rebuilt;
      else if (keepShift)
        lifted.pop_back();  // a latched Shift stays down through a rebuild
      EXPECT_EQ(bench::Trace({"keybd_event"}), lifted);
      EXPECT_TRUE(bench::Trace({"SetTimer([Dialog], 1"}).empty());
      EXPECT_EQ(DriverState, end.state);
      EXPECT_EQ(Readers(), end.state == DRIVER_RUNNING ? 1 : 0);
      EXPECT_EQ(ShiftDown, keepShift ? 1u : 0u);
      EXPECT_EQ(FnDown, keepFn ? 1u : 0u);
      EXPECT_EQ(StickyShiftLatched, keepShift ? 1u : 0u);
      EXPECT_EQ(StickyFnLatched, keepFn ? 1u : 0u);
      EXPECT_EQ(RepeatTimerOn, 0u);
      EXPECT_EQ(KeyHeld(VK_LSHIFT), keepShift);
      for (int vk = 1; vk < 256; ++vk) {
        bool down = (GetAsyncKeyState(vk) & 0x8000) != 0;
        EXPECT_EQ(down, (vk == VK_LSHIFT || vk == VK_SHIFT) && keepShift) << "key " << vk << " in the input system";
      }

      // The next link: a Shift release that comes first is not a lone tap.
      bench::SetCarrier(false);
      bench::FailAllWaits(false);
      if (end.state == DRIVER_STOPPED) Start();
      bench::Advance(2000);
      ASSERT_EQ(DriverState, DRIVER_RUNNING);
      bench::ClearTrace();
      bench::SendKeyBytes({0xF4});
      bench::Settle();
      EXPECT_EQ(bench::Trace({"keybd_event"}), (Lines{"keybd_event(0xA0, 0x2)"}));
      EXPECT_EQ(StickyShiftLatched, 0u);
    }
  }
}

TEST_F(SerialTest, ResumeInTheCradlePowersFirstThenHandsOver) {
  Start();
  bench::ClearTrace();
  bench::SendLineEvent({}, true, true);
  bench::Advance(1000);
  EXPECT_EQ(Link(), (Lines{"WaitCommEvent -> 0x2020", "SetCommMask(0x2139)", "Power(on)", "GetCommModemStatus -> 0x80",
                           "SetCommMask(0x0000)", "CloseHandle(COM1)", "ShellExecuteEx(repllog.exe)",
                           "Sleep(1000)"}));
  EXPECT_EQ(DriverState, DRIVER_PAUSED);
  EXPECT_EQ(Readers(), 0);
}

TEST_F(SerialTest, BurstIsTranslatedInArrivalOrderOneReadPerByte) {
  Start();
  bench::ClearTrace();
  const std::vector<unsigned char> burst = {0x04, 0x84, 0x05, 0x85, 0x06, 0x86, 0x07, 0x87, 0x08, 0x88};
  bench::SendKeyBytes(burst);
  bench::Settle();
  Lines expected;
  for (unsigned char b : burst) {
    char read[32];
    snprintf(read, sizeof read, "ReadFile(COM1) [0x%02X]", b);
    char key[32];
    snprintf(key, sizeof key, "keybd_event(0x%02X, 0x%X)", 0x41 + ((b & 0x7F) - 0x04), (b & 0x80) ? 2 : 0);
    expected.push_back(read);
    expected.push_back(key);
    expected.push_back(DialogTimer(false, 3));
  }
  expected.push_back(DialogTimer(false, 3));  // the read that found nothing
  EXPECT_EQ(bench::Trace({"ReadFile", "keybd_event", "KillTimer([Dialog], 3)"}), expected);
  EXPECT_EQ(bench::Trace({"WaitCommEvent"}), (Lines{"WaitCommEvent -> 0x0001"}));  // one event for all
}

TEST_F(SerialTest, CloseWhileTheReaderWaitsReturnsPromptly) {
  Start();
  bench::ClearTrace();
  DWORD before = bench::Now();
  auto t0 = std::chrono::steady_clock::now();
  Stop();
  auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_EQ(bench::Now(), before) << "no virtual time needed";
  Lines calls = kLinkCalls;
  calls.push_back("KillTimer");
  EXPECT_EQ(bench::Trace(calls), (Lines{"SetCommMask(0x0000)", "WaitCommEvent -> 0x0000", "SetCommMask(0x2139)",
                                        DialogTimer(false, 3), DialogTimer(false, 3), "Power(off)",
                                        "CloseHandle(COM1)", "VirtualFree(ASIC, 0x8000)"}));
  EXPECT_EQ(bench::Trace(kDisplayCalls), Display(DRIVER_STOPPED, false));
  EXPECT_EQ(DriverState, DRIVER_STOPPED);
  EXPECT_EQ(Readers(), 0);
  EXPECT_EQ(bench::PortOpenCount(), 0);
  EXPECT_EQ(bench::AsicMappedCount(), 0);
  EXPECT_EQ(bench::ReservedRegions(), 0);
  EXPECT_EQ(bench::PowerState(), bench::Power::Off);
}

TEST_F(SerialTest, WatchdogRebuildsALinkSilentForTenMinutes) {
  Start();
  bench::ClearTrace();
  bench::Advance(599999);
  EXPECT_TRUE(Link().empty());
  bench::Advance(1);
  // Closed, then 250 ms later opened again.
  EXPECT_EQ(DriverState, DRIVER_STOPPED);
  EXPECT_EQ(bench::PortOpenCount(), 0);
  EXPECT_EQ(Readers(), 0);
  EXPECT_EQ(bench::Trace({"Sleep"}), (Lines{"Sleep(250)"}));
  bench::Advance(249);
  EXPECT_EQ(DriverState, DRIVER_STOPPED);
  bench::Advance(1);
  EXPECT_EQ(DriverState, DRIVER_RUNNING);
  EXPECT_EQ(Readers(), 1);
  EXPECT_EQ(bench::PortOpensTotal(), 2);
  Lines shown = Display(DRIVER_STOPPED, false);
  for (auto& l : Display(DRIVER_RUNNING, false)) shown.push_back(l);
  EXPECT_EQ(bench::Trace(kDisplayCalls), shown);
}

TEST_F(SerialTest, AnyByteRestartsTheTenMinutes) {
  Start();
  bench::Advance(400000);
  bench::SendKeyBytes({0x04, 0x84});
  bench::Settle();
  bench::Advance(599999);
  EXPECT_EQ(bench::PortOpensTotal(), 1);
  EXPECT_EQ(DriverState, DRIVER_RUNNING);
  bench::Advance(1);
  EXPECT_EQ(DriverState, DRIVER_STOPPED);
  bench::Advance(250);
  EXPECT_EQ(DriverState, DRIVER_RUNNING);
  EXPECT_EQ(bench::PortOpensTotal(), 2);
}

TEST_F(SerialTest, WatchdogEndsWithTheReaderAndNeverRestartsAStoppedDriver) {
  Start();
  Stop();
  ASSERT_EQ(DriverState, DRIVER_STOPPED);
  ASSERT_EQ(Readers(), 0);
  bench::ClearTrace();
  TimerTicks();
  bench::Advance(1300000);
  EXPECT_TRUE(TimerTicks().empty()) << "a watchdog outlived its reader";
  EXPECT_TRUE(bench::Trace({"Sleep", "CreateFile"}).empty());
  // Not past here with a running driver: the tick below would start a rebuild, whose
  // pause no one ends.
  ASSERT_EQ(bench::PortOpensTotal(), 1);
  ASSERT_EQ(DriverState, DRIVER_STOPPED);
  // A watchdog tick that reaches a stopped or paused driver does nothing.
  PostToDialog(WM_TIMER, WATCHDOG_TIMER_ID, 0);
  EXPECT_TRUE(bench::Trace().empty());
  bench::SetPortBusy(true);
  Start();
  ASSERT_EQ(DriverState, DRIVER_PAUSED);
  bench::ClearTrace();
  PostToDialog(WM_TIMER, WATCHDOG_TIMER_ID, 0);
  EXPECT_TRUE(bench::Trace().empty());
  EXPECT_EQ(DriverState, DRIVER_PAUSED);
}

// The user-interface thread's id, for bench::Queued.
static DWORD UiThread() { return GetWindowThreadProcessId(hSettingsDlg, nullptr); }

struct PauseStopRow {
  const char* name;
  void (*stop)();
  bool exits;
};

// The rebuild closes the link, sleeps 250 ms on the user-interface thread and opens it
// again. A stop that comes in that pause waits behind it, and is then carried out on
// the reopened link: the pause never turns a stop into a start.
TEST_F(SerialTest, AStopThatComesInTheWatchdogsPauseIsCarriedOutAfterTheReopening) {
  const PauseStopRow rows[] = {
      {"the user's tap", [] { PostStartStop(); }, false},
      {"the stop the program's exit makes", [] { PostMessageW(hSettingsDlg, kRunStop, 0, 0); }, false},
      {"the program's exit", [] {
         bench::AnswerNextMessageBox(IDYES);
         PostMessageW(hSettingsDlg, WM_COMMAND, IDC_EXIT_BUTTON, 0);
       }, true},
  };
  for (const PauseStopRow& row : rows) {
    SCOPED_TRACE(row.name);
    Start();
    ASSERT_EQ(DriverState, DRIVER_RUNNING);
    const int opens = bench::PortOpensTotal();
    bench::Advance(600000);
    ASSERT_EQ(DriverState, DRIVER_STOPPED) << "the rebuild has closed the link";
    ASSERT_EQ(Readers(), 0);
    ASSERT_NE(bench::Threads().find("the program (wWinMain): in Sleep(250) until " + std::to_string(bench::Now() + 250)),
              std::string::npos)
        << bench::Threads();
    row.stop();
    bench::Settle();
    EXPECT_GT(bench::Queued(UiThread()), 0) << "the stop waits behind the pause";
    EXPECT_EQ(DriverState, DRIVER_STOPPED);

    bench::ClearTrace();
    bench::Advance(250);
    EXPECT_EQ(bench::PortOpensTotal(), opens + 1) << "the rebuild opens again first";
    EXPECT_EQ(bench::Trace({"CloseHandle(COM1)"}), (Lines{"CloseHandle(COM1)"})) << "then the stop closes it";
    EXPECT_EQ(bench::LiveThreads(), row.exits ? 0 : 1) << "no reader is left, nor the program after its exit";
    EXPECT_EQ(bench::PortOpenCount(), 0);
    EXPECT_EQ(bench::PowerState(), bench::Power::Off);
    if (row.exits) {
      EXPECT_EQ(WaitForExit(), 0u);
      EXPECT_EQ(bench::TrayIconCount(), 0);
      Restart();
      LaunchStopped();
      continue;
    }
    EXPECT_EQ(DriverState, DRIVER_STOPPED);
    Lines shown = Display(DRIVER_RUNNING, false);
    for (auto& l : Display(DRIVER_STOPPED, false)) shown.push_back(l);
    EXPECT_EQ(bench::Trace(kDisplayCalls), shown);
    TimerTicks();
    bench::ClearTrace();
    bench::Advance(1300000);
    EXPECT_TRUE(TimerTicks().empty()) << "no watchdog or resume timer outlives the stop";
    EXPECT_TRUE(bench::Trace({"CreateFile"}).empty());
  }
}

// The hang this guards against: the test waits for the program's exit, which is queued
// behind the rebuild's pause, and only the test could move the clock. The wait says so
// instead of waiting for ever.
TEST_F(SerialTest, AnExitQueuedBehindTheWatchdogsPauseIsReportedAsAWaitThatCannotEnd) {
  Start();
  bench::Advance(600000);
  ASSERT_EQ(DriverState, DRIVER_STOPPED);
  bench::SetHangReportAfter(200);
  bench::AnswerNextMessageBox(IDYES);
  PostMessageW(hSettingsDlg, WM_COMMAND, IDC_EXIT_BUTTON, 0);
  bench::Settle();
  std::string why;
  EXPECT_EQ(bench::WaitFor(program_, bench::kWaitLimitMs, &why), bench::Waited::NeverEnds);
  EXPECT_NE(why.find("the program (wWinMain): Sleep(250) until 600250 ms"), std::string::npos) << why;
  EXPECT_NE(why.find("clock: 600000 ms (virtual)"), std::string::npos) << why;
  // Moving the clock ends it: the rebuild opens again, then the exit closes everything.
  bench::Advance(250);
  EXPECT_EQ(WaitForExit(), 0u);
  EXPECT_EQ(bench::PortOpenCount(), 0);
}

// The fixture's own tap says so when the program has not taken it, rather than let the
// test read the state of a rebuild half done.
TEST_F(SerialTest, ATapTheProgramCannotTakeFailsTheTestSayingWhereItSleeps) {
  Start();
  bench::Advance(600000);
  ASSERT_EQ(DriverState, DRIVER_STOPPED);
  ::testing::TestPartResultArray failures;
  {
    ::testing::ScopedFakeTestPartResultReporter only(::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD,
                                                     &failures);
    Start();
  }
  ASSERT_EQ(failures.size(), 1);
  std::string said = failures.GetTestPartResult(0).message();
  EXPECT_NE(said.find("the tap on start/stop is still queued"), std::string::npos) << said;
  EXPECT_NE(said.find("the program (wWinMain): in Sleep(250) until 600250 ms"), std::string::npos) << said;
  // Taken once the clock moves: after the rebuild's reopening, so it stops the driver.
  bench::Advance(250);
  EXPECT_EQ(bench::Queued(UiThread()), 0);
  EXPECT_EQ(DriverState, DRIVER_STOPPED);
  EXPECT_EQ(Readers(), 0);
}

struct WatchdogEndRow {
  const char* name;
  void (*end)();
};

// However the reader ended, no timer of the driver's is left running on the dialog:
// a watchdog left armed would tick every ten minutes for the rest of the run.
TEST_F(SerialTest, NoTimerOutlivesTheReaderWhenTheDriverIsStopped) {
  const WatchdogEndRow rows[] = {
      {"user stop", [] {}},
      {"cradle, then stop", [] { bench::SetCarrier(true); bench::Advance(1000); }},
      {"lost port, then stop", [] { bench::FailAllWaits(true); bench::Settle(); }},
  };
  for (const WatchdogEndRow& row : rows) {
    SCOPED_TRACE(row.name);
    bench::SetCarrier(false);
    bench::FailAllWaits(false);
    Start();
    ASSERT_EQ(DriverState, DRIVER_RUNNING);
    bench::Advance(300000);  // the watchdog is half-way
    row.end();
    Stop();
    ASSERT_EQ(DriverState, DRIVER_STOPPED);
    ASSERT_EQ(Readers(), 0);
    TimerTicks();
    bench::Advance(1300000);
    EXPECT_TRUE(TimerTicks().empty());
  }
}

struct MappingRow {
  const char* name;
  bool failAlloc;
  const char* text;
  Lines open;   // mapping calls of one open
  Lines close;  // mapping calls of the close
};

TEST_F(SerialTest, FailedMappingShowsItsBoxOnEachOpenAndTheLinkRunsWithoutPower) {
  const MappingRow rows[] = {
      {"VirtualAlloc", true, "VirtualAlloc v_pASICRegs failed!", {"VirtualAlloc(4096, 0x2000, 0x1) -> NULL"}, {}},
      {"VirtualCopy", false, "VirtualCopy v_pASICRegs failed!",
       {"VirtualAlloc(4096, 0x2000, 0x1)", "VirtualCopy(0xA2000000, 4096, 0x204) -> FALSE"},
       {"VirtualFree(region, 0x8000)"}},
  };
  for (const MappingRow& row : rows) {
    SCOPED_TRACE(row.name);
    bench::MakeVirtualAllocFail(row.failAlloc);
    bench::MakeVirtualCopyFail(!row.failAlloc);
    size_t boxes = bench::MessageBoxes().size();
    bench::ClearTrace();
    Start();
    EXPECT_EQ(bench::Trace({"VirtualAlloc", "VirtualCopy", "VirtualFree"}), row.open);
    auto shown = bench::MessageBoxes();
    ASSERT_EQ(shown.size(), boxes + 1);
    EXPECT_EQ(shown.back().owner, nullptr);
    EXPECT_EQ(shown.back().text, row.text);
    EXPECT_EQ(shown.back().caption, "Error");
    EXPECT_EQ(shown.back().type, (UINT)MB_OK);
    EXPECT_EQ(DriverState, DRIVER_RUNNING);
    EXPECT_EQ(Readers(), 1);

    bench::ClearTrace();
    bench::SendKeyBytes({0x04, 0x84});
    bench::RaiseResume();
    bench::Settle();
    EXPECT_EQ(bench::Trace({"keybd_event(0x41"}).size(), 2u);
    bench::ClearTrace();
    Stop();
    EXPECT_EQ(bench::Trace({"VirtualAlloc", "VirtualCopy", "VirtualFree"}), row.close);
    EXPECT_EQ(bench::ReservedRegions(), 0);
    EXPECT_TRUE(bench::PowerWrites().empty()) << "no power register is written";
    // Shown again at the next open.
    Start();
    EXPECT_EQ(bench::MessageBoxes().size(), boxes + 2);
    Stop();
    EXPECT_TRUE(bench::PowerWrites().empty());
  }
}

// A hand-off keeps the register block for the next open; a reservation whose copy
// failed is no mapping to keep: the next open gives it back before it reserves again.
TEST_F(SerialTest, AReservationWhoseCopyFailedIsGivenBackAcrossAHandOff) {
  bench::MakeVirtualCopyFail(true);
  Start();
  ASSERT_EQ(bench::ReservedRegions(), 1);
  bench::SetCarrier(true);
  bench::Advance(1000);  // the hand-off's second for the synchronisation to start
  ASSERT_EQ(DriverState, DRIVER_PAUSED);
  EXPECT_EQ(bench::ReservedRegions(), 1);
  bench::ClearTrace();
  bench::SetCarrier(false);
  bench::Advance(2000);
  ASSERT_EQ(DriverState, DRIVER_RUNNING);
  EXPECT_EQ(bench::Trace({"VirtualAlloc", "VirtualCopy", "VirtualFree"}),
            (Lines{"VirtualFree(region, 0x8000)", "VirtualAlloc(4096, 0x2000, 0x1)",
                   "VirtualCopy(0xA2000000, 4096, 0x204) -> FALSE"}));
  EXPECT_EQ(bench::ReservedRegions(), 1);
  Stop();
  EXPECT_EQ(bench::ReservedRegions(), 0);
}

TEST_F(SerialTest, ReaderThatFailsToStartGivesEverythingBackAndRetries) {
  bench::FailNextCreateThread(1);
  int handles = bench::OpenHandles();
  Start();
  EXPECT_EQ(DriverState, DRIVER_PAUSED);
  EXPECT_EQ(bench::PortOpenCount(), 0);
  EXPECT_EQ(bench::AsicMappedCount(), 0);
  EXPECT_EQ(bench::ReservedRegions(), 0);
  EXPECT_EQ(bench::PowerWrites(), (Lines{"on", "off"}));
  EXPECT_EQ(Readers(), 0);
  EXPECT_EQ(bench::OpenHandles(), handles);
  // A stop now waits for nothing.
  Stop();
  EXPECT_EQ(DriverState, DRIVER_STOPPED);
  // And a retry after a failed start works.
  bench::FailNextCreateThread(1);
  Start();
  ASSERT_EQ(DriverState, DRIVER_PAUSED);
  bench::Advance(2000);
  EXPECT_EQ(DriverState, DRIVER_RUNNING);
  EXPECT_EQ(Readers(), 1);
}

TEST_F(SerialTest, PortThatFailsEveryWaitIsALostLinkNotASpin) {
  Start();
  bench::ClearTrace();
  bench::FailAllWaits(true);
  bench::Settle();
  const Lines lost = {
      "WaitCommEvent -> FALSE", "GetCommModemStatus -> 0x00", "SetCommMask(0x2139)",
      "WaitCommEvent -> FALSE", "GetCommModemStatus -> 0x00", "SetCommMask(0x2139)",
      "WaitCommEvent -> FALSE", "GetCommModemStatus -> 0x00", "SetCommMask(0x2139)",
      "WaitCommEvent -> FALSE", "SetCommMask(0x0000)",        "CloseHandle(COM1)",
  };
  EXPECT_EQ(Link(), lost);
  EXPECT_EQ(DriverState, DRIVER_PAUSED);
  EXPECT_EQ(Readers(), 0);
  EXPECT_TRUE(bench::StartedPrograms().empty());
  EXPECT_EQ(bench::Trace(kTimerCalls).back(), DialogTimer(false, 3));
  EXPECT_EQ(bench::Trace({"SetTimer([Dialog], 2"}), (Lines{DialogTimer(true, 2, 2000)}));

  // Each retry opens, finds the port dead again and pauses: a few waits per 2000 ms.
  bench::ClearTrace();
  bench::Advance(2000);
  EXPECT_EQ(bench::Trace({"WaitCommEvent"}).size(), 4u);
  EXPECT_EQ(DriverState, DRIVER_PAUSED);
  EXPECT_EQ(Readers(), 0);

  bench::FailAllWaits(false);
  bench::Advance(2000);
  EXPECT_EQ(DriverState, DRIVER_RUNNING);
  bench::ClearTrace();
  bench::SendKeyBytes({0x04, 0x84});
  bench::Settle();
  EXPECT_EQ(bench::Trace({"keybd_event"}), (Lines{"keybd_event(0x41, 0x0)", "keybd_event(0x41, 0x2)"}));
}

TEST_F(SerialTest, AFewFailedWaitsOnAPortThatAnswersAreEmptyEvents) {
  Start();
  bench::FailNextWaits(3);
  bench::RaiseResume();  // ends the pending wait; the next three fail
  bench::Settle();
  EXPECT_EQ(DriverState, DRIVER_RUNNING);
  EXPECT_EQ(Readers(), 1);
  bench::ClearTrace();
  bench::SendKeyBytes({0x04, 0x84});
  bench::Settle();
  EXPECT_EQ(bench::Trace({"keybd_event"}).size(), 2u);
}

TEST_F(SerialTest, MissingPortIsRefusedAndRetried) {
  bench::SetPortMissing(true);
  Start();
  EXPECT_EQ(DriverState, DRIVER_PAUSED);
  EXPECT_EQ(Readers(), 0);
  bench::Advance(10000);
  EXPECT_EQ(bench::Trace({"CreateFile"}).size(), 6u);  // the start and five retries
}

TEST_F(SerialTest, ResumeDuringACloseLeavesTheKeyboardUnpowered) {
  for (int i = 0; i < 200; ++i) {
    Start();
    ASSERT_EQ(DriverState, DRIVER_RUNNING);
    if (i % 2) {
      PostStartStop();
      bench::RaiseResume();
    } else {
      bench::RaiseResume();
      PostStartStop();
    }
    bench::Settle();
    ASSERT_EQ(DriverState, DRIVER_STOPPED);
    ASSERT_EQ(bench::PowerState(), bench::Power::Off) << "round " << i;
    ASSERT_EQ(bench::PowerWrites().back(), "off");
    ASSERT_EQ(bench::Trace({"Power"}).back(), "Power(off)");
    ASSERT_EQ(Readers(), 0);
  }
}

// A reader that finds the line dead at once pauses only once the start that made it is
// done showing the driver running: the pause never lands inside that start, where the
// start's own "running" would overwrite it.
TEST_F(SerialTest, APauseFromANewReaderWaitsForItsStartToFinish) {
  bench::FailAllWaits(true);
  HoldNextStatusIcon();  // the start is held while it shows the driver running
  Start();
  EXPECT_EQ(DriverState, DRIVER_RUNNING) << "the reader has not paused inside the start";
  EXPECT_EQ(Readers(), 1);
  EXPECT_EQ(bench::Trace(kDisplayCalls), (Lines{Display(DRIVER_RUNNING, false)[0]}));
  SetEvent(release_);
  bench::Settle();
  EXPECT_EQ(DriverState, DRIVER_PAUSED);
  EXPECT_EQ(Readers(), 0);
  Lines shown = Display(DRIVER_RUNNING, false);
  for (auto& l : Display(DRIVER_PAUSED, false)) shown.push_back(l);
  EXPECT_EQ(bench::Trace(kDisplayCalls), shown);
  EXPECT_EQ(bench::Trace({"SetTimer([Dialog], 2", "KillTimer([Dialog], 2"}), (Lines{DialogTimer(true, 2, 2000)}));
  // And it retries as any pause does.
  bench::FailAllWaits(false);
  bench::Advance(2000);
  EXPECT_EQ(DriverState, DRIVER_RUNNING);
  EXPECT_EQ(Readers(), 1);
}

}  // namespace
}  // namespace shelltest
