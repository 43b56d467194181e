// The bench: a test's hands on the simulated handheld and its record of what the
// program asked of the platform. Host builds only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace bench {

// A fresh handheld: all simulated threads must have ended; windows, classes, timers,
// hot keys, events and key state are dropped; the virtual clock is 0; the trace is empty.
// Returns false (and says why on stderr) when simulated threads are still alive.
bool Reset();

// Virtual time. Advance moves the clock by ms, stopping at every timer expiry and every
// timed wait on the way, and lets the system settle after each.
void Advance(DWORD ms);
DWORD Now();
// Real time instead of virtual time (running the program on Linux).
void UseRealClock(bool real);

// A test's own waits give up after this much real time, whichever clock runs: a hung
// program then fails its test instead of hanging the run. Generous enough for
// ThreadSanitizer on a busy machine.
constexpr unsigned kWaitLimitMs = 60000;

// Returns once every simulated thread (those made by CreateThread) is blocked in a
// platform wait: an empty GetMessageW, an unsignalled wait, a pending SendMessageW, a
// Sleep, a serial wait. Aborts the test program after kWaitLimitMs of real time, saying
// what every thread is doing, so a hung test fails instead of hanging.
void Settle();

// Waits for a kernel object (a thread's end, an event) with a limit in real time,
// whichever clock runs. With sentMessages it also returns when another thread sends
// the caller a message (answer it with PeekMessageW, as after MsgWaitForMultipleObjects).
// NeverEnds: the caller is a thread of the test, every simulated thread waits, nobody
// moves the virtual clock, and nothing has happened for a while (SetHangReportAfter),
// so nothing but the caller could have ended the wait. `why` then, and after a
// time-out, says what each thread waits in, with its deadline and the clock's time.
enum class Waited { Signaled, SentMessage, TimedOut, NeverEnds, NoObject };
Waited WaitFor(HANDLE object, unsigned realMs, std::string* why = nullptr, bool sentMessages = false);
// What each thread waits in, with its deadline and the clock's time, one per line.
std::string Threads();
// What a simulated thread is called in those reports.
void NameThread(HANDLE thread, const std::string& name);
// Messages posted to a thread, and input for it, that it has not fetched yet.
int Queued(DWORD threadId);
// How long a wait of the test's must see nothing happen before it is reported as
// never ending (5000 ms until the next Reset). Any wait of a test's thread with no
// time-out under virtual time is watched so: one that a platform call makes (a
// WaitForSingleObject with INFINITE, say) stops the test program with the report.
void SetHangReportAfter(unsigned ms);

// Simulated threads alive, and open kernel handles (threads, events, files, ...).
int LiveThreads();
int OpenHandles();

// The next `count` CreateThread calls fail (ERROR_NOT_ENOUGH_MEMORY).
void FailNextCreateThread(int count = 1);

// The ordered trace. Each entry is one line, for instance
//   keybd_event(0x41, 0x0)
//   PostKeybdMessage(-1, 0x0D, 0x80, [0x80], [U+000D])
//   SetTimer([Class], 1, 500)      KillTimer([Class], 1)
//   SetEvent(TouchEvent)
std::vector<std::string> Trace();
// Entries whose text starts with one of the prefixes, in order.
std::vector<std::string> Trace(const std::vector<std::string>& prefixes);
void ClearTrace();
// A program that runs for days must not keep every line: off, the trace stays empty.
void KeepTrace(bool keep);
// Called with each entry as it is recorded (under the trace's lock: keep it short and
// never call back into the platform); null for none.
void SetTraceSink(std::function<void(const std::string&)> sink);
// For other parts of the simulated platform: append one entry.
void Record(const std::string& entry);

// The user.
void PressCapsLock();  // a press and a release of Caps Lock on the handheld's own keys

}  // namespace bench
