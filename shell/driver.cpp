#include "shell/driver.h"

#include <cstring>

#include "engine/inject.h"
#include "engine/serial.h"
#include "shell/resids.h"
#include "shell/settings.h"
#include "shell/state.h"

std::atomic<int32_t> DriverState{DRIVER_STOPPED};
std::atomic<int32_t> TrayIconPending{1};

void InitDriver() {
  CapsLockOn = (GetKeyState(VK_CAPITAL) & 1) ? 1 : 0;
  hTouchEvent = CreateEventW(nullptr, FALSE, FALSE, L"TouchEvent");
  // The reader signals its exit here; a close sleeps on it. One for the whole run.
  if (hReaderExitEvent == nullptr) hReaderExitEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  LoadSettings();
}

static void FillTrayRecord(NOTIFYICONDATA* data, UINT flags, HICON icon) {
  memset(data, 0, sizeof *data);
  data->cbSize = sizeof *data;  // 152 on the handheld
  data->hWnd = hSettingsDlg;
  data->uID = TRAY_ICON_UID;
  data->uFlags = flags;
  data->uCallbackMessage = TRAY_NOTIFY_MESSAGE;
  data->hIcon = icon;
}

void ShowDriverState() {
  int statusIcon, statusText, trayIcon;
  // The button says what a tap on it does: a running or paused driver is stopped.
  int buttonText = IDS_STOP_BUTTON;
  switch (DriverState.load()) {
    case DRIVER_RUNNING:
      statusIcon = IDI_STATUS_RUNNING;
      statusText = IDS_STATUS_RUNNING;
      trayIcon = IDI_TRAY_RUNNING;
      break;
    case DRIVER_PAUSED:
      statusIcon = IDI_STATUS_PAUSED;
      statusText = IDS_STATUS_PAUSED;
      trayIcon = IDI_TRAY_PAUSED;
      break;
    default:
      statusIcon = IDI_STATUS_STOPPED;
      statusText = IDS_STATUS_STOPPED;
      trayIcon = IDI_TRAY_STOPPED;
      buttonText = IDS_START_BUTTON;
      break;
  }
  HICON icon = LoadIconW(hInstance, MAKEINTRESOURCEW(statusIcon));
  WCHAR text[RES_STRING_MAX] = {0};
  LoadStringW(hResDll, statusText, text, RES_STRING_MAX);
  SendDlgItemMessageW(hSettingsDlg, IDC_STATUS_ICON, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
  SetDlgItemTextW(hSettingsDlg, IDC_STATUS_TEXT, text);
  WCHAR label[RES_STRING_MAX] = {0};
  // A library without the word leaves the template's text.
  if (LoadStringW(hResDll, buttonText, label, RES_STRING_MAX) > 0)
    SetDlgItemTextW(hSettingsDlg, IDC_START_STOP, label);

  NOTIFYICONDATA data;
  FillTrayRecord(&data, NIF_MESSAGE | NIF_ICON, LoadIconW(hInstance, MAKEINTRESOURCEW(trayIcon)));
  // Cleared even when the add fails: later displays only modify.
  if (TrayIconPending.exchange(0) != 0)
    Shell_NotifyIcon(NIM_ADD, &data);
  else
    Shell_NotifyIcon(NIM_MODIFY, &data);
}

void SetDriverState(int32_t state) {
  DriverState = state;
  ShowDriverState();
}

void PauseDriver() {
  SetDriverState(DRIVER_PAUSED);
  SetTimer(hSettingsDlg, RESUME_TIMER_ID, RESUME_INTERVAL_MS, nullptr);
}

void StartDriver() {
  if (OpenSerialLink()) {
    if (DriverState == DRIVER_PAUSED) KillTimer(hSettingsDlg, RESUME_TIMER_ID);
    SetDriverState(DRIVER_RUNNING);
    return;
  }
  // Paused already: the resume timer tries again at its next expiry.
  if (DriverState == DRIVER_STOPPED) PauseDriver();
}

void StopDriver() {
  if (DriverState == DRIVER_RUNNING) {
    CloseSerialLink();
  } else {
    // Paused by a reader that is still on its way out (its pause may still be showing
    // itself through this thread): let it finish, so its resume timer is armed before
    // it is killed below and nothing of its pause lands after the stop.
    AwaitReaderExit();
  }
  // Read again: a hand-off may have paused the driver while the link was closing.
  if (DriverState == DRIVER_PAUSED) KillTimer(hSettingsDlg, RESUME_TIMER_ID);
  SetDriverState(DRIVER_STOPPED);
}

void RemoveTrayIcon() {
  NOTIFYICONDATA data;
  FillTrayRecord(&data, 0, nullptr);
  data.uCallbackMessage = 0;
  Shell_NotifyIcon(NIM_DELETE, &data);
}

void ShutdownDriver() {
  StopDriver();
  RemoveTrayIcon();
  StopRepeat();
}

INT_PTR OnResumeTimer() {
  StartDriver();
  return TRUE;
}

INT_PTR OnWatchdogTimer() {
  // Only a running link is rebuilt; a stopped or paused driver stays as it is.
  if (DriverState == DRIVER_RUNNING) {
    ReaderRebuild = 1;
    StopDriver();
    ReaderRebuild = 0;
    Sleep(250);
    StartDriver();
  }
  return TRUE;
}

INT_PTR OnTrayNotify(LPARAM lParam) {
  if (lParam == WM_LBUTTONDOWN) {
    // Waits out a double tap before bringing the window to the front.
    Sleep(GetDoubleClickTime());
    PostMessageW(hMainWnd, WM_COMMAND, IDM_BRING_TO_FRONT, 0);
  }
  return TRUE;
}
