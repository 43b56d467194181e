#include "shell_fixture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

// The picker is not part of these tests; the translator's calls to it are recorded.

namespace shelltest {

const Lines kLinkCalls = {"CreateFile", "GetCommModemStatus", "SetCommState", "EscapeCommFunction",
                          "VirtualAlloc", "VirtualCopy", "VirtualFree", "Power", "SetCommTimeouts",
                          "SetCommMask", "WaitCommEvent", "ReadFile", "CloseHandle(COM1)",
                          "ShellExecuteEx", "Sleep", "MessageBox"};
const Lines kDisplayCalls = {"SendDlgItemMessage(1026", "SetDlgItemText(1040", "Shell_NotifyIcon"};
const Lines kTimerCalls = {"SetTimer", "KillTimer"};

std::string DialogTimer(bool set, int id, unsigned ms) {
  if (set) return "SetTimer([Dialog], " + std::to_string(id) + ", " + std::to_string(ms) + ")";
  return "KillTimer([Dialog], " + std::to_string(id) + ")";
}

Lines Display(int state, bool add) {
  static const char* const kText[] = {"Stopped", "Running", "Paused"};
  static const int kStatusIcon[] = {151, 145, 152};
  static const int kTrayIcon[] = {112, 111, 113};
  return {"SendDlgItemMessage(1026, STM_SETIMAGE, icon=" + std::to_string(kStatusIcon[state]) + ")",
          std::string("SetDlgItemText(1040, ") + kText[state] + ")",
          std::string("Shell_NotifyIcon(") + (add ? "NIM_ADD" : "NIM_MODIFY") + ", 1, icon=" +
              std::to_string(kTrayIcon[state]) + ")"};
}

// ---- hooks in front of the program's windows -----------------------------------------

static std::mutex recordMu;
static std::vector<unsigned> commands;
static std::vector<unsigned> timerTicks;
static std::atomic<WNDPROC> dialogProc{nullptr};
static std::atomic<WNDPROC> mainProc{nullptr};
static std::atomic<WNDPROC> statusIconProc{nullptr};
static std::atomic<HANDLE> releaseEvent{nullptr};
static std::atomic<bool> holdStatusIcon{false};
static std::atomic<bool> watchPause{false};
static std::atomic<bool> pauseBegun{false};

// A hold of the user-interface thread ends when the test releases it, or fails the
// test after bench::kWaitLimitMs of real time (the thread then goes on).
static void HoldUntilReleased(const char* where) {
  std::string why;
  if (bench::WaitFor(releaseEvent.load(), bench::kWaitLimitMs, &why) != bench::Waited::Signaled)
    ADD_FAILURE() << "the user-interface thread, held " << where << ", was never released: " << why;
}

// What the button sends when tapped.
static void PressStartStopButton(HWND dialog) {
  CallWindowProcW(dialogProc.load(), dialog, WM_COMMAND, MAKEWPARAM(IDC_START_STOP, BN_CLICKED),
                  reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_START_STOP)));
}

static LRESULT CALLBACK DialogHook(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER: {
      std::lock_guard<std::mutex> g(recordMu);
      timerTicks.push_back(static_cast<unsigned>(wp));
      break;
    }
    case WM_NULL:
      // Only the reader sends it, as the first step of its pause.
      if (watchPause) pauseBegun = true;
      break;
    case kRunStop:
      StopDriver();
      return 0;
    case kRunBlockThenStop:
      HoldUntilReleased("before a stop");
      PressStartStopButton(hwnd);
      return 0;
    case kRunAnswerPauseThenBlock: {
      // Answers what is sent to this thread, as the message loop would, until the reader
      // has been let into its pause; from then on answers nothing until released.
      HANDLE release = releaseEvent.load();
      bool released = false;
      pauseBegun = false;
      watchPause = true;
      auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(bench::kWaitLimitMs);
      while (!pauseBegun && !released) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - std::chrono::steady_clock::now());
        std::string why;
        bench::Waited w = bench::WaitFor(release, static_cast<unsigned>(std::max<long long>(left.count(), 0)), &why,
                                         true);
        if (w == bench::Waited::SentMessage) {
          MSG m;
          PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
        } else {
          if (w != bench::Waited::Signaled)
            ADD_FAILURE() << "the user-interface thread waited for the reader's pause, or the test's release: " << why;
          released = true;
        }
      }
      watchPause = false;
      if (!released) HoldUntilReleased("once the reader's pause had begun");
      PressStartStopButton(hwnd);
      return 0;
    }
  }
  return CallWindowProcW(dialogProc.load(), hwnd, msg, wp, lp);
}

static LRESULT CALLBACK StatusIconHook(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == STM_SETIMAGE && holdStatusIcon.exchange(false)) HoldUntilReleased("inside a status icon change");
  return CallWindowProcW(statusIconProc.load(), hwnd, msg, wp, lp);
}

static LRESULT CALLBACK MainHook(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COMMAND) {
    std::lock_guard<std::mutex> g(recordMu);
    commands.push_back(static_cast<unsigned>(wp));
  }
  return CallWindowProcW(mainProc.load(), hwnd, msg, wp, lp);
}

// The original is kept before the hook is in place: a timer may reach the hook at once.
static void Hook(HWND hwnd, std::atomic<WNDPROC>* original, WNDPROC hook) {
  original->store(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC)));
  SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(hook));
}

// ---- the fixture ---------------------------------------------------------------------

void ShellTest::SetUp() {
  ProgramTest::SetUp();
  {
    std::lock_guard<std::mutex> g(recordMu);
    commands.clear();
    timerTicks.clear();
  }
  holdStatusIcon = false;
  watchPause = false;
  release_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  releaseEvent = release_;
  if (launchStopped_) LaunchStopped();
}

void ShellTest::TearDown() {
  // A test that failed while holding the user-interface thread must not hang the exit.
  if (release_ != nullptr) SetEvent(release_);
  holdStatusIcon = false;
  bench::Settle();
  ProgramTest::TearDown();
  release_ = nullptr;
  releaseEvent = nullptr;
}

void ShellTest::LaunchHooked() {
  Launch();
  ASSERT_TRUE(Running());
  ASSERT_NE(hSettingsDlg, nullptr);
  Hook(hSettingsDlg, &dialogProc, DialogHook);
  Hook(hMainWnd, &mainProc, MainHook);
  Hook(GetDlgItem(hSettingsDlg, IDC_STATUS_ICON), &statusIconProc, StatusIconHook);
}

void ShellTest::Restart() {
  if (Running()) ExitWithAnswer(IDYES);
  WaitForExit();
  ASSERT_TRUE(bench::Reset());
  programtest::ResetProgramState();
  release_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  releaseEvent = release_;
}

void ShellTest::LaunchStopped() {
  bench::SetPortBusy(true);
  LaunchHooked();
  if (HasFatalFailure()) return;
  ASSERT_EQ(DriverState, DRIVER_PAUSED);
  ASSERT_EQ(bench::Trace(kDisplayCalls), Display(DRIVER_PAUSED, true));
  bench::SetPortBusy(false);
  Stop();
  ASSERT_EQ(DriverState, DRIVER_STOPPED);
  ASSERT_EQ(bench::TrayIconCount(), 1);
  bench::ClearTrace();
}

// The user brings the driver's page to the front (another program may be there) and taps.
static HWND TapStartStop() {
  SetForegroundWindow(hMainWnd);
  return bench::TapControl(hSettingsDlg, IDC_START_STOP);
}

// A settled handheld is not one that has done what the test asked: a user-interface
// thread asleep on the virtual clock (a watchdog rebuild's pause, say) counts as quiet
// with the tap still queued behind it, and reading the driver's state then reads a
// moment the user never asked about.
static void ExpectTaken(const char* what) {
  if (bench::Queued(GetWindowThreadProcessId(hSettingsDlg, nullptr)) != 0)
    ADD_FAILURE() << what << " is still queued: the user-interface thread is not taking messages. Where each "
                  << "thread waits:\n" << bench::Threads();
}

void ShellTest::Start() {
  EXPECT_EQ(DriverState, DRIVER_STOPPED) << "the button starts only a stopped driver";
  EXPECT_NE(TapStartStop(), nullptr);
  bench::Settle();
  ExpectTaken("the tap on start/stop");
}

void ShellTest::Stop() {
  if (DriverState == DRIVER_STOPPED) {
    Run(kRunStop);
    return;
  }
  EXPECT_NE(TapStartStop(), nullptr);
  bench::Settle();
  ExpectTaken("the tap on start/stop");
}

void ShellTest::PostStartStop() {
  PostMessageW(hSettingsDlg, WM_COMMAND, MAKEWPARAM(IDC_START_STOP, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(hSettingsDlg, IDC_START_STOP)));
}

void ShellTest::Run(UINT op) {
  PostMessageW(hSettingsDlg, op, 0, 0);
  bench::Settle();
  ExpectTaken("the test's request to the dialog");
}

void ShellTest::PostToDialog(UINT msg, WPARAM wp, LPARAM lp) {
  PostMessageW(hSettingsDlg, msg, wp, lp);
  bench::Settle();
  ExpectTaken("the message posted to the dialog");
}

void ShellTest::HoldNextStatusIcon() { holdStatusIcon = true; }

std::vector<unsigned> ShellTest::MainCommands() {
  std::lock_guard<std::mutex> g(recordMu);
  return commands;
}

std::vector<unsigned> ShellTest::TimerTicks() {
  std::lock_guard<std::mutex> g(recordMu);
  std::vector<unsigned> ticks;
  ticks.swap(timerTicks);
  return ticks;
}

int ShellTest::Readers() { return bench::LiveThreads() - 1; }

}  // namespace shelltest
