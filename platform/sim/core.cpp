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
  bool Signaled() const override { return exited; }
  bool exited = false;
  DWORD exitCode = STILL_ACTIVE;
  DWORD tid = 0;
};

struct EventObj : KObject {
  const char* Kind() const override { return "event"; }
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

bool Block(Lock& lk, const std::function<bool()>& pred, uint64_t deadline) {
  Kernel& k = K();
  ThreadRec* t = Self();
  bool timedOut = false;
  uint64_t token = 0;
  if (deadline) token = AddDeadline(deadline, [t, &timedOut] {
      timedOut = true;
      Wake(t);
    });
  while (!pred()) {
    if (timedOut) return false;
    t->blocked = true;
    if (t->counted && --k.runnable == 0) k.settleCv.notify_all();
    t->cv.wait(lk, [t] { return !t->blocked; });
  }
  if (token && !timedOut) CancelDeadline(token);
  return true;
}

void Wake(ThreadRec* t) {
  if (!t || !t->blocked) return;
  t->blocked = false;
  if (t->counted) ++K().runnable;
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
  k.threads[rec->id] = rec;
  ++k.runnable;  // counts from its creation, so Settle cannot slip in before it runs
  ++k.liveThreads;
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
  for (;;) {
    if (pred()) return true;
    if (NowLocked() >= deadline) return false;
    lk.unlock();
    bench::Settle();
    lk.lock();
    if (pred()) return true;
    Kernel& k = K();
    uint64_t next = deadline;
    if (!k.deadlines.empty()) next = std::min(next, k.deadlines.begin()->first);
    if (next > k.vnow) k.vnow = next;
    FireDueLocked(k.vnow);
  }
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
  if (k.settleCv.wait_for(lk, std::chrono::seconds(30), [&k] { return k.runnable == 0; })) return;
  fprintf(stderr, "bench::Settle: simulated threads still running after 30 s:\n");
  for (auto& [id, t] : k.threads)
    if (t->counted && !t->blocked) fprintf(stderr, "  %s\n", t->name.c_str());
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
  uint64_t target = k.vnow + ms;
  while (!k.deadlines.empty() && k.deadlines.begin()->first <= target) {
    k.vnow = std::max(k.vnow, k.deadlines.begin()->first);
    FireDueLocked(k.vnow);
    lk.unlock();
    Settle();
    lk.lock();
  }
  k.vnow = target;
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
