// The handheld: the part of the Windows CE 3.0 / Pocket PC API that brindle calls, at
// the handheld's 32-bit layout and with its values. Included by platform/platform.h
// when the compiler builds for the handheld (_WIN32_WCE). Further areas have headers
// of their own, included at the end; every structure handed to the system is checked
// against the handheld's layout in layout.h.
//
// Each function is the export of the same name in coredll.dll (aygshell.dll and
// commctrl.dll where marked), as listed in this folder's .def files. CE has no
// narrow-character calls and no stdcall on ARM: WINAPI is the plain C convention.
#pragma once

#include <cstddef>
#include <cstdint>
// wcscpy, memset and the other C library calls the program makes: coredll exports them.
#include <cstring>
#include <cwchar>
#include <cwctype>

#define WINAPI
#define CALLBACK
#define APIENTRY
#define CONST const

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned long DWORD;
typedef unsigned int UINT;
typedef int INT;
typedef long LONG;
typedef unsigned long ULONG;
typedef short SHORT;
typedef unsigned short USHORT;
typedef char CHAR;
typedef wchar_t WCHAR;
typedef WCHAR TCHAR;
typedef void VOID;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef unsigned int UINT_PTR;
typedef int INT_PTR;
typedef unsigned long ULONG_PTR;
typedef long LONG_PTR;
typedef unsigned long DWORD_PTR;
typedef ULONG_PTR SIZE_T;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef WORD ATOM;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;
typedef LONG* PLONG;
typedef LONG* LPLONG;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef LPWSTR LPTSTR;
typedef LPCWSTR LPCTSTR;
typedef DWORD COLORREF;

#define DECLARE_HANDLE(name) struct name##__ { int unused; }; typedef struct name##__* name
typedef void* HANDLE;
DECLARE_HANDLE(HWND);
DECLARE_HANDLE(HINSTANCE);
typedef HINSTANCE HMODULE;
DECLARE_HANDLE(HICON);
typedef HICON HCURSOR;
DECLARE_HANDLE(HBITMAP);
DECLARE_HANDLE(HDC);
DECLARE_HANDLE(HBRUSH);
DECLARE_HANDLE(HMENU);
DECLARE_HANDLE(HFONT);
DECLARE_HANDLE(HRSRC);
DECLARE_HANDLE(HKEY);
typedef HKEY* PHKEY;
typedef void* HGDIOBJ;
typedef HANDLE HGLOBAL;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define INFINITE 0xFFFFFFFFu
#define MAXDWORD 0xFFFFFFFFu
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define MAX_PATH 260

#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xffff))
#define MAKELONG(a, b) ((LONG)(((WORD)(((DWORD_PTR)(a)) & 0xffff)) | ((DWORD)((WORD)(((DWORD_PTR)(b)) & 0xffff))) << 16))
#define MAKEINTRESOURCEW(i) ((LPWSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEW
#define TEXT(s) L##s

#define ERROR_SUCCESS 0L

// The character class iswctype tests for capitals (the handheld's C library value).
#define _UPPER 0x1

extern "C" {

// ---- kernel -------------------------------------------------------------------------
typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef DWORD(WINAPI* PTHREAD_START_ROUTINE)(LPVOID);
typedef PTHREAD_START_ROUTINE LPTHREAD_START_ROUTINE;

#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES sa, DWORD stack, LPTHREAD_START_ROUTINE start, LPVOID param,
                           DWORD flags, LPDWORD threadId);
// The primary thread's exit ends the process, with its exit code.
void WINAPI ExitThread(DWORD exitCode);
BOOL WINAPI CloseHandle(HANDLE h);
HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState, LPCWSTR name);
// SetEvent, ResetEvent and PulseEvent are this one call on the handheld.
#define EVENT_PULSE 1
#define EVENT_RESET 2
#define EVENT_SET 3
BOOL WINAPI EventModify(HANDLE event, DWORD func);
inline BOOL SetEvent(HANDLE event) { return EventModify(event, EVENT_SET); }
DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ms);
void WINAPI Sleep(DWORD ms);
DWORD WINAPI GetTickCount(void);
DWORD WINAPI GetLastError(void);

// Atomic on the handheld by the kernel's restartable sequences, not by the processor:
// see runtime_atomic.cpp.
LONG WINAPI InterlockedExchange(LPLONG target, LONG value);
// Stores newValue when *target is oldValue; the value found is returned either way.
LONG WINAPI InterlockedTestExchange(LPLONG target, LONG oldValue, LONG newValue);

// ---- windows and messages -------------------------------------------------------------
typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef BOOL(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT, DWORD);

typedef struct tagPOINT {
  LONG x;
  LONG y;
} POINT, *LPPOINT;
typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT, *LPRECT;

typedef struct tagMSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
} MSG, *LPMSG;

typedef struct tagWNDCLASSW {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
} WNDCLASSW, *LPWNDCLASSW;

#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002

#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define CW_USEDEFAULT ((int)0x80000000)

#define SW_HIDE 0
#define SW_SHOW 5

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_ACTIVATE 0x0006
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_SETFONT 0x0030
#define WM_HELP 0x0053
#define WM_SETICON 0x0080
#define WM_KEYDOWN 0x0100
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define WM_HSCROLL 0x0114
#define WM_LBUTTONDOWN 0x0201
#define WM_HOTKEY 0x0312
#define WM_USER 0x0400
#define WM_APP 0x8000

#define WA_INACTIVE 0
#define ICON_SMALL 0

#define PM_NOREMOVE 0x0000
#define QS_SENDMESSAGE 0x0040

#define IDOK 1
#define IDCANCEL 2
#define IDNO 7

ATOM WINAPI RegisterClassW(const WNDCLASSW* wc);
HWND WINAPI CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE inst, LPVOID param);
BOOL WINAPI DestroyWindow(HWND hwnd);
LRESULT WINAPI DefWindowProcW(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
HWND WINAPI FindWindowW(LPCWSTR className, LPCWSTR windowName);
BOOL WINAPI ShowWindow(HWND hwnd, int cmd);
BOOL WINAPI UpdateWindow(HWND hwnd);
BOOL WINAPI SetForegroundWindow(HWND hwnd);
HWND WINAPI GetForegroundWindow(void);
HWND WINAPI SetFocus(HWND hwnd);
BOOL WINAPI MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
BOOL WINAPI GetWindowRect(HWND hwnd, LPRECT rect);
BOOL WINAPI GetClientRect(HWND hwnd, LPRECT rect);
BOOL WINAPI SetWindowTextW(HWND hwnd, LPCWSTR text);
BOOL WINAPI PtInRect(const RECT* rect, POINT pt);
#define GWL_USERDATA (-21)
#define GWLP_USERDATA GWL_USERDATA
LONG WINAPI GetWindowLongW(HWND hwnd, int index);
LONG WINAPI SetWindowLongW(HWND hwnd, int index, LONG value);
// Pointers are 32 bits on the handheld: the pointer-sized forms are the plain ones.
inline LONG_PTR GetWindowLongPtrW(HWND hwnd, int index) { return GetWindowLongW(hwnd, index); }
inline LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value) {
  return SetWindowLongW(hwnd, index, value);
}

BOOL WINAPI PostMessageW(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
LRESULT WINAPI SendMessageW(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
BOOL WINAPI GetMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax);
BOOL WINAPI PeekMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT remove);
BOOL WINAPI TranslateMessage(const MSG* msg);
LRESULT WINAPI DispatchMessageW(const MSG* msg);
void WINAPI PostQuitMessage(int exitCode);
UINT WINAPI SetTimer(HWND hwnd, UINT id, UINT ms, TIMERPROC proc);
BOOL WINAPI KillTimer(HWND hwnd, UINT id);
UINT WINAPI GetDoubleClickTime(void);
// The handheld's export is the Ex form; fWaitAll must be FALSE there anyway.
DWORD WINAPI MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD ms, DWORD wakeMask,
                                         DWORD flags);
inline DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL, DWORD ms, DWORD wakeMask) {
  return MsgWaitForMultipleObjectsEx(count, handles, ms, wakeMask, 0);
}

// ---- keyboard -------------------------------------------------------------------------
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CAPITAL 0x14
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_DELETE 0x2E
#define VK_LSHIFT 0xA0
#define VK_OEM_COMMA 0xBC
#define VK_OEM_PERIOD 0xBE
// The power key.
#define VK_OFF 0xDF

#define KEYEVENTF_KEYUP 0x0002
// No key click. (Desktop Windows reads 4 as KEYEVENTF_UNICODE.)
#define KEYEVENTF_SILENT 0x0004

void WINAPI keybd_event(BYTE vk, BYTE scan, DWORD flags, DWORD extra);
// A key and/or characters into the input system.
BOOL WINAPI PostKeybdMessage(HWND hwnd, UINT vk, UINT keyStateFlags, UINT cCharacters, UINT* pShiftStateBuffer,
                             UINT* pCharacterBuffer);
SHORT WINAPI GetKeyState(int vk);
BOOL WINAPI RegisterHotKey(HWND hwnd, int id, UINT modifiers, UINT vk);
BOOL WINAPI UnregisterHotKey(HWND hwnd, int id);

// ---- modules and resources --------------------------------------------------------------
#define RT_DIALOG MAKEINTRESOURCEW(5)

HMODULE WINAPI LoadLibraryW(LPCWSTR name);
BOOL WINAPI FreeLibrary(HMODULE module);
int WINAPI LoadStringW(HINSTANCE inst, UINT id, LPWSTR buf, int max);
HRSRC WINAPI FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC res);

// ---- message boxes ------------------------------------------------------------------------
#define MB_OK 0x00000000L
#define MB_YESNO 0x00000004L
#define MB_ICONEXCLAMATION 0x00000030L
int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// ---- strings --------------------------------------------------------------------------------
int wsprintfW(LPWSTR buf, LPCWSTR fmt, ...);

}  // extern "C"

#include "pocketpc_io.h"
#include "pocketpc_ui.h"
#include "layout.h"
