// Top-level windows seen from other processes: what lets a second copy of a program
// find the first one's main window with FindWindowW and post it a command.
//
// While switched on, each top-level window of this process is published as a Unix
// datagram socket in a private folder ($XDG_RUNTIME_DIR/brindle, else
// /tmp/brindle-<uid>, mode 0700), named from its class (letter case ignored) and
// title. FindWindowW that finds no window of its own looks there and answers with a
// proxy handle; PostMessageW to a proxy sends (msg, wParam, lParam) over the socket,
// and a receiver thread of the owning process posts it to the real window. Off unless
// switched on: tests run without it and never touch the folder.
#pragma once

#include <string>

#include "win32.h"

namespace sim {

// Switched on by a program's entry (and by tests of this); bench::Reset switches it off.
// Withdrawn again at exit.
void ShareWindowsAcrossProcesses(bool on);
// The folder used while switched on.
std::string SharedWindowFolder();

// Hooks of the window manager, called with the platform lock held.
void PublishWindow(HWND hwnd, const std::wstring& className, const std::wstring& title);
void RetitleWindow(HWND hwnd, const std::wstring& className, const std::wstring& title);
void WithdrawWindow(HWND hwnd);
HWND FindSharedWindow(const WCHAR* className, const WCHAR* title);

// For PostMessageW, without the platform lock.
bool IsSharedWindowProxy(HWND hwnd);
BOOL PostToSharedWindow(HWND proxy, UINT msg, WPARAM wp, LPARAM lp);

}  // namespace sim
