// Every record the program hands to the handheld, checked against the handheld's
// layout: 32-bit pointers and handles, 16-bit WCHAR, natural alignment. A size or an
// offset that differs stops the build here, not on the device. Included last by
// pocketpc.h, so no file sees a record without its check.
#pragma once

#define BRINDLE_AT(type, field, offset) \
  static_assert(offsetof(type, field) == (offset), #type "." #field " is not at " #offset " on the handheld")
#define BRINDLE_SIZE(type, size) static_assert(sizeof(type) == (size), #type " is not " #size " bytes on the handheld")

static_assert(sizeof(void*) == 4 && sizeof(HANDLE) == 4 && sizeof(HWND) == 4, "the handheld is 32-bit");
static_assert(sizeof(WCHAR) == 2, "WCHAR is 16 bits on the handheld (build with -fshort-wchar)");
static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(UINT) == 4 && sizeof(WORD) == 2, "basic types");
static_assert(sizeof(WPARAM) == 4 && sizeof(LPARAM) == 4 && sizeof(LRESULT) == 4, "message words");
static_assert(sizeof(SIPSTATE) == 4, "enums are 32 bits on the handheld (build with -fno-short-enums)");

BRINDLE_SIZE(SHELLEXECUTEINFO, 60);
BRINDLE_AT(SHELLEXECUTEINFO, fMask, 4);
BRINDLE_AT(SHELLEXECUTEINFO, hwnd, 8);
BRINDLE_AT(SHELLEXECUTEINFO, lpVerb, 12);
BRINDLE_AT(SHELLEXECUTEINFO, lpFile, 16);
BRINDLE_AT(SHELLEXECUTEINFO, lpParameters, 20);
BRINDLE_AT(SHELLEXECUTEINFO, lpDirectory, 24);
BRINDLE_AT(SHELLEXECUTEINFO, nShow, 28);
BRINDLE_AT(SHELLEXECUTEINFO, hInstApp, 32);
BRINDLE_AT(SHELLEXECUTEINFO, lpIDList, 36);
BRINDLE_AT(SHELLEXECUTEINFO, lpClass, 40);
BRINDLE_AT(SHELLEXECUTEINFO, hkeyClass, 44);
BRINDLE_AT(SHELLEXECUTEINFO, dwHotKey, 48);
BRINDLE_AT(SHELLEXECUTEINFO, hIcon, 52);
BRINDLE_AT(SHELLEXECUTEINFO, hProcess, 56);

BRINDLE_SIZE(NOTIFYICONDATAW, 152);
BRINDLE_AT(NOTIFYICONDATAW, hWnd, 4);
BRINDLE_AT(NOTIFYICONDATAW, uID, 8);
BRINDLE_AT(NOTIFYICONDATAW, uFlags, 12);
BRINDLE_AT(NOTIFYICONDATAW, uCallbackMessage, 16);
BRINDLE_AT(NOTIFYICONDATAW, hIcon, 20);
BRINDLE_AT(NOTIFYICONDATAW, szTip, 24);

// The 14 flag bits and fDummy2 fill the word at 8, so wReserved starts at 12.
BRINDLE_SIZE(DCB, 28);
BRINDLE_AT(DCB, BaudRate, 4);
BRINDLE_AT(DCB, wReserved, 12);
BRINDLE_AT(DCB, XonLim, 14);
BRINDLE_AT(DCB, XoffLim, 16);
BRINDLE_AT(DCB, ByteSize, 18);
BRINDLE_AT(DCB, Parity, 19);
BRINDLE_AT(DCB, StopBits, 20);
BRINDLE_AT(DCB, XonChar, 21);
BRINDLE_AT(DCB, XoffChar, 22);
BRINDLE_AT(DCB, ErrorChar, 23);
BRINDLE_AT(DCB, EofChar, 24);
BRINDLE_AT(DCB, EvtChar, 25);
BRINDLE_AT(DCB, wReserved1, 26);

BRINDLE_SIZE(COMMTIMEOUTS, 20);
BRINDLE_AT(COMMTIMEOUTS, ReadIntervalTimeout, 0);
BRINDLE_AT(COMMTIMEOUTS, ReadTotalTimeoutMultiplier, 4);
BRINDLE_AT(COMMTIMEOUTS, ReadTotalTimeoutConstant, 8);
BRINDLE_AT(COMMTIMEOUTS, WriteTotalTimeoutMultiplier, 12);
BRINDLE_AT(COMMTIMEOUTS, WriteTotalTimeoutConstant, 16);

BRINDLE_SIZE(MSG, 28);
BRINDLE_AT(MSG, message, 4);
BRINDLE_AT(MSG, wParam, 8);
BRINDLE_AT(MSG, lParam, 12);
BRINDLE_AT(MSG, time, 16);
BRINDLE_AT(MSG, pt, 20);

BRINDLE_SIZE(WNDCLASSW, 40);
BRINDLE_AT(WNDCLASSW, lpfnWndProc, 4);
BRINDLE_AT(WNDCLASSW, cbClsExtra, 8);
BRINDLE_AT(WNDCLASSW, cbWndExtra, 12);
BRINDLE_AT(WNDCLASSW, hInstance, 16);
BRINDLE_AT(WNDCLASSW, hIcon, 20);
BRINDLE_AT(WNDCLASSW, hCursor, 24);
BRINDLE_AT(WNDCLASSW, hbrBackground, 28);
BRINDLE_AT(WNDCLASSW, lpszMenuName, 32);
BRINDLE_AT(WNDCLASSW, lpszClassName, 36);

BRINDLE_SIZE(SHMENUBARINFO, 32);
BRINDLE_AT(SHMENUBARINFO, hwndParent, 4);
BRINDLE_AT(SHMENUBARINFO, dwFlags, 8);
BRINDLE_AT(SHMENUBARINFO, nToolBarId, 12);
BRINDLE_AT(SHMENUBARINFO, hInstRes, 16);
BRINDLE_AT(SHMENUBARINFO, nBmpId, 20);
BRINDLE_AT(SHMENUBARINFO, cBmpImages, 24);
BRINDLE_AT(SHMENUBARINFO, hwndMB, 28);

BRINDLE_SIZE(SHINITDLGINFO, 12);
BRINDLE_AT(SHINITDLGINFO, hDlg, 4);
BRINDLE_AT(SHINITDLGINFO, dwFlags, 8);

BRINDLE_SIZE(PAINTSTRUCT, 64);
BRINDLE_AT(PAINTSTRUCT, fErase, 4);
BRINDLE_AT(PAINTSTRUCT, rcPaint, 8);
BRINDLE_AT(PAINTSTRUCT, fRestore, 24);
BRINDLE_AT(PAINTSTRUCT, fIncUpdate, 28);
BRINDLE_AT(PAINTSTRUCT, rgbReserved, 32);

BRINDLE_SIZE(LOGFONTW, 92);
BRINDLE_AT(LOGFONTW, lfWidth, 4);
BRINDLE_AT(LOGFONTW, lfWeight, 16);
BRINDLE_AT(LOGFONTW, lfItalic, 20);
BRINDLE_AT(LOGFONTW, lfCharSet, 23);
BRINDLE_AT(LOGFONTW, lfQuality, 26);
BRINDLE_AT(LOGFONTW, lfPitchAndFamily, 27);
BRINDLE_AT(LOGFONTW, lfFaceName, 28);

BRINDLE_SIZE(BITMAP, 24);
BRINDLE_AT(BITMAP, bmWidth, 4);
BRINDLE_AT(BITMAP, bmHeight, 8);
BRINDLE_AT(BITMAP, bmWidthBytes, 12);
BRINDLE_AT(BITMAP, bmPlanes, 16);
BRINDLE_AT(BITMAP, bmBitsPixel, 18);
BRINDLE_AT(BITMAP, bmBits, 20);

// Records the entry and the loops use.
BRINDLE_SIZE(POINT, 8);
BRINDLE_SIZE(RECT, 16);
BRINDLE_SIZE(INITCOMMONCONTROLSEX, 8);
BRINDLE_SIZE(PROCESS_INFORMATION, 16);
BRINDLE_SIZE(DLGTEMPLATE, 18);

#undef BRINDLE_AT
#undef BRINDLE_SIZE
