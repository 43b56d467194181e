// The simulated handheld's shell calls: starting programs, the tray, icons, and the
// item calls on child controls. Included by win32.h.
#pragma once

// ---- starting programs ----------------------------------------------------------
// The device's record is 60 bytes; the sim also takes this build's own size.
typedef struct _SHELLEXECUTEINFOW {
  DWORD cbSize;
  ULONG fMask;
  HWND hwnd;
  LPCWSTR lpVerb;
  LPCWSTR lpFile;
  LPCWSTR lpParameters;
  LPCWSTR lpDirectory;
  int nShow;
  HINSTANCE hInstApp;
  LPVOID lpIDList;
  LPCWSTR lpClass;
  HKEY hkeyClass;
  DWORD dwHotKey;
  HANDLE hIcon;
  HANDLE hProcess;
} SHELLEXECUTEINFOW, *LPSHELLEXECUTEINFOW;
typedef SHELLEXECUTEINFOW SHELLEXECUTEINFO;
typedef LPSHELLEXECUTEINFOW LPSHELLEXECUTEINFO;
#define SEE_MASK_NOCLOSEPROCESS 0x00000040

BOOL WINAPI ShellExecuteExW(LPSHELLEXECUTEINFOW info);
#define ShellExecuteEx ShellExecuteExW

typedef struct _STARTUPINFOW {
  DWORD cb;
  LPWSTR lpReserved;
  LPWSTR lpDesktop;
  LPWSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
} STARTUPINFOW, *LPSTARTUPINFOW;

// Shared with the desktop process calls, whichever header comes first.
#ifndef SIM_PROCESS_INFORMATION_DEFINED
#define SIM_PROCESS_INFORMATION_DEFINED
typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;
#endif

// Starts nothing on the host: the trace records the program and its command line.
BOOL WINAPI CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                           LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                           LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                           LPPROCESS_INFORMATION processInformation);

// ---- the tray -------------------------------------------------------------------
// The device's record is 152 bytes (a 64-character tip of 16-bit characters); the sim
// also takes this build's own size.
typedef struct _NOTIFYICONDATAW {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  WCHAR szTip[64];
} NOTIFYICONDATAW, *PNOTIFYICONDATAW;
typedef NOTIFYICONDATAW NOTIFYICONDATA;
typedef PNOTIFYICONDATAW PNOTIFYICONDATA;

#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004

BOOL WINAPI Shell_NotifyIconW(DWORD message, PNOTIFYICONDATAW data);
#define Shell_NotifyIcon Shell_NotifyIconW

// ---- icons ----------------------------------------------------------------------
// Icons come from the RT_GROUP_ICON / RT_ICON resources of a module; the program's own
// module (GetModuleHandleW(nullptr)) reads brindle_icons.dll beside the program.
HICON WINAPI LoadIconW(HINSTANCE instance, LPCWSTR name);
BOOL WINAPI DestroyIcon(HICON icon);
#define LoadIcon LoadIconW

// ---- controls by id -------------------------------------------------------------
#define STM_SETICON 0x0170
#define STM_GETICON 0x0171
#define STM_SETIMAGE 0x0172
#define STM_GETIMAGE 0x0173
#define IMAGE_BITMAP 0
#define IMAGE_ICON 1
#ifndef ERROR_CONTROL_ID_NOT_FOUND
#define ERROR_CONTROL_ID_NOT_FOUND 1421L
#endif

HWND WINAPI GetDlgItem(HWND dialog, int id);
LRESULT WINAPI SendDlgItemMessageW(HWND dialog, int id, UINT msg, WPARAM wp, LPARAM lp);
BOOL WINAPI SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);

// ---- images ---------------------------------------------------------------------
#define IMAGE_CURSOR 2
#define LR_DEFAULTCOLOR 0x0000
#define LR_LOADFROMFILE 0x0010
#define LR_DEFAULTSIZE 0x0040
#define LR_SHARED 0x8000

// Icons only: the image of the module's RT_GROUP_ICON nearest cx pixels (0: the first
// image, or with LR_DEFAULTSIZE the 32-pixel icon size). Without LR_SHARED each call
// gives a handle of its own for DestroyIcon.
HANDLE WINAPI LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT flags);
#define LoadImage LoadImageW

// ---- Pocket PC shell: menu bar, dialogs, full screen, input panel -----------------
// The sim records each in its trace ("SHCreateMenuBar(131)", "SHInitDialog([Class], 0xD)",
// "SHFullScreen([Class], 0x8)", "SHSipPreference([Class], 2)"), also takes this build's
// own size of SHMENUBARINFO, and sizes a dialog to the screen below the task bar.
#include "platform/aygshell.h"
