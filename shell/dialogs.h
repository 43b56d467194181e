// The settings dialog (the hub of the user-interface thread) and the About box.
#pragma once

#include "platform/platform.h"

#define CAPS_HOTKEY_ID 1
#define VERSION_TEXT L"v1.00.100.4"

// Non-zero while the Caps Lock hot key is registered.
extern BOOL HotkeyRegistered;

INT_PTR CALLBACK SettingsDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);

// The About box (template 104), modal over `parent`.
void ShowAboutBox(HWND parent);
// The help viewer on the driver's topic.
void OpenHelp();
