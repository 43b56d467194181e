// The handheld's serial port, the mapping of the ASIC's register block, and the
// registry. Included by pocketpc.h.
#pragma once

extern "C" {

// ---- the serial port (a file named "COM1:") ---------------------------------------------
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3

typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;  // always null here

HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                          DWORD flags, HANDLE templ);
BOOL WINAPI ReadFile(HANDLE h, LPVOID buf, DWORD toRead, LPDWORD got, LPOVERLAPPED ov);

#define NOPARITY 0
#define ONESTOPBIT 0
#define DTR_CONTROL_ENABLE 1
#define RTS_CONTROL_ENABLE 1

// The flag bits share one 32-bit word, filled from its least significant bit.
typedef struct _DCB {
  DWORD DCBlength;
  DWORD BaudRate;
  DWORD fBinary : 1;
  DWORD fParity : 1;
  DWORD fOutxCtsFlow : 1;
  DWORD fOutxDsrFlow : 1;
  DWORD fDtrControl : 2;
  DWORD fDsrSensitivity : 1;
  DWORD fTXContinueOnXoff : 1;
  DWORD fOutX : 1;
  DWORD fInX : 1;
  DWORD fErrorChar : 1;
  DWORD fNull : 1;
  DWORD fRtsControl : 2;
  DWORD fAbortOnError : 1;
  DWORD fDummy2 : 17;
  WORD wReserved;
  WORD XonLim;
  WORD XoffLim;
  BYTE ByteSize;
  BYTE Parity;
  BYTE StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  WORD wReserved1;
} DCB, *LPDCB;

typedef struct _COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
} COMMTIMEOUTS, *LPCOMMTIMEOUTS;

#define EV_RXCHAR 0x0001
#define EV_CTS 0x0008
#define EV_DSR 0x0010
#define EV_RLSD 0x0020
#define EV_RING 0x0100
// The handheld has resumed from suspend.
#define EV_POWER 0x2000

#define MS_RLSD_ON 0x0080

#define SETRTS 3
#define SETDTR 5

BOOL WINAPI GetCommState(HANDLE h, LPDCB dcb);
BOOL WINAPI SetCommState(HANDLE h, LPDCB dcb);
BOOL WINAPI GetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS t);
BOOL WINAPI SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS t);
BOOL WINAPI SetCommMask(HANDLE h, DWORD mask);
BOOL WINAPI WaitCommEvent(HANDLE h, LPDWORD events, LPOVERLAPPED ov);
BOOL WINAPI GetCommModemStatus(HANDLE h, LPDWORD status);
BOOL WINAPI EscapeCommFunction(HANDLE h, DWORD func);

// ---- virtual memory and the ASIC's register block ------------------------------------------
#define PAGE_NOACCESS 0x01
#define PAGE_READWRITE 0x04
#define PAGE_NOCACHE 0x200
#define MEM_RESERVE 0x2000
#define MEM_RELEASE 0x8000

LPVOID WINAPI VirtualAlloc(LPVOID addr, DWORD size, DWORD type, DWORD protect);
BOOL WINAPI VirtualFree(LPVOID addr, DWORD size, DWORD type);
// Maps `size` bytes at the kernel address `src` into the reservation `dest`.
BOOL WINAPI VirtualCopy(LPVOID dest, LPVOID src, DWORD size, DWORD protect);

// ---- registry ---------------------------------------------------------------------------------
typedef DWORD REGSAM;

#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001u)
#define REG_DWORD 4

// The handheld ignores the access arguments (0 here).
LONG WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY result);
LONG WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM sam,
                            LPSECURITY_ATTRIBUTES sa, PHKEY result, LPDWORD disposition);
LONG WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
LONG WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LONG WINAPI RegCloseKey(HKEY key);

}  // extern "C"
