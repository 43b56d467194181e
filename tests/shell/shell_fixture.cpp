#include "shell_fixture.h"

#include <mutex>

#include "tests/support/start_values.h"

// The picker is not part of these tests; the translator's calls to it are recorded.
void OpenPicker() { bench::Record("OpenPicker()"); }
void ClosePicker() { bench::Record("ClosePicker()"); }
void DrawPickerBitmap(HWND, WORD id) { bench::Record("DrawPickerBitmap(" + std::to_string(id) + ")"); }

namespace shelltest {

const Lines kLinkCalls = {"CreateFile", "GetCommModemStatus", "SetCommState", "EscapeCommFunction",
                          "VirtualAlloc", "VirtualCopy", "VirtualFree", "Power", "SetCommTimeouts",
                          "SetCommMask", "WaitCommEvent", "ReadFile", "CloseHandle(COM1)",
                          "ShellExecuteEx", "Sleep", "MessageBox"};
const Lines kDisplayCalls = {"SendDlgItemMessage", "SetDlgItemText", "Shell_NotifyIcon"};
const Lines kTimerCalls = {"SetTimer", "KillTimer"};

std::string DialogTimer(bool set, int id, unsigned ms) {
  if (set) return "SetTimer([SettingsDlg], " + std::to_string(id) + ", " + std::to_string(ms) + ")";
  return "KillTimer([SettingsDlg], " + std::to_string(id) + ")";
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

// ---- the stand-in windows ----------------------------------------------------------

static std::mutex commandMu;
static std::vector<unsigned> commands;
static std::vector<unsigned> timerTicks;
static HANDLE releaseEvent = nullptr;

static INT_PTR CALLBACK SettingsProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER:
      {
        std::lock_guard<std::mutex> g(commandMu);
        timerTicks.push_back(static_cast<unsigned>(wp));
      }
      switch (wp) {
        case REPEAT_TIMER_ID:
          SetEvent(hTouchEvent);
          RepeatTick();
          return TRUE;
        case RESUME_TIMER_ID:
          return OnResumeTimer();
        case WATCHDOG_TIMER_ID:
          return OnWatchdogTimer();
      }
      return FALSE;
    case TRAY_NOTIFY_MESSAGE:
      return OnTrayNotify(lp);
    case kRunInit:
      InitDriver();
      return TRUE;
    case kRunStart:
      StartDriver();
      return TRUE;
    case kRunStop:
      StopDriver();
      return TRUE;
    case kRunShutdown:
      ShutdownDriver();
      return TRUE;
    case kRunBlockThenStop:
      WaitForSingleObject(releaseEvent, INFINITE);
      StopDriver();
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return TRUE;
    case WM_DESTROY:
      PostQuitMessage(0);
      return TRUE;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

static LRESULT CALLBACK DialogWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return SettingsProc(hwnd, msg, wp, lp);
}

static LRESULT CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COMMAND) {
    std::lock_guard<std::mutex> g(commandMu);
    commands.push_back(static_cast<unsigned>(wp));
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

static DWORD WINAPI UiThread(LPVOID) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DialogWndProc;
  wc.lpszClassName = L"SettingsDlg";
  RegisterClassW(&wc);
  wc.lpfnWndProc = DefWindowProcW;
  wc.lpszClassName = L"Static";
  RegisterClassW(&wc);
  wc.lpfnWndProc = MainProc;
  wc.lpszClassName = L"MainWnd";
  RegisterClassW(&wc);
  hMainWnd = CreateWindowExW(0, L"MainWnd", L"Keyboard", WS_OVERLAPPED, 0, 0, 240, 320, nullptr, nullptr,
                             nullptr, nullptr);
  hSettingsDlg = CreateWindowExW(0, L"SettingsDlg", L"", WS_CHILD | WS_VISIBLE, 0, 0, 240, 294, hMainWnd,
                                 nullptr, nullptr, nullptr);
  CreateWindowExW(0, L"Static", L"", WS_CHILD | WS_VISIBLE, 100, 10, 32, 32, hSettingsDlg,
                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_STATUS_ICON)), nullptr, nullptr);
  CreateWindowExW(0, L"Static", L"", WS_CHILD | WS_VISIBLE, 10, 50, 220, 16, hSettingsDlg,
                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_STATUS_TEXT)), nullptr, nullptr);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  DestroyWindow(hMainWnd);
  return 0;
}

// ---- the fixture ---------------------------------------------------------------------

void ShellTest::SetUp() {
  ASSERT_TRUE(bench::Reset());
  {
    std::lock_guard<std::mutex> g(commandMu);
    commands.clear();
    timerTicks.clear();
  }
  // The program's start values.
  DriverState = DRIVER_STOPPED;
  TrayIconPending = 1;
  hComm = INVALID_HANDLE_VALUE;
  ReaderStop = 0;
  ReaderExited = 1;
  hReaderExitEvent = nullptr;
  v_pASICRegs = nullptr;
  AsicMapped = 0;
  testsupport::ResetEngineState();
  hTouchEvent = nullptr;

  hResDll = LoadLibraryW(L"brindleres.dll");
  ASSERT_NE(hResDll, nullptr) << "brindleres.dll must lie beside the test program";
  hInstance = GetModuleHandleW(nullptr);
  release_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  releaseEvent = release_;

  uiThread_ = CreateThread(nullptr, 0, UiThread, nullptr, 0, nullptr);
  ASSERT_NE(uiThread_, nullptr);
  bench::Settle();
  ASSERT_NE(hSettingsDlg, nullptr);
  Run(kRunInit);
  ASSERT_NE(hTouchEvent, nullptr);
  bench::ClearTrace();
}

void ShellTest::TearDown() {
  if (uiThread_ != nullptr) {
    // Leave no reader behind: stop a driver that still runs or is paused.
    if (DriverState != DRIVER_STOPPED) Stop();
    PostMessageW(hSettingsDlg, WM_CLOSE, 0, 0);
    WaitForSingleObject(uiThread_, INFINITE);
    CloseHandle(uiThread_);
    uiThread_ = nullptr;
  }
  hSettingsDlg = nullptr;
  hMainWnd = nullptr;
  if (hTouchEvent != nullptr) CloseHandle(hTouchEvent);
  hTouchEvent = nullptr;
  if (hResDll != nullptr) FreeLibrary(hResDll);
  hResDll = nullptr;
  EXPECT_TRUE(bench::Reset());
}

void ShellTest::Run(UINT op) {
  PostMessageW(hSettingsDlg, op, 0, 0);
  bench::Settle();
}

void ShellTest::PostToDialog(UINT msg, WPARAM wp, LPARAM lp) {
  PostMessageW(hSettingsDlg, msg, wp, lp);
  bench::Settle();
}

std::vector<unsigned> ShellTest::MainCommands() {
  std::lock_guard<std::mutex> g(commandMu);
  return commands;
}

std::vector<unsigned> ShellTest::TimerTicks() {
  std::lock_guard<std::mutex> g(commandMu);
  std::vector<unsigned> ticks;
  ticks.swap(timerTicks);
  return ticks;
}

int ShellTest::Readers() { return bench::LiveThreads() - 1; }

}  // namespace shelltest
