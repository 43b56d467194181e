// The handheld's dialogs and controls, GDI, and shell: starting programs, the tray,
// icons, and the Pocket PC shell calls of aygshell.dll. Included by pocketpc.h.
#pragma once

extern "C" {

// ---- dialogs ----------------------------------------------------------------------------------
// Dialog templates come whole from the resource library; the program only passes them on.
#pragma pack(push, 2)
typedef struct {
  DWORD style;
  DWORD dwExtendedStyle;
  WORD cdit;
  short x;
  short y;
  short cx;
  short cy;
} DLGTEMPLATE;
#pragma pack(pop)
typedef const DLGTEMPLATE* LPCDLGTEMPLATEW;

HWND WINAPI CreateDialogIndirectParamW(HINSTANCE inst, LPCDLGTEMPLATEW tmpl, HWND parent, DLGPROC proc,
                                       LPARAM param);
int WINAPI DialogBoxIndirectParamW(HINSTANCE inst, LPCDLGTEMPLATEW tmpl, HWND parent, DLGPROC proc, LPARAM param);
BOOL WINAPI EndDialog(HWND dialog, int result);
BOOL WINAPI IsDialogMessageW(HWND dialog, LPMSG msg);
HWND WINAPI GetDlgItem(HWND dialog, int id);
LRESULT WINAPI SendDlgItemMessageW(HWND dialog, int id, UINT msg, WPARAM wp, LPARAM lp);
BOOL WINAPI SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);

// ---- controls -------------------------------------------------------------------------------
#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BST_CHECKED 0x0001

#define STM_SETIMAGE 0x0172
#define IMAGE_ICON 1

#define TBM_GETPOS (WM_USER)
#define TBM_SETPOS (WM_USER + 5)
#define TBM_SETRANGE (WM_USER + 6)

// The trackbars of the settings dialog are registered by commctrl.dll; the entry asks
// for them before the program starts.
typedef struct tagINITCOMMONCONTROLSEX {
  DWORD dwSize;
  DWORD dwICC;
} INITCOMMONCONTROLSEX, *LPINITCOMMONCONTROLSEX;
#define ICC_BAR_CLASSES 0x00000004
BOOL WINAPI InitCommonControlsEx(LPINITCOMMONCONTROLSEX init);  // commctrl.dll

// ---- GDI ------------------------------------------------------------------------------------
#define LF_FACESIZE 32

typedef struct tagLOGFONTW {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  WCHAR lfFaceName[LF_FACESIZE];
} LOGFONTW, *LPLOGFONTW;

typedef struct tagBITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
} BITMAP, *LPBITMAP;

typedef struct tagPAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
} PAINTSTRUCT, *LPPAINTSTRUCT;

#define WHITE_BRUSH 0
#define SRCCOPY 0x00CC0020

HFONT WINAPI CreateFontIndirectW(const LOGFONTW* font);
HGDIOBJ WINAPI GetStockObject(int id);
BOOL WINAPI DeleteObject(HGDIOBJ obj);
int WINAPI GetObjectW(HGDIOBJ obj, int size, LPVOID buf);
HDC WINAPI BeginPaint(HWND hwnd, LPPAINTSTRUCT ps);
BOOL WINAPI EndPaint(HWND hwnd, const PAINTSTRUCT* ps);
HDC WINAPI GetDC(HWND hwnd);
int WINAPI ReleaseDC(HWND hwnd, HDC hdc);
HDC WINAPI CreateCompatibleDC(HDC hdc);
BOOL WINAPI DeleteDC(HDC hdc);
HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ obj);
BOOL WINAPI BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop);
HBITMAP WINAPI LoadBitmapW(HINSTANCE instance, LPCWSTR name);

// ---- icons ----------------------------------------------------------------------------------
HICON WINAPI LoadIconW(HINSTANCE instance, LPCWSTR name);
HANDLE WINAPI LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT flags);

// ---- starting programs ------------------------------------------------------------------------
// The handheld's record is 60 bytes. Its export has no W: the handheld is Unicode only.
typedef struct _SHELLEXECUTEINFO {
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
} SHELLEXECUTEINFO, *LPSHELLEXECUTEINFO;
BOOL WINAPI ShellExecuteEx(LPSHELLEXECUTEINFO info);

// The handheld takes no start-up record (null) and fills the process record only when given.
typedef struct _STARTUPINFOW STARTUPINFOW, *LPSTARTUPINFOW;
typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;
BOOL WINAPI CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                           LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                           LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                           LPPROCESS_INFORMATION processInformation);

// ---- the tray ---------------------------------------------------------------------------------
// The handheld's record is 152 bytes: a tip of 64 16-bit characters. No W in the export.
typedef struct _NOTIFYICONDATA {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  WCHAR szTip[64];
} NOTIFYICONDATA, *PNOTIFYICONDATA;
typedef NOTIFYICONDATA NOTIFYICONDATAW;

#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002

BOOL WINAPI Shell_NotifyIcon(DWORD message, PNOTIFYICONDATA data);

// ---- Pocket PC shell (aygshell.dll) -----------------------------------------------------------
#include "platform/aygshell.h"

}  // extern "C"
