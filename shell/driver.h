// The driver's run state (stopped, running, paused), its display in the settings
// dialog and the tray, and the handlers the settings dialog routes to it.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/shell_interface.h"
#include "platform/platform.h"

#define DRIVER_STOPPED 0
#define DRIVER_RUNNING 1
#define DRIVER_PAUSED 2

#define RESUME_TIMER_ID 2
#define RESUME_INTERVAL_MS 2000u
// The tray icon's notification message and id.
#define TRAY_NOTIFY_MESSAGE (WM_APP + 1)
#define TRAY_ICON_UID 1

// Written on the user-interface thread and by the reader's hand-off.
extern std::atomic<int32_t> DriverState;
// 1 until the first display adds the tray icon.
extern std::atomic<int32_t> TrayIconPending;

// Once, from the settings dialog's initialisation, after hSettingsDlg is known.
void InitDriver();
void StartDriver();
void StopDriver();
// PauseDriver (engine/shell_interface.h) runs on the user-interface thread, or on the
// reader thread when it gives up the line.
void SetDriverState(int32_t state);
void ShowDriverState();
void RemoveTrayIcon();
// From the main window's destruction.
void ShutdownDriver();

// Routed here by the settings dialog procedure; each answers TRUE.
INT_PTR OnResumeTimer();    // WM_TIMER id 2
INT_PTR OnWatchdogTimer();  // WM_TIMER id 3
INT_PTR OnTrayNotify(LPARAM lParam);  // the tray notification message
