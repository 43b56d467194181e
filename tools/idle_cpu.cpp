// Idle CPU of a running driver: the driver on the tty backend of the simulated
// handheld (a pseudo-terminal of its own, the real clock, a stand-in settings dialog
// on a user-interface thread), left alone for N seconds with no key pressed. Prints
// the CPU time the process used and its share of the real time.
//
//   idle_cpu [seconds]     (default 10)
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "engine/inject.h"
#include "engine/serial.h"
#include "engine/state.h"
#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_comm.h"
#include "shell/driver.h"

// The picker is not part of this measurement.
void OpenPicker() {}
void ClosePicker() {}
void DrawPickerBitmap(HWND, WORD) {}

enum : UINT { kStart = WM_APP + 100, kStop };

static LRESULT CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER:
      if (wp == 1) {
        SetEvent(hTouchEvent);
        RepeatTick();
      } else if (wp == 2) {
        OnResumeTimer();
      } else if (wp == 3) {
        OnWatchdogTimer();
      }
      return 0;
    case kStart:
      InitDriver();
      StartDriver();
      return 0;
    case kStop:
      ShutdownDriver();
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

static DWORD WINAPI UiThread(LPVOID) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DialogProc;
  wc.lpszClassName = L"SettingsDlg";
  RegisterClassW(&wc);
  wc.lpfnWndProc = DefWindowProcW;
  wc.lpszClassName = L"Static";
  RegisterClassW(&wc);
  hSettingsDlg = CreateWindowExW(0, L"SettingsDlg", L"", WS_POPUP, 0, 0, 240, 294, nullptr, nullptr, nullptr,
                                 nullptr);
  CreateWindowExW(0, L"Static", L"", WS_CHILD, 0, 0, 32, 32, hSettingsDlg, (HMENU)(UINT_PTR)1026, nullptr,
                  nullptr);
  CreateWindowExW(0, L"Static", L"", WS_CHILD, 0, 40, 200, 16, hSettingsDlg, (HMENU)(UINT_PTR)1040, nullptr,
                  nullptr);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  return 0;
}

static double CpuSeconds() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int main(int argc, char** argv) {
  int seconds = argc > 1 ? atoi(argv[1]) : 10;
  if (seconds <= 0) seconds = 10;

  int master = -1, slave = -1;
  char name[256];
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    perror("openpty");
    return 1;
  }
  bench::UseRealClock(true);
  bench::UseComPath(name);
  hResDll = LoadLibraryW(L"brindleres.dll");
  hInstance = GetModuleHandleW(nullptr);

  HANDLE ui = CreateThread(nullptr, 0, UiThread, nullptr, 0, nullptr);
  bench::Settle();
  PostMessageW(hSettingsDlg, kStart, 0, 0);
  bench::Settle();
  if (DriverState != 1) {
    fprintf(stderr, "the driver did not start on %s (state %d)\n", name, (int)DriverState.load());
    return 1;
  }

  double cpu0 = CpuSeconds();
  auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  double cpu = CpuSeconds() - cpu0;
  double real = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

  // The driver was live all along: a key byte written now is typed.
  bench::ClearTrace();
  const unsigned char key[] = {0x04, 0x84};
  bool typed = false;
  if (write(master, key, sizeof key) == (ssize_t)sizeof key) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!typed && std::chrono::steady_clock::now() < until) {
      typed = bench::Trace({"keybd_event(0x41"}).size() == 2;
      if (!typed) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  PostMessageW(hSettingsDlg, kStop, 0, 0);
  WaitForSingleObject(ui, INFINITE);
  CloseHandle(ui);
  close(master);
  close(slave);

  printf("driver running on %s, no key pressed, %.1f s real time\n", name, real);
  printf("process CPU time: %.6f s (%.4f %%)\n", cpu, 100.0 * cpu / real);
  printf("a key pressed afterwards was typed: %s\n", typed ? "yes" : "no");
  return typed ? 0 : 1;
}
