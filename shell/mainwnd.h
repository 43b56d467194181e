// The program's entry, its main window (which frames the settings dialog and carries
// the menu bar) and the message loop.
#pragma once

#include "platform/platform.h"

// Menu bar height the main window gives up at the bottom of the screen.
#define MENU_BAR_HEIGHT 26

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
extern "C" int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);
