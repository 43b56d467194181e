// Latency from a key byte's arrival at the terminal to its key event in the input system,
// with the real clock: the brindle program (its wWinMain on a thread of the simulated
// handheld, the tty backend on a pseudo-terminal of its own) typing letters.
//
//   idle:  one byte at a time, the next written only after a gap once the last was typed;
//   load:  the whole stream written as fast as the terminal takes it, while other
//          processes keep every core busy (the writer outruns the reader, so this is
//          mostly the time a byte waits behind the ones before it);
//   paced: the stream at the keyboard's own 9600 baud (one byte per 1.04 ms), under the
//          same CPU load.
//
// A byte's time is taken just before it is written to the terminal's master side; its
// event's time is taken by a trace sink as the sim records the keybd_event call. Each
// event is checked against its byte (key and direction, in order), so a lost, doubled
// or reordered key fails the run; typematic repeats of a key whose release comes late
// are counted apart. Also prints the time from wWinMain's start to the reader's first
// wait on the port.
//
//   latency [idle_bytes] [load_bytes]     (default 1000 and 20000; paced: load_bytes / 4)
//
// Output: one "name: key=value ..." line per figure, times in microseconds.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/state.h"
#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_comm.h"
#include "platform/sim/bench_shell.h"
#include "platform/sim/bench_user.h"
#include "shell/driver.h"
#include "shell/mainwnd.h"
#include "shell/resids.h"
#include "tests/support/program_run.h"
#include "tests/support/pty.h"

using Clock = std::chrono::steady_clock;

static int64_t Nanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// Letters a..z pressed and released in turn: every byte is exactly one key event.
static uint8_t StreamByte(size_t i) {
  uint8_t scan = static_cast<uint8_t>(0x04 + (i / 2) % 26);
  return static_cast<uint8_t>(i % 2 ? scan | 0x80 : scan);
}
static unsigned StreamVk(size_t i) { return 0x41 + static_cast<unsigned>((i / 2) % 26); }

// The run in progress, matched by the trace sink event by event: byte Expect of the
// stream is the next event due. A press of the key whose release is late is the
// typematic repeat (a starved reader leaves a key down long enough), not a fault.
static std::mutex EventsMu;
static std::condition_variable EventsCv;
static std::vector<int64_t> TypedAt;  // per byte of the run: when its event came
static size_t Expect = 0;
static size_t Repeats = 0;
static size_t Wrong = 0;           // events that are not the next byte's: lost, doubled, reordered
static int64_t FirstWaitAt = 0;    // the reader's SetCommMask before its first wait

// Called by the sim under its trace lock: keep it short, never call the platform.
static void Sink(const std::string& entry) {
  int64_t now = Nanos();
  unsigned vk = 0, flags = 0;
  if (std::sscanf(entry.c_str(), "keybd_event(0x%x, 0x%x)", &vk, &flags) == 2) {
    // The empty key events around characters are not key presses.
    if (vk == 0) return;
    bool up = (flags & KEYEVENTF_KEYUP) != 0;
    std::lock_guard<std::mutex> g(EventsMu);
    if (Expect < TypedAt.size() && vk == StreamVk(Expect) && up == (Expect % 2 == 1)) {
      TypedAt[Expect++] = now;
      EventsCv.notify_all();
    } else if (!up && Expect % 2 == 1 && vk == StreamVk(Expect)) {
      ++Repeats;
    } else {
      ++Wrong;
    }
    return;
  }
  // The reader arms its mask, then waits: a non-zero mask is its way into the wait.
  if (entry.rfind("SetCommMask(0x", 0) == 0 && entry != "SetCommMask(0x0000)") {
    std::lock_guard<std::mutex> g(EventsMu);
    if (FirstWaitAt == 0) FirstWaitAt = now;
  }
}

static void BeginRun(size_t bytes) {
  std::lock_guard<std::mutex> g(EventsMu);
  TypedAt.assign(bytes, 0);
  Expect = 0;
  Repeats = 0;
  Wrong = 0;
}

// Waits until the first `count` bytes of the run are typed, or `seconds` of real time passed.
static bool AwaitTyped(size_t count, int seconds) {
  std::unique_lock<std::mutex> g(EventsMu);
  return EventsCv.wait_for(g, std::chrono::seconds(seconds), [count] { return Expect >= count; });
}

struct Figures {
  size_t n = 0;
  size_t wrong = 0;
  size_t repeats = 0;
  double p50 = 0, p99 = 0, max = 0;
  double perSecond = 0;  // bytes typed a second, from the first write to the last event
};

// Nearest-rank percentile of sorted values.
static double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  size_t rank = static_cast<size_t>(p * static_cast<double>(sorted.size()) + 0.999999);
  if (rank < 1) rank = 1;
  if (rank > sorted.size()) rank = sorted.size();
  return sorted[rank - 1];
}

// Byte i's latency is its event's time minus written[i].
static Figures Measure(const std::vector<int64_t>& written) {
  Figures f;
  std::vector<double> us;
  std::lock_guard<std::mutex> g(EventsMu);
  for (size_t i = 0; i < written.size() && i < Expect; ++i)
    us.push_back(static_cast<double>(TypedAt[i] - written[i]) / 1000.0);
  f.n = us.size();
  f.wrong = Wrong;
  f.repeats = Repeats;
  if (f.n > 0 && TypedAt[f.n - 1] > written[0])
    f.perSecond = static_cast<double>(f.n) * 1e9 / static_cast<double>(TypedAt[f.n - 1] - written[0]);
  std::sort(us.begin(), us.end());
  f.p50 = Percentile(us, 0.50);
  f.p99 = Percentile(us, 0.99);
  f.max = us.empty() ? 0 : us.back();
  // Nothing more may come: a run ends with every key released.
  TypedAt.clear();
  return f;
}

// One byte at a time: write, wait for its event, then a gap with nothing on the line.
static Figures RunIdle(support::Pty& pty, size_t bytes) {
  BeginRun(bytes);
  std::vector<int64_t> written;
  written.reserve(bytes);
  for (size_t i = 0; i < bytes; ++i) {
    written.push_back(Nanos());
    const uint8_t b = StreamByte(i);
    if (!pty.Write(&b, 1)) break;
    if (!AwaitTyped(i + 1, 5)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  }
  return Measure(written);
}

// The stream written with `gapNs` between bytes (0: as fast as the terminal takes it).
static Figures RunStream(support::Pty& pty, size_t bytes, int64_t gapNs) {
  BeginRun(bytes);
  std::vector<int64_t> written;
  written.reserve(bytes);
  int64_t start = Nanos();
  for (size_t i = 0; i < bytes; ++i) {
    if (gapNs > 0) {
      int64_t due = start + static_cast<int64_t>(i) * gapNs;
      int64_t now = Nanos();
      if (due > now) std::this_thread::sleep_for(std::chrono::nanoseconds(due - now));
    }
    written.push_back(Nanos());
    const uint8_t b = StreamByte(i);
    if (!pty.Write(&b, 1)) break;
  }
  AwaitTyped(written.size(), 60);
  return Measure(written);
}

// CPU load from other processes: one per core, each spinning until killed. They are
// forked before the program's threads exist and wait on a pipe until the load starts.
struct Load {
  std::vector<pid_t> pids;
  int go = -1;
};

static Load PrepareLoad(int processes) {
  Load load;
  int fds[2];
  if (pipe(fds) != 0) return load;
  for (int i = 0; i < processes; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[1]);
      char c;
      if (read(fds[0], &c, 1) != 1) _exit(0);
      // The load itself: spinning is the point here.
      volatile uint64_t x = 1;
      for (;;) x = x * 6364136223846793005ull + 1442695040888963407ull;
    }
    if (pid > 0) load.pids.push_back(pid);
  }
  close(fds[0]);
  load.go = fds[1];
  return load;
}

static void StartLoad(Load& load) {
  for (size_t i = 0; i < load.pids.size(); ++i) {
    char c = 1;
    if (write(load.go, &c, 1) != 1) break;
  }
}

static void EndLoad(Load& load) {
  for (pid_t pid : load.pids) kill(pid, SIGKILL);
  for (pid_t pid : load.pids) waitpid(pid, nullptr, 0);
  load.pids.clear();
  if (load.go >= 0) close(load.go);
  load.go = -1;
}

static int64_t ProgramStart = 0;

static void Print(const char* name, const Figures& f, size_t asked) {
  printf("%s: bytes=%zu typed=%zu wrong=%zu repeats=%zu p50_us=%.1f p99_us=%.1f max_us=%.1f bytes_per_s=%.0f\n",
         name, asked, f.n, f.wrong, f.repeats, f.p50, f.p99, f.max, f.perSecond);
}

int main(int argc, char** argv) {
  long idleBytes = argc > 1 ? atol(argv[1]) : 1000;
  long loadBytes = argc > 2 ? atol(argv[2]) : 20000;
  if (idleBytes <= 0) idleBytes = 1000;
  if (loadBytes <= 0) loadBytes = 20000;
  // Even counts: every press has its release, so no key is left down between runs.
  idleBytes += idleBytes % 2;
  loadBytes += loadBytes % 2;

  long cores = sysconf(_SC_NPROCESSORS_ONLN);
  Load load = PrepareLoad(cores > 0 ? static_cast<int>(cores) : 1);

  support::Pty pty;
  if (!pty.Open()) {
    perror("openpty");
    EndLoad(load);
    return 1;
  }
  const char* name = pty.name.c_str();
  bench::UseRealClock(true);
  bench::UseComPath(pty.name);
  bench::KeepTrace(false);
  bench::SetTraceSink(Sink);

  ProgramStart = Nanos();
  HANDLE program = support::StartProgram();
  if (program == nullptr) {
    fprintf(stderr, "the program's thread did not start\n");
    EndLoad(load);
    return 1;
  }
  bench::Settle();
  if (DriverState != DRIVER_RUNNING) {
    fprintf(stderr, "the driver did not start on %s (state %d)\n", name, (int)DriverState.load());
    support::ExitProgramAsUser(program, 5000);
    EndLoad(load);
    return 1;
  }
  int64_t firstWait;
  {
    std::lock_guard<std::mutex> g(EventsMu);
    firstWait = FirstWaitAt;
  }
  printf("start: wwinmain_to_first_wait_us=%.1f\n",
         firstWait ? static_cast<double>(firstWait - ProgramStart) / 1000.0 : -1.0);

  Figures idle = RunIdle(pty, static_cast<size_t>(idleBytes));
  StartLoad(load);
  Figures full = RunStream(pty, static_cast<size_t>(loadBytes), 0);
  // 10 bits a byte (start, 8 data, stop) at 9600 baud.
  Figures paced = RunStream(pty, static_cast<size_t>(loadBytes / 4), 1000000000LL * 10 / 9600);
  EndLoad(load);

  bench::SetTraceSink(nullptr);
  bool ended = support::ExitProgramAsUser(program, 5000);
  DWORD code = 0;
  GetExitCodeThread(program, &code);
  CloseHandle(program);

  printf("terminal: %s, load: %ld spinning processes\n", name, cores);
  Print("idle", idle, static_cast<size_t>(idleBytes));
  Print("load", full, static_cast<size_t>(loadBytes));
  Print("paced", paced, static_cast<size_t>(loadBytes / 4));
  printf("the program ended by its Exit command: %s\n", ended && code == 0 ? "yes" : "no");
  bool ok = idle.n == static_cast<size_t>(idleBytes) && full.n == static_cast<size_t>(loadBytes) &&
            paced.n == static_cast<size_t>(loadBytes / 4) && idle.wrong + full.wrong + paced.wrong == 0;
  return ok && ended && code == 0 ? 0 : 1;
}
