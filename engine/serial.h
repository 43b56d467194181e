// The serial link to the keyboard: the port "COM1:", the keyboard's power through the
// ASIC's registers, and the reader thread that feeds every received byte to the
// translator. Opened and closed on the user-interface thread by the driver state.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

// The open port, INVALID_HANDLE_VALUE when none. Whoever closes the port (a close on
// the user-interface thread, or the reader handing the line over) first takes it out
// of here with a compare-exchange, so it is closed exactly once.
extern std::atomic<HANDLE> hComm;
// 1 asks the reader to leave its loop; the reader sets it itself when it gives up the line.
extern std::atomic<uint32_t> ReaderStop;
// 0 while a reader thread runs; the reader sets it to 1 as its last act.
extern std::atomic<uint32_t> ReaderExited;
// 1 while the watchdog rebuilds the link: the reader's end keeps the sticky latches,
// so ten quiet minutes do not undo a latched Shift or Fn.
extern std::atomic<uint32_t> ReaderRebuild;
// Set by the reader right after ReaderExited, so a closer can sleep until then.
extern HANDLE hReaderExitEvent;

// The region the register block is mapped into (null when none is reserved), and
// whether the mapping took (the power registers are written only then).
extern LPVOID v_pASICRegs;
extern std::atomic<uint32_t> AsicMapped;

#define WATCHDOG_TIMER_ID 3
#define WATCHDOG_MS 600000u
// The line's events the reader waits for: EV_RXCHAR, EV_CTS, EV_DSR, EV_RLSD, EV_RING,
// EV_POWER.
#define READER_EVENT_MASK 0x2139u
// A failed wait on a port that still answers counts as an empty event set this many
// times in a row; one more and the link is taken as lost.
#define READER_MAX_FAILED_WAITS 3

// 1 when the link is open and the reader thread runs, 0 when refused.
int OpenSerialLink();
// Only while the driver runs, on the user-interface thread.
void CloseSerialLink();
// Waits, still answering messages sent to this thread, until no reader thread is left.
void AwaitReaderExit();
DWORD WINAPI ReaderThread(LPVOID param);
// On the reader thread, when the cradle raises carrier detect: 1 when the line was
// handed over, 0 when a close had already taken the port.
int HandOffToSync();

int MapAsicRegisters();
void UnmapAsicRegisters();
void SetKeyboardPower(int on);
