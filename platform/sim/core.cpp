// Kernel of the simulated handheld: the lock, thread records and the idle count that
// Settle waits on, the clock and its deadlines, handles, threads, events, the trace.
#include "core.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

#include "bench.h"
#include "bench_view.h"

namespace sim {
namespace {

struct Deadline {
  uint64_t token;
  std::function<void()> fire;
};

struct Kernel {
  std::mutex mu;
  std::condition_variable settleCv;
  int runnable = 0;  // counted threads not blocked in a platform wait
  int liveThreads = 0;
  std::map<DWORD, std::shared_ptr<ThreadRec>> threads;
  DWORD nextTid = 100;

  bool realClock = false;
  uint64_t vnow = 0;
  std::chrono::steady_clock::time_point realBase = std::chrono::steady_clock::now();
  std::multimap<uint64_t, Deadline> deadlines;
  uint64_t nextToken = 1;
  std::condition_variable clockCv;
  bool clockThreadRunning = false;
  int clockMovers = 0;      // threads inside Advance or a test's own timed wait
  // Bumped by whatever can end a wait: a wake-up, the clock moving, a thread made or
  // ended. A watched wait that sees it stand still has seen nothing happen.
  uint64_t progress = 0;
  std::chrono::milliseconds hangAfter{5000};

  std::map<uintptr_t, std::shared_ptr<KObject>> handles;
  uintptr_t nextHandle = 0x100;
  int failCreateThread = 0;

  std::vector<std::function<void()>> resetHooks;

  std::mutex traceMu;
  std::vector<std::string> trace;
  bool keepTrace = true;                               // tests read it back
  std::function<void(const std::string&)> traceSink;   // a running program's live view

  // Its own lock, so a viewer's thread waits on it without ever holding mu.
  std::mutex changeMu;
  std::condition_variable changeCv;
  uint64_t changes = 0;
};

// Never destroyed: detached simulated threads may still be leaving when main returns.
Kernel& K() {
  static Kernel* k = new Kernel;
  return *k;
}

thread_local ThreadRec* tlsSelf = nullptr;
thread_local DWORD tlsLastError = 0;

// External threads (the test's own) get a record on first use, dropped at thread exit.
struct ExternalHolder {
  std::shared_ptr<ThreadRec> rec;
  ~ExternalHolder() {
    if (!rec) return;
    Lock lk(K().mu);
    K().threads.erase(rec->id);
    tlsSelf = nullptr;
  }
};
thread_local ExternalHolder tlsExternal;

void FireDueLocked(uint64_t upTo) {
  Kernel& k = K();
  while (!k.deadlines.empty() && k.deadlines.begin()->first <= upTo) {
    auto it = k.deadlines.begin();
    auto fire = std::move(it->second.fire);
    k.deadlines.erase(it);
    ++k.progress;
    fire();
  }
}

void ClockThread() {
  Kernel& k = K();
  Lock lk(k.mu);
  for (;;) {
    if (!k.realClock) {
      k.clockThreadRunning = false;
      return;
    }
    uint64_t now = NowLocked();
    FireDueLocked(now);
    if (k.deadlines.empty()) {
      k.clockCv.wait(lk);
    } else {
      auto when = k.realBase + std::chrono::milliseconds(k.deadlines.begin()->first);
      k.clockCv.wait_until(lk, when);
    }
  }
}

struct ThreadObj : KObject {
  const char* Kind() const override { return "thread"; }
  std::string Label() const override { return "thread " + std::to_string(tid); }
  bool Signaled() const override { return exited; }
  bool exited = false;
  DWORD exitCode = STILL_ACTIVE;
  DWORD tid = 0;
};

struct EventObj : KObject {
  const char* Kind() const override { return "event"; }
  std::string Label() const override { return name.empty() ? "an event" : "event " + Narrow(name.c_str()); }
  bool Signaled() const override { return signaled || pulseTickets > 0; }
  void Acquire() override {
    if (!signaled && pulseTickets > 0) --pulseTickets;
    else if (!manual) signaled = false;
  }
  bool manual = false;
  bool signaled = false;
  size_t pulseTickets = 0;  // waiters a pulse still releases
  std::wstring name;
};

std::map<std::wstring, std::weak_ptr<EventObj>>& NamedEvents() {
  static auto* m = new std::map<std::wstring, std::weak_ptr<EventObj>>;
  return *m;
}

std::string EventLabel(const std::shared_ptr<EventObj>& e) {
  return e->name.empty() ? std::string("event") : Narrow(e->name.c_str());
}

}  // namespace

std::mutex& Mu() { return K().mu; }

ThreadRec* Self() {
  if (tlsSelf) return tlsSelf;
  Kernel& k = K();
  auto rec = std::make_shared<ThreadRec>();
  rec->id = k.nextTid++;
  rec->name = "external";
  k.threads[rec->id] = rec;
  tlsExternal.rec = rec;
  tlsSelf = rec.get();
  return tlsSelf;
}

ThreadRec* FindThread(DWORD id) {
  auto it = K().threads.find(id);
  return it == K().threads.end() ? nullptr : it->second.get();
}

namespace {

using RealTime = std::chrono::steady_clock::time_point;

// How a wait ended.
enum class Ended { Ready, Deadline, RealLimit, NeverEnds };

// Blocked threads of the test poll this often while they are watched.
const std::chrono::milliseconds kWatchPoll{100};

std::string Ms(uint64_t ms) { return std::to_string(ms) + " ms"; }

std::string Who(const ThreadRec& t) {
  std::string who = t.counted ? t.name : "a thread of the test (" + std::to_string(t.id) + ")";
  if (!t.label.empty()) who += ", " + t.label;
  if (t.counted && t.creator) who += ", made by thread " + std::to_string(t.creator);
  return who;
}

// One line per thread: the wait it is in, with its deadline. Lock held.
std::string DescribeThreads() {
  Kernel& k = K();
  std::string out = "  clock: " + Ms(NowLocked()) + (k.realClock ? " (real)\n" : " (virtual)\n");
  for (auto& [id, t] : k.threads) {
    out += "  " + Who(*t) + ": ";
    if (!t->blocked) {
      out += "running\n";
      continue;
    }
    out += t->where.empty() ? std::string("in a platform wait") : "in " + t->where;
    out += t->until ? " until " + Ms(t->until) + "\n" : ", no deadline\n";
  }
  return out;
}

// Nothing but the caller could end its wait: every simulated thread waits, nobody is
// moving the virtual clock, and every other thread of the test the sim knows waits
// too. Lock held.
bool NobodyElseCanAct(ThreadRec* self) {
  Kernel& k = K();
  if (k.realClock || k.runnable != 0 || k.clockMovers != 0) return false;
  for (auto& [id, t] : k.threads)
    if (!t->counted && t.get() != self && !t->blocked) return false;
  return true;
}

std::string HangReport(std::chrono::milliseconds quiet) {
  Kernel& k = K();
  std::string out = "a wait that can never end: every simulated thread waits, nobody moves the virtual clock, "
                    "and nothing has happened for " + std::to_string(quiet.count()) + " ms of real time.\n";
  std::string sleepers;
  for (auto& [id, t] : k.threads)
    if (t->counted && t->blocked && t->until)
      sleepers += "  " + Who(*t) + ": " + (t->where.empty() ? std::string("a timed wait") : t->where) +
                  " until " + Ms(t->until) + "\n";
  if (!sleepers.empty()) out += "Only the clock could end these waits, and nobody moves it:\n" + sleepers;
  return out + "Every thread:\n" + DescribeThreads();
}

void Unblock(ThreadRec* t) {
  t->blocked = false;
  if (t->counted) ++K().runnable;
}

// Block() with a limit in real time (RealTime::max() for none); `report` gets what
// every thread waits in when the wait ends at that limit or can never end.
Ended BlockUntil(Lock& lk, const std::function<bool()>& pred, uint64_t deadline, RealTime realLimit,
                 std::string* report) {
  Kernel& k = K();
  ThreadRec* t = Self();
  bool timedOut = false;
  uint64_t token = 0;
  if (deadline) {
    t->until = deadline;
    token = AddDeadline(deadline, [t, &timedOut] {
      timedOut = true;
      Wake(t);
    });
  }
  const bool limited = realLimit != RealTime::max();
  const bool watched = !t->counted && !deadline && !k.realClock;
  uint64_t seen = k.progress;
  bool quiet = false;
  RealTime quietSince;
  Ended ended = Ended::Ready;
  while (ended == Ended::Ready && !pred()) {
    if (timedOut) {
      ended = Ended::Deadline;
      break;
    }
    t->blocked = true;
    if (t->counted && --k.runnable == 0) k.settleCv.notify_all();
    while (t->blocked) {
      if (!limited && !watched) {
        t->cv.wait(lk, [t] { return !t->blocked; });
        break;
      }
      RealTime until = realLimit;
      if (watched) until = std::min(until, std::chrono::steady_clock::now() + kWatchPoll);
      if (t->cv.wait_until(lk, until, [t] { return !t->blocked; })) break;
      RealTime now = std::chrono::steady_clock::now();
      if (limited && now >= realLimit) {
        if (report) *report = DescribeThreads();
        Unblock(t);
        ended = Ended::RealLimit;
        break;
      }
      if (!watched) continue;
      bool stuck = NobodyElseCanAct(t);
      if (!stuck || k.progress != seen) {
        quiet = false;
        seen = k.progress;
      }
      if (!stuck) continue;
      if (!quiet) {
        quiet = true;
        quietSince = now;
      } else if (now - quietSince >= k.hangAfter) {
        if (report) *report = HangReport(k.hangAfter);
        Unblock(t);
        ended = Ended::NeverEnds;
      }
    }
  }
  if (token && !timedOut) CancelDeadline(token);
  t->until = 0;
  t->where.clear();
  return ended;
}

}  // namespace

bool Block(Lock& lk, const std::function<bool()>& pred, uint64_t deadline, const char* where) {
  if (where) Self()->where = where;
  std::string report;
  Ended ended = BlockUntil(lk, pred, deadline, RealTime::max(), &report);
  if (ended == Ended::NeverEnds) {
    // A platform call has no way to say this: stop the test program, saying why.
    fflush(stdout);
    fprintf(stderr, "simulated handheld: %s", report.c_str());
    fflush(stderr);
    abort();
  }
  return ended == Ended::Ready;
}

void Wake(ThreadRec* t) {
  if (!t || !t->blocked) return;
  Unblock(t);
  ++K().progress;
  t->cv.notify_one();
}

void WakeAll() {
  for (auto& [id, t] : K().threads) Wake(t.get());
}

void KObject::WakeWaiters() {
  for (ThreadRec* t : waiters) Wake(t);
}

uint64_t NowLocked() {
  Kernel& k = K();
  if (!k.realClock) return k.vnow;
  return (uint64_t)std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now() - k.realBase)
      .count();
}

uint64_t AddDeadline(uint64_t when, std::function<void()> fire) {
  Kernel& k = K();
  uint64_t token = k.nextToken++;
  if (when <= NowLocked()) {
    fire();
    return token;
  }
  k.deadlines.emplace(when, Deadline{token, std::move(fire)});
  if (k.realClock) k.clockCv.notify_all();
  return token;
}

void CancelDeadline(uint64_t token) {
  auto& d = K().deadlines;
  for (auto it = d.begin(); it != d.end(); ++it) {
    if (it->second.token == token) {
      d.erase(it);
      return;
    }
  }
}

HANDLE NewHandle(std::shared_ptr<KObject> obj) {
  Kernel& k = K();
  uintptr_t v = k.nextHandle;
  k.nextHandle += 4;
  k.handles[v] = std::move(obj);
  return (HANDLE)v;
}

std::shared_ptr<KObject> GetObject(HANDLE h) {
  auto it = K().handles.find((uintptr_t)h);
  return it == K().handles.end() ? nullptr : it->second;
}

void Record(const std::string& entry) {
  Kernel& k = K();
  {
    std::lock_guard<std::mutex> g(k.traceMu);
    if (k.keepTrace) k.trace.push_back(entry);
    if (k.traceSink) k.traceSink(entry);
  }
  ScreenChanged();
}

void ScreenChanged() {
  Kernel& k = K();
  std::lock_guard<std::mutex> g(k.changeMu);
  ++k.changes;
  k.changeCv.notify_all();
}

std::string Hex(unsigned v, int width) {
  char buf[32];
  snprintf(buf, sizeof buf, "0x%0*X", width, v);
  return buf;
}

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += (char)c;
  } else if (c < 0x800) {
    out += (char)(0xC0 | (c >> 6));
    out += (char)(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += (char)(0xE0 | (c >> 12));
    out += (char)(0x80 | ((c >> 6) & 0x3F));
    out += (char)(0x80 | (c & 0x3F));
  } else {
    out += (char)(0xF0 | (c >> 18));
    out += (char)(0x80 | ((c >> 12) & 0x3F));
    out += (char)(0x80 | ((c >> 6) & 0x3F));
    out += (char)(0x80 | (c & 0x3F));
  }
}

std::string Narrow(const WCHAR* s) {
  if (!s) return "(null)";
  std::string out;
  for (; *s; ++s) AppendUtf8(out, (uint32_t)*s);
  return out;
}

void OnReset(std::function<void()> fn) { K().resetHooks.push_back(std::move(fn)); }

void SetError(DWORD err) { tlsLastError = err; }

}  // namespace sim

using namespace sim;

// ---- threads ------------------------------------------------------------------

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID param,
                           DWORD, LPDWORD threadId) {
  Kernel& k = K();
  Lock lk(k.mu);
  if (!start) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (k.failCreateThread > 0) {
    --k.failCreateThread;
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto rec = std::make_shared<ThreadRec>();
  rec->id = k.nextTid++;
  rec->counted = true;
  rec->name = "thread " + std::to_string(rec->id);
  if (Self()->counted) rec->creator = Self()->id;
  k.threads[rec->id] = rec;
  ++k.runnable;  // counts from its creation, so Settle cannot slip in before it runs
  ++k.liveThreads;
  ++k.progress;
  auto obj = std::make_shared<ThreadObj>();
  obj->tid = rec->id;
  HANDLE h = NewHandle(obj);
  if (threadId) *threadId = rec->id;
  std::thread([rec, obj, start, param] {
    tlsSelf = rec.get();
    DWORD rc = start(param);
    Kernel& k = K();
    Lock lk(k.mu);
    ThreadExiting(rec.get());
    obj->exited = true;
    obj->exitCode = rc;
    obj->WakeWaiters();
    k.threads.erase(rec->id);
    --k.liveThreads;
    ++k.progress;
    if (--k.runnable == 0) k.settleCv.notify_all();
    tlsSelf = nullptr;
  }).detach();
  return h;
}

BOOL WINAPI CloseHandle(HANDLE h) {
  Lock lk(Mu());
  auto it = K().handles.find((uintptr_t)h);
  if (it == K().handles.end()) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto obj = it->second;
  K().handles.erase(it);
  bool more = false;
  for (auto& [v, o] : K().handles) more = more || o == obj;
  if (!more) obj->LastHandleClosed();
  return TRUE;
}

BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD code) {
  Lock lk(Mu());
  auto t = Get<ThreadObj>(thread);
  if (!t || !code) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *code = t->exitCode;
  return TRUE;
}

DWORD WINAPI GetCurrentThreadId(void) {
  Lock lk(Mu());
  return Self()->id;
}

// ---- events -------------------------------------------------------------------

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
  Lock lk(Mu());
  if (name && *name) {
    auto& named = NamedEvents();
    auto it = named.find(name);
    if (it != named.end()) {
      if (auto existing = it->second.lock()) {
        HANDLE h = NewHandle(existing);
        SetError(ERROR_ALREADY_EXISTS);
        return h;
      }
    }
  }
  auto e = std::make_shared<EventObj>();
  e->manual = manualReset != 0;
  e->signaled = initialState != 0;
  if (name) e->name = name;
  if (!e->name.empty()) NamedEvents()[e->name] = e;
  SetError(ERROR_SUCCESS);
  return NewHandle(e);
}

BOOL WINAPI EventModify(HANDLE event, DWORD func) {
  Lock lk(Mu());
  auto e = Get<EventObj>(event);
  if (!e) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  switch (func) {
    case EVENT_SET:
      Record("SetEvent(" + EventLabel(e) + ")");
      e->signaled = true;
      e->WakeWaiters();
      return TRUE;
    case EVENT_RESET:
      e->signaled = false;
      return TRUE;
    case EVENT_PULSE: {
      // Releases the threads waiting now (one for an auto-reset event), then resets.
      Record("PulseEvent(" + EventLabel(e) + ")");
      e->signaled = false;
      e->pulseTickets = e->manual ? e->waiters.size() : std::min<size_t>(1, e->waiters.size());
      e->WakeWaiters();
      return TRUE;
    }
    default:
      SetError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
}

BOOL WINAPI SetEvent(HANDLE event) { return EventModify(event, EVENT_SET); }
BOOL WINAPI ResetEvent(HANDLE event) { return EventModify(event, EVENT_RESET); }
BOOL WINAPI PulseEvent(HANDLE event) { return EventModify(event, EVENT_PULSE); }

// ---- waiting and time ---------------------------------------------------------

namespace {

// An external thread (the test's) that waits with a time-out under virtual time moves
// the clock itself, as Sleep does: nobody else would.
bool ExternalVirtualWait(Lock& lk, const std::function<bool()>& pred, uint64_t deadline) {
  Kernel& k = K();
  ++k.clockMovers;
  bool ok = false;
  for (;;) {
    if (pred()) {
      ok = true;
      break;
    }
    if (NowLocked() >= deadline) break;
    lk.unlock();
    bench::Settle();
    lk.lock();
    if (pred()) {
      ok = true;
      break;
    }
    uint64_t next = deadline;
    if (!k.deadlines.empty()) next = std::min(next, k.deadlines.begin()->first);
    if (next > k.vnow) {
      k.vnow = next;
      ++k.progress;
    }
    FireDueLocked(k.vnow);
  }
  --k.clockMovers;
  return ok;
}

}  // namespace

namespace sim {
bool TimedWait(Lock& lk, const std::function<bool()>& pred, uint64_t deadline) {
  if (deadline && !K().realClock && !Self()->counted) return ExternalVirtualWait(lk, pred, deadline);
  return Block(lk, pred, deadline);
}
}  // namespace sim

DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ms) {
  Lock lk(Mu());
  auto obj = GetObject(h);
  if (!obj) {
    SetError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  auto pred = [&obj] { return obj->Signaled(); };
  bool ok;
  if (pred()) {
    ok = true;
  } else if (ms == 0) {
    ok = false;
  } else {
    ThreadRec* self = Self();
    obj->waiters.push_back(self);
    self->where = "WaitForSingleObject(" + obj->Label() + ")";
    ok = TimedWait(lk, pred, ms == INFINITE ? 0 : NowLocked() + ms);
    auto& w = obj->waiters;
    w.erase(std::find(w.begin(), w.end(), self));
  }
  if (!ok) return WAIT_TIMEOUT;
  obj->Acquire();
  return WAIT_OBJECT_0;
}

void WINAPI Sleep(DWORD ms) {
  if (ms == 0) {
    std::this_thread::yield();
    return;
  }
  Lock lk(Mu());
  Record("Sleep(" + std::to_string(ms) + ")");
  uint64_t deadline = NowLocked() + ms;
  if (!K().realClock && !Self()->counted) {
    ExternalVirtualWait(lk, [] { return false; }, deadline);
    return;
  }
  Self()->where = "Sleep(" + std::to_string(ms) + ")";
  Block(lk, [] { return false; }, deadline);
}

DWORD WINAPI GetTickCount(void) {
  Lock lk(Mu());
  return (DWORD)NowLocked();
}

DWORD WINAPI GetLastError(void) { return tlsLastError; }
void WINAPI SetLastError(DWORD err) { tlsLastError = err; }

// ---- the bench ----------------------------------------------------------------

namespace bench {

void Settle() {
  Kernel& k = K();
  Lock lk(k.mu);
  if (k.settleCv.wait_for(lk, std::chrono::milliseconds(kWaitLimitMs), [&k] { return k.runnable == 0; })) return;
  fflush(stdout);
  fprintf(stderr, "bench::Settle: simulated threads still running after %u s of real time:\n%s",
          kWaitLimitMs / 1000, DescribeThreads().c_str());
  fflush(stderr);
  abort();
}

void Advance(DWORD ms) {
  Kernel& k = K();
  Settle();
  Lock lk(k.mu);
  if (k.realClock) {
    lk.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return;
  }
  ++k.clockMovers;
  uint64_t target = k.vnow + ms;
  while (!k.deadlines.empty() && k.deadlines.begin()->first <= target) {
    k.vnow = std::max(k.vnow, k.deadlines.begin()->first);
    FireDueLocked(k.vnow);
    lk.unlock();
    Settle();
    lk.lock();
  }
  if (k.vnow != target) ++k.progress;
  k.vnow = target;
  --k.clockMovers;
  lk.unlock();
  Settle();
}

DWORD Now() {
  Lock lk(Mu());
  return (DWORD)NowLocked();
}

void UseRealClock(bool real) {
  Kernel& k = K();
  Lock lk(k.mu);
  if (real == k.realClock) return;
  uint64_t now = NowLocked();
  k.realClock = real;
  if (real) {
    // Keep the clock continuous: real time starts where virtual time stood.
    k.realBase = std::chrono::steady_clock::now() - std::chrono::milliseconds(now);
    if (!k.clockThreadRunning) {
      k.clockThreadRunning = true;
      std::thread(ClockThread).detach();
    }
  } else {
    k.vnow = now;
  }
  ++k.progress;
  k.clockCv.notify_all();
}

int LiveThreads() {
  Lock lk(Mu());
  return K().liveThreads;
}

int OpenHandles() {
  Lock lk(Mu());
  return (int)K().handles.size();
}

void FailNextCreateThread(int count) {
  Lock lk(Mu());
  K().failCreateThread = count;
}

std::vector<std::string> Trace() {
  Kernel& k = K();
  std::lock_guard<std::mutex> g(k.traceMu);
  return k.trace;
}

std::vector<std::string> Trace(const std::vector<std::string>& prefixes) {
  std::vector<std::string> out;
  for (auto& e : Trace())
    for (auto& p : prefixes)
      if (e.compare(0, p.size(), p) == 0) {
        out.push_back(e);
        break;
      }
  return out;
}

void ClearTrace() {
  Kernel& k = K();
  std::lock_guard<std::mutex> g(k.traceMu);
  k.trace.clear();
}

void KeepTrace(bool keep) {
  Kernel& k = K();
  std::lock_guard<std::mutex> g(k.traceMu);
  k.keepTrace = keep;
  if (!keep) k.trace.clear();
}

void SetTraceSink(std::function<void(const std::string&)> sink) {
  Kernel& k = K();
  std::lock_guard<std::mutex> g(k.traceMu);
  k.traceSink = std::move(sink);
}

void Record(const std::string& entry) { sim::Record(entry); }

uint64_t ScreenChanges() {
  Kernel& k = K();
  std::lock_guard<std::mutex> g(k.changeMu);
  return k.changes;
}

// Real time whatever the clock: the waiter is a viewer's own thread, never a simulated
// one, so it neither moves virtual time nor counts for Settle.
uint64_t WaitScreenChange(uint64_t seen, int timeoutMs) {
  Kernel& k = K();
  std::unique_lock<std::mutex> g(k.changeMu);
  if (timeoutMs > 0)
    k.changeCv.wait_for(g, std::chrono::milliseconds(timeoutMs), [&k, seen] { return k.changes != seen; });
  return k.changes;
}

Waited WaitFor(HANDLE object, unsigned realMs, std::string* why, bool sentMessages) {
  Lock lk(Mu());
  auto obj = GetObject(object);
  if (!obj) {
    if (why) *why = "not an open handle";
    return Waited::NoObject;
  }
  ThreadRec* self = Self();
  auto pred = [&] { return obj->Signaled() || (sentMessages && !self->sent.empty()); };
  Ended ended = Ended::Ready;
  std::string report;
  if (!pred()) {
    obj->waiters.push_back(self);
    self->where = "bench::WaitFor(" + obj->Label() + ")";
    ended = BlockUntil(lk, pred, 0, std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs), &report);
    auto& w = obj->waiters;
    w.erase(std::find(w.begin(), w.end(), self));
  }
  switch (ended) {
    case Ended::Ready:
      if (!obj->Signaled()) return Waited::SentMessage;
      obj->Acquire();
      return Waited::Signaled;
    case Ended::NeverEnds:
      if (why) *why = report;
      return Waited::NeverEnds;
    default:
      if (why) *why = "still waiting after " + std::to_string(realMs) + " ms of real time:\n" + report;
      return Waited::TimedOut;
  }
}

std::string Threads() {
  Lock lk(Mu());
  return DescribeThreads();
}

void NameThread(HANDLE thread, const std::string& name) {
  Lock lk(Mu());
  if (auto t = Get<ThreadObj>(thread))
    if (ThreadRec* rec = FindThread(t->tid)) rec->label = name;
}

int Queued(DWORD threadId) {
  Lock lk(Mu());
  ThreadRec* t = FindThread(threadId);
  return t ? (int)(t->posted.size() + t->input.size()) : 0;
}

void SetHangReportAfter(unsigned ms) {
  Lock lk(Mu());
  K().hangAfter = std::chrono::milliseconds(ms);
}

bool Reset() {
  Settle();
  Kernel& k = K();
  {
    Lock lk(k.mu);
    if (k.liveThreads > 0) {
      fprintf(stderr, "bench::Reset: %d simulated thread(s) still alive:\n", k.liveThreads);
      for (auto& [id, t] : k.threads)
        if (t->counted) fprintf(stderr, "  %s\n", t->name.c_str());
      return false;
    }
    for (auto& fn : k.resetHooks) fn();
    k.handles.clear();
    NamedEvents().clear();
    k.deadlines.clear();
    k.vnow = 0;
    k.failCreateThread = 0;
    k.hangAfter = std::chrono::milliseconds(5000);
    if (k.realClock) k.realBase = std::chrono::steady_clock::now();
    for (auto& [id, t] : k.threads) {
      t->sent.clear();
      t->posted.clear();
      t->input.clear();
      t->quit = false;
      t->quitCode = 0;
      t->focus = nullptr;
      t->awaiting.clear();
    }
  }
  ClearTrace();
  return true;
}

}  // namespace bench
