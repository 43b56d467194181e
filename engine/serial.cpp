#include "engine/serial.h"

#include <cstring>

#include "engine/inject.h"
#include "engine/shell_interface.h"
#include "engine/state.h"
#include "engine/translator.h"

std::atomic<HANDLE> hComm{INVALID_HANDLE_VALUE};
std::atomic<uint32_t> ReaderStop{0};
std::atomic<uint32_t> ReaderRebuild{0};
std::atomic<uint32_t> ReaderExited{1};
HANDLE hReaderExitEvent = nullptr;

LPVOID v_pASICRegs = nullptr;
std::atomic<uint32_t> AsicMapped{0};

// The ASIC's registers at their statically mapped, uncached kernel address.
static const uintptr_t AsicKernelAddress = 0xA2000000u;
static const DWORD AsicBlockSize = 4096;
static const size_t PowerOffRegister = 0x760;
static const size_t PowerOnRegister = 0x764;
static const uint32_t KeyboardPowerBit = 0x10;

int MapAsicRegisters() {
  // A hand-off leaves the block mapped; the next open reuses it rather than map it twice.
  if (AsicMapped != 0) return 1;
  // A reservation whose copy failed last time is given back before trying again.
  if (v_pASICRegs != nullptr) UnmapAsicRegisters();
  v_pASICRegs = VirtualAlloc(nullptr, AsicBlockSize, MEM_RESERVE, PAGE_NOACCESS);
  if (v_pASICRegs == nullptr) {
    MessageBoxW(nullptr, L"VirtualAlloc v_pASICRegs failed!", L"Error", MB_OK);
    return 0;
  }
  if (!VirtualCopy(v_pASICRegs, reinterpret_cast<LPVOID>(AsicKernelAddress), AsicBlockSize,
                   PAGE_READWRITE | PAGE_NOCACHE)) {
    MessageBoxW(nullptr, L"VirtualCopy v_pASICRegs failed!", L"Error", MB_OK);
    return 0;
  }
  AsicMapped = 1;
  return 1;
}

void UnmapAsicRegisters() {
  if (v_pASICRegs != nullptr) VirtualFree(v_pASICRegs, 0, MEM_RELEASE);
  v_pASICRegs = nullptr;
  AsicMapped = 0;
}

void SetKeyboardPower(int on) {
  if (AsicMapped == 0 || v_pASICRegs == nullptr) return;
  size_t offset = on ? PowerOnRegister : PowerOffRegister;
  volatile uint32_t* reg = reinterpret_cast<volatile uint32_t*>(static_cast<uint8_t*>(v_pASICRegs) + offset);
  *reg = KeyboardPowerBit;
}

// The close waits here, and so does an open that follows a hand-off. A reader that is
// handing the line over shows the paused state in the settings dialog, which it does by
// sending messages to this (the user-interface) thread: so this wait answers sent
// messages while it sleeps on the reader's exit event, and never polls.
void AwaitReaderExit() {
  while (ReaderExited == 0) {
    DWORD r = MsgWaitForMultipleObjects(1, &hReaderExitEvent, FALSE, INFINITE, QS_SENDMESSAGE);
    if (r == WAIT_OBJECT_0 + 1) {
      MSG m;
      PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
    } else if (r != WAIT_OBJECT_0) {
      return;  // no event to wait on: nothing sane left but not to spin
    }
  }
}

// Takes the port out of hComm and closes it. Only one of the close and the reader
// gets it; the other leaves the handle alone from then on. Returns 1 for the winner.
static int TakeAndClosePort() {
  HANDLE h = hComm.load();
  if (h == INVALID_HANDLE_VALUE || !hComm.compare_exchange_strong(h, INVALID_HANDLE_VALUE)) return 0;
  SetCommMask(h, 0);
  CloseHandle(h);
  return 1;
}

int OpenSerialLink() {
  // The port is ours already while a link is open; a second open would only be refused.
  if (hComm.load() != INVALID_HANDLE_VALUE) return 0;
  if (hReaderExitEvent == nullptr) hReaderExitEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (hReaderExitEvent == nullptr) return 0;
  // At most one reader: one that has just handed the line over may still be leaving.
  AwaitReaderExit();

  ReaderStop = 0;
  ReaderExited = 1;
  HANDLE h = CreateFileW(L"COM1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  hComm = h;
  DWORD status = 0;
  if (GetCommModemStatus(h, &status) && (status & MS_RLSD_ON) != 0) {
    // In the cradle: the line belongs to synchronisation.
    hComm = INVALID_HANDLE_VALUE;
    CloseHandle(h);
    return 0;
  }

  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  GetCommState(h, &dcb);
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = 1;
  dcb.fParity = 1;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = 0;
  dcb.fTXContinueOnXoff = 1;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = 0;
  SetCommState(h, &dcb);
  EscapeCommFunction(h, SETDTR);
  EscapeCommFunction(h, SETRTS);

  MapAsicRegisters();
  SetKeyboardPower(1);

  ReaderExited = 0;
  HANDLE thread = CreateThread(nullptr, 0, ReaderThread, nullptr, 0, nullptr);
  if (thread == nullptr) {
    // No reader: give everything back, so the paused driver's retry starts clean and
    // no later close waits for a thread that never ran.
    ReaderExited = 1;
    TakeAndClosePort();
    SetKeyboardPower(0);
    UnmapAsicRegisters();
    return 0;
  }
  CloseHandle(thread);
  return 1;
}

void CloseSerialLink() {
  ReaderStop = 1;
  HANDLE h = hComm.load();
  bool owned = h != INVALID_HANDLE_VALUE && hComm.compare_exchange_strong(h, INVALID_HANDLE_VALUE);
  // Ends a pending wait. Without the port (a hand-off took it) the reader is leaving anyway.
  if (owned) SetCommMask(h, 0);
  AwaitReaderExit();
  KillTimer(hSettingsDlg, WATCHDOG_TIMER_ID);
  // Power off only after the reader is gone: a resume event it handled up to its exit
  // powers the keyboard on, and that must never come after this.
  SetKeyboardPower(0);
  if (owned) CloseHandle(h);
  UnmapAsicRegisters();
}

// A pause begun here waits until the user-interface thread is between messages (or in
// a close's wait): then it can never land inside a StartDriver that has started this
// reader and is still making the driver running, which would overwrite the pause.
static void PauseFromReader() {
  SendMessageW(hSettingsDlg, WM_NULL, 0, 0);
  PauseDriver();
}

int HandOffToSync() {
  ReaderStop = 1;
  // A close that got the port first ends this reader and stops the driver itself.
  if (!TakeAndClosePort()) return 0;
  // Keys held now never get their release: lift them before the line changes hands.
  ReleaseHeldKeys(false);
  SHELLEXECUTEINFO info;
  memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;  // 60 on the handheld
  info.lpFile = L"repllog.exe";
  ShellExecuteEx(&info);
  Sleep(1000);
  PauseFromReader();
  return 1;
}

DWORD WINAPI ReaderThread(LPVOID) {
  // The reader's own copy: a close takes hComm away but leaves the port open until we exit.
  HANDLE port = hComm.load();
  COMMTIMEOUTS timeouts;
  memset(&timeouts, 0, sizeof timeouts);
  GetCommTimeouts(port, &timeouts);
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  SetCommTimeouts(port, &timeouts);
  SetCommMask(port, READER_EVENT_MASK);

  int failedWaits = 0;
  while (ReaderStop == 0) {
    SetTimer(hSettingsDlg, WATCHDOG_TIMER_ID, WATCHDOG_MS, nullptr);
    DWORD events = 0;
    if (WaitCommEvent(port, &events, nullptr)) {
      failedWaits = 0;
    } else {
      events = 0;
      // A port that fails every wait (its adapter pulled out) would spin this loop:
      // a failed wait is an empty event set only a few times in a row and only while
      // the port still answers; past that the link is lost and the driver pauses.
      DWORD status = 0;
      if (ReaderStop == 0 &&
          (++failedWaits > READER_MAX_FAILED_WAITS || !GetCommModemStatus(port, &status))) {
        ReaderStop = 1;
        if (TakeAndClosePort()) PauseFromReader();
        break;
      }
    }
    SetCommMask(port, READER_EVENT_MASK);

    if (events & EV_POWER) {
      SetKeyboardPower(1);
      StopRepeat();
    }
    if (events & EV_RXCHAR) {
      DWORD got;
      do {
        uint8_t keyByte = 0;
        got = 0;
        if (!ReadFile(port, &keyByte, 1, &got, nullptr)) got = 0;
        if (got == 1) TranslateKeyByte(keyByte);
        KillTimer(hSettingsDlg, WATCHDOG_TIMER_ID);
      } while (got == 1);
    }
    if (events & (EV_RLSD | EV_POWER)) {
      DWORD status = 0;
      if (GetCommModemStatus(port, &status) && (status & MS_RLSD_ON) != 0) {
        HandOffToSync();
        break;
      }
    }
  }
  // Whatever ended the link, no release byte will lift a key still down.
  ReleaseHeldKeys(ReaderRebuild != 0);
  // The watchdog ends with the reader, so it never restarts a driver the user stopped.
  KillTimer(hSettingsDlg, WATCHDOG_TIMER_ID);
  ReaderExited = 1;
  SetEvent(hReaderExitEvent);
  return 0;
}
