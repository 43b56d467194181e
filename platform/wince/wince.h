// The Pocket PC calls and values that desktop Win32 lacks, for the Windows builds.
// Included by platform/platform.h right after <windows.h>. Where the handheld's value
// collides with a desktop one, the desktop build gets a value of its own and the
// call that takes it strips it again, so program code can use the handheld's names.
#pragma once

// ShellExecuteEx and Shell_NotifyIcon, which WIN32_LEAN_AND_MEAN keeps out of <windows.h>.
#include <shellapi.h>
// Trackbar messages: the handheld declares them with the other controls.
#include <commctrl.h>

// ---- keyboard -------------------------------------------------------------------

// The handheld's "no key click" flag is 4, which desktop Windows reads as
// KEYEVENTF_UNICODE. Here it is a bit desktop keybd_event does not use, and
// keybd_event is routed through a wrapper that drops it before the real call.
#define KEYEVENTF_SILENT 0x10000000u
void WINAPI brindle_keybd_event(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR extra);
#define keybd_event brindle_keybd_event
// Returns once another thread's window has taken the activation.
BOOL WINAPI brindle_SetForegroundWindow(HWND hwnd);
#define SetForegroundWindow brindle_SetForegroundWindow

// The power key.
#ifndef VK_OFF
#define VK_OFF 0xDF
#endif

// Key state flags of PostKeybdMessage (low bits: this key; high bits: shift state).
typedef UINT32 KEY_STATE_FLAGS;
#define KeyStateToggledFlag 0x00000001
#define KeyStatePrevDownFlag 0x00000040
#define KeyStateDownFlag 0x00000080
#define KeyShiftNoCharacterFlag 0x00010000
#define KeyShiftDeadFlag 0x00020000
#define KeyShiftRightShiftFlag 0x00200000
#define KeyShiftLeftAltFlag 0x01000000
#define KeyShiftLeftShiftFlag 0x02000000
#define KeyShiftLeftCtrlFlag 0x04000000
#define KeyShiftCapitalFlag 0x08000000
#define KeyShiftAnyAltFlag 0x10000000
#define KeyShiftAnyShiftFlag 0x20000000
#define KeyShiftAnyCtrlFlag 0x40000000

// Posts a key and/or characters. hwnd (HWND)-1 or NULL: the focus window (desktop:
// through SendInput); any other window: posted to that window. Each character whose
// shift-state entry lacks KeyShiftNoCharacterFlag is typed once; the key itself goes
// down or up by KeyStateDownFlag when no character carries the input.
BOOL WINAPI PostKeybdMessage(HWND hwnd, UINT vk, KEY_STATE_FLAGS keyStateFlags, UINT cCharacters,
                             UINT* pShiftStateBuffer, UINT* pCharacterBuffer);

// ---- registry ----------------------------------------------------------------

// The handheld ignores the access argument of these two; desktop Windows grants what
// is asked for, so access 0 would give a key that can neither read nor write. The
// program's W calls go through wrappers where 0 means full access (KEY_ALL_ACCESS);
// explicit rights pass unchanged, and the A calls (the installer's) are not touched.
LONG WINAPI brindle_RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR cls, DWORD options,
                                    REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                                    LPDWORD disposition);
LONG WINAPI brindle_RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
#define RegCreateKeyExW brindle_RegCreateKeyExW
#define RegOpenKeyExW brindle_RegOpenKeyExW

// ---- windows and processes -----------------------------------------------------

// A top-level window of default position and size fills the handheld's screen below
// the task bar; on a desktop it fills the work area instead of a cascaded default.
HWND WINAPI brindle_CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                                    int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                                    LPVOID param);
#define CreateWindowExW brindle_CreateWindowExW

// The handheld takes no start-up record and gives process information only when asked;
// desktop Windows needs both. Null ones are supplied here, and handles nobody asked for
// are closed.
BOOL WINAPI brindle_CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                   LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD flags,
                                   LPVOID environment, LPCWSTR directory, LPSTARTUPINFOW startupInfo,
                                   LPPROCESS_INFORMATION processInformation);
#define CreateProcessW brindle_CreateProcessW

// ---- events ---------------------------------------------------------------------

// On the handheld SetEvent / ResetEvent / PulseEvent are all EventModify.
#define EVENT_PULSE 1
#define EVENT_RESET 2
#define EVENT_SET 3
BOOL WINAPI EventModify(HANDLE event, DWORD func);

// ---- serial port ----------------------------------------------------------------

// The handheld's notice, among the serial events, that it has resumed from suspend.
#ifndef EV_POWER
#define EV_POWER 0x2000
#endif

// ---- memory ---------------------------------------------------------------------

#ifndef PAGE_NOCACHE
#define PAGE_NOCACHE 0x200
#endif
#ifndef PAGE_PHYSICAL
#define PAGE_PHYSICAL 0x400
#endif
// Maps physical or kernel addresses into a VirtualAlloc reservation. A desktop has no
// keyboard power registers to map, so the reservation is committed as an ordinary
// read/write page instead (src and protect are not used): the power writes land there
// and change nothing, and the driver runs on a desktop COM port.
BOOL WINAPI VirtualCopy(LPVOID dest, LPVOID src, DWORD size, DWORD protect);

// ---- shell: input panel, menu bar, dialogs, full screen -------------------------
// What each does on a desktop is said where it is defined (wince.cpp).
#include "platform/aygshell.h"
