// The simulated desktop's files and process start (ANSI calls).
//
// Windows paths live in a scratch directory the bench owns (bench_files.h):
// "C:\Sync\x" is <scratch>/C/Sync/x, a relative path is taken from the simulated
// current directory (at first "C:\"). Backslash and slash both separate; repeated
// separators count as one and "." / ".." are resolved, as Windows does. File names are
// compared as the host's file system compares them (with letter case).
//
// No program is really started: CreateProcessA records what it was asked and hands back
// handles of a simulated process that never ends.
// Included by win32.h.
#pragma once

#define ERROR_NOT_READY 21L
#define ERROR_DIRECTORY 267L

BOOL WINAPI CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES sa);
BOOL WINAPI CopyFileA(LPCSTR existing, LPCSTR target, BOOL failIfExists);
DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buf);
BOOL WINAPI SetCurrentDirectoryA(LPCSTR path);

typedef struct _STARTUPINFOA {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
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
} STARTUPINFOA, *LPSTARTUPINFOA;

// Shared with the wide process calls of the handheld's shell, whichever header comes first.
#ifndef SIM_PROCESS_INFORMATION_DEFINED
#define SIM_PROCESS_INFORMATION_DEFINED
typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;
#endif

#define STARTF_USESHOWWINDOW 0x00000001

void WINAPI GetStartupInfoA(LPSTARTUPINFOA info);
BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                           LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                           LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                           LPPROCESS_INFORMATION processInformation);

// The desktop program entry. Host builds link a main() that calls it (brindle_sim_winmain).
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);
