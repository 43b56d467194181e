// The simulated handheld's serial port "COM1:" and the calls that map the ASIC's
// register block into the process. Included by win32.h.
#pragma once

// ---- files (only the serial port is a file here) ------------------------------
#ifndef GENERIC_READ
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#endif
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x00000080

typedef struct _OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                          DWORD disposition, DWORD flags, HANDLE templ);
BOOL WINAPI ReadFile(HANDLE h, LPVOID buf, DWORD toRead, LPDWORD got, LPOVERLAPPED ov);

// ---- serial port ----------------------------------------------------------------
#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2
#define DTR_CONTROL_DISABLE 0
#define DTR_CONTROL_ENABLE 1
#define DTR_CONTROL_HANDSHAKE 2
#define RTS_CONTROL_DISABLE 0
#define RTS_CONTROL_ENABLE 1
#define RTS_CONTROL_HANDSHAKE 2
#define RTS_CONTROL_TOGGLE 3
#define CBR_9600 9600

// 28 bytes, the flag bits in one 32-bit word from the least significant bit up.
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
#define EV_RXFLAG 0x0002
#define EV_TXEMPTY 0x0004
#define EV_CTS 0x0008
#define EV_DSR 0x0010
#define EV_RLSD 0x0020
#define EV_BREAK 0x0040
#define EV_ERR 0x0080
#define EV_RING 0x0100
#define EV_POWER 0x2000

#define MS_CTS_ON 0x0010
#define MS_DSR_ON 0x0020
#define MS_RING_ON 0x0040
#define MS_RLSD_ON 0x0080

#define SETXOFF 1
#define SETXON 2
#define SETRTS 3
#define CLRRTS 4
#define SETDTR 5
#define CLRDTR 6
#define SETBREAK 8
#define CLRBREAK 9

BOOL WINAPI GetCommState(HANDLE h, LPDCB dcb);
BOOL WINAPI SetCommState(HANDLE h, LPDCB dcb);
BOOL WINAPI GetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS t);
BOOL WINAPI SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS t);
BOOL WINAPI SetCommMask(HANDLE h, DWORD mask);
BOOL WINAPI GetCommMask(HANDLE h, LPDWORD mask);
BOOL WINAPI WaitCommEvent(HANDLE h, LPDWORD events, LPOVERLAPPED ov);
BOOL WINAPI GetCommModemStatus(HANDLE h, LPDWORD status);
BOOL WINAPI EscapeCommFunction(HANDLE h, DWORD func);

// ---- virtual memory and the ASIC's register block -----------------------------
#define PAGE_NOACCESS 0x01
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#ifndef PAGE_NOCACHE
#define PAGE_NOCACHE 0x200
#endif
#define PAGE_PHYSICAL 0x400
#define MEM_COMMIT 0x1000
#define MEM_RESERVE 0x2000
#define MEM_DECOMMIT 0x4000
#define MEM_RELEASE 0x8000

LPVOID WINAPI VirtualAlloc(LPVOID addr, SIZE_T size, DWORD type, DWORD protect);
BOOL WINAPI VirtualFree(LPVOID addr, SIZE_T size, DWORD type);
// Windows CE: maps `size` bytes at the kernel address `src` into the reserved region `dest`.
BOOL WINAPI VirtualCopy(LPVOID dest, LPVOID src, DWORD size, DWORD protect);
