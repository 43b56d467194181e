// Internals of the simulated handheld shared by its parts (kernel, windows, serial
// port, registry, ...). Not for program code or tests.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "win32.h"

namespace sim {

// The one lock that guards every piece of simulated state. Never held while program
// code (a window procedure, a thread procedure) runs.
std::mutex& Mu();
using Lock = std::unique_lock<std::mutex>;

struct SentMsg;
struct Timer;

// One record per thread that uses the platform. Threads made by CreateThread are
// "counted": Settle waits for all of them to be blocked. Other threads (the test's
// own) use the platform the same way but are never waited for.
struct ThreadRec {
  DWORD id = 0;
  bool counted = false;
  bool blocked = false;       // inside Block(), waiting for Wake()
  std::condition_variable cv;
  std::string name;           // for diagnostics
  // For reports of a hang: who made it, what the test calls it, and the wait it is in.
  DWORD creator = 0;
  std::string label;
  std::string where;          // the call it waits in, when known
  uint64_t until = 0;         // that wait's deadline on the sim clock; 0 = none
  // message queue
  std::deque<std::shared_ptr<SentMsg>> sent;  // sent by other threads, not yet processed
  std::deque<MSG> posted;
  std::deque<MSG> input;       // keyboard input
  bool quit = false;
  int quitCode = 0;
  HWND focus = nullptr;
  std::vector<std::shared_ptr<SentMsg>> awaiting;  // our own cross-thread sends in flight
};

// The calling thread's record (made on first use). Lock held.
ThreadRec* Self();
ThreadRec* FindThread(DWORD id);

// Block the calling thread until pred() holds. Lock held on entry and exit; the
// thread is counted idle while it waits. Whoever changes what pred() reads must call
// Wake() on the waiting thread. A deadline (virtual or real ms on the sim clock;
// 0 = none) ends the wait with false when reached first. `where` names the call for
// reports (else the caller may have set Self()->where).
//
// A thread of the test that waits with no deadline under virtual time is watched: when
// every simulated thread waits, nobody moves the clock, every other thread of the test
// the sim knows waits too, and nothing happens for a while, the wait can never end. The
// test program then stops with a report of who waits where, instead of hanging.
bool Block(Lock& lk, const std::function<bool()>& pred, uint64_t deadline = 0, const char* where = nullptr);
// Block() for any thread: an external thread (the test's) that waits with a deadline
// under virtual time moves the clock itself, since nobody else would.
bool TimedWait(Lock& lk, const std::function<bool()>& pred, uint64_t deadline);
// Make a blocked thread runnable again (it re-tests its predicate). Lock held.
void Wake(ThreadRec* t);
// Wake every blocked thread (for state that many may wait on). Lock held.
void WakeAll();

// The clock, in milliseconds since Reset. Lock held.
uint64_t NowLocked();
// Call fire() (lock held) once the clock reaches `when`; returns a token for
// CancelDeadline. Lock held.
uint64_t AddDeadline(uint64_t when, std::function<void()> fire);
void CancelDeadline(uint64_t token);

// Kernel objects behind HANDLEs.
struct KObject {
  virtual ~KObject() = default;
  virtual const char* Kind() const = 0;
  // For WaitForSingleObject: signalled now? Acquire() is called when a wait succeeds.
  virtual bool Signaled() const { return false; }
  virtual void Acquire() {}
  // Called when the last handle to it closes.
  virtual void LastHandleClosed() {}
  // What it is, for reports ("thread 101", "event TouchEvent").
  virtual std::string Label() const { return Kind(); }
  std::vector<ThreadRec*> waiters;
  void WakeWaiters();
};
HANDLE NewHandle(std::shared_ptr<KObject> obj);  // lock held
std::shared_ptr<KObject> GetObject(HANDLE h);    // lock held; null when not open
template <class T>
std::shared_ptr<T> Get(HANDLE h) {
  return std::dynamic_pointer_cast<T>(GetObject(h));
}

// Trace entry (lock held or not: the trace has its own lock). Every entry also counts
// as a screen change.
void Record(const std::string& entry);
// What the screen shows may have changed (lock held or not): bumps bench::ScreenChanges.
void ScreenChanged();
std::string Hex(unsigned v, int width = 0);
std::string Narrow(const WCHAR* s);  // UTF-8 of a wide string (null -> "(null)")
void AppendUtf8(std::string& out, uint32_t codePoint);  // up to 21 bits, as given
std::string WindowLabel(HWND hwnd);  // "[Class]" for the trace; lock held

// Hooks that other parts register to drop their state on bench::Reset (lock held).
void OnReset(std::function<void()> fn);

// A simulated thread is leaving: its windows go, sends to it are answered 0. Lock held.
void ThreadExiting(ThreadRec* t);

// Per-thread last error.
void SetError(DWORD err);

}  // namespace sim
