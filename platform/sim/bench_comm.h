// The bench's hands on the keyboard line ("COM1:") and the ASIC's register block.
// Host builds only.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace bench {

// ---- the keyboard line (the bench device; used unless "COM1:" is a real tty) ----

// Key bytes arriving on the line: appended to the port's input and EV_RXCHAR raised,
// waking a pending WaitCommEvent. Bytes sent while the port is closed are lost.
void SendKeyBytes(const std::vector<unsigned char>& bytes);
// Carrier detect (the cradle) raised or dropped: EV_RLSD when it changes.
void SetCarrier(bool on);
// The handheld resumed from suspend: EV_POWER.
void RaiseResume();
// Several things in one serial event: bytes (if any), a carrier change, a resume.
void SendLineEvent(const std::vector<unsigned char>& bytes, bool carrier, bool resume);

// Another program holds the port (CreateFileW fails, ERROR_ACCESS_DENIED), or
// there is no such port (ERROR_FILE_NOT_FOUND).
void SetPortBusy(bool busy);
void SetPortMissing(bool missing);
// The next n waits fail at once (FALSE, ERROR_GEN_FAILURE, empty event set), or every
// wait until switched off; failing reads likewise.
void FailNextWaits(int n);
void FailAllWaits(bool fail);
void FailReads(bool fail);

// The port as the program left it.
int PortOpenCount();      // handles to "COM1:" open now (0 or 1)
int PortOpensTotal();     // successful opens since Reset
DWORD CommFlags();        // the DCB flags word as last set (or the power-up value)
void SetInitialCommFlags(DWORD flags);  // the flags word GetCommState reports before any set
DWORD CommBaud();
DWORD CommMask();
bool CommDtr();
bool CommRts();

// "COM1:" is the tty at `path` instead of the bench device ("" = the BRINDLE_COM1
// environment variable decides, as when running the program). Takes effect at the next open.
void UseComPath(const std::string& path);

// ---- the ASIC register block ----

void MakeVirtualAllocFail(bool fail);
void MakeVirtualCopyFail(bool fail);

// The keyboard's supply as the power registers last switched it.
enum class Power { Unknown, On, Off };
Power PowerState();
// Every power register write seen so far, in order: "on" / "off".
std::vector<std::string> PowerWrites();
// Regions into which the register block is mapped now, and the most there ever were at once.
int AsicMappedCount();
int AsicMappedPeak();
// Regions reserved by VirtualAlloc and not yet released.
int ReservedRegions();

}  // namespace bench
