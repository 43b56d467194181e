// Idle CPU of a running driver: the brindle program itself (its wWinMain on a thread of
// the simulated handheld, the real clock, the tty backend on a pseudo-terminal of its
// own), left alone for N seconds with no key pressed. Prints the CPU time the process
// used and its share of the real time, then types a key to show the driver was live
// and ends the program by its Exit command, answered Yes.
//
//   idle_cpu [seconds]     (default 10)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_comm.h"
#include "platform/sim/bench_shell.h"
#include "platform/sim/bench_user.h"
#include "engine/state.h"
#include "shell/dialogs.h"
#include "shell/driver.h"
#include "shell/mainwnd.h"
#include "shell/resids.h"
#include "tests/support/program_run.h"
#include "tests/support/pty.h"

int main(int argc, char** argv) {
  int seconds = argc > 1 ? atoi(argv[1]) : 10;
  if (seconds <= 0) seconds = 10;

  support::Pty pty;
  if (!pty.Open()) {
    perror("openpty");
    return 1;
  }
  const char* name = pty.name.c_str();
  bench::UseRealClock(true);
  bench::UseComPath(pty.name);

  HANDLE program = support::StartProgram();
  if (program == nullptr) {
    fprintf(stderr, "the program's thread did not start\n");
    return 1;
  }
  bench::Settle();
  if (DriverState != DRIVER_RUNNING) {
    fprintf(stderr, "the driver did not start on %s (state %d)\n", name, (int)DriverState.load());
    support::ExitProgramAsUser(program, 5000);
    return 1;
  }

  double cpu0 = support::CpuSeconds();
  auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  double cpu = support::CpuSeconds() - cpu0;
  double real = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

  // The driver was live all along: a key byte written now is typed.
  bench::ClearTrace();
  const uint8_t key[] = {0x04, 0x84};
  bool typed = false;
  if (pty.Write(key, sizeof key)) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!typed && std::chrono::steady_clock::now() < until) {
      typed = bench::Trace({"keybd_event(0x41"}).size() == 2;
      if (!typed) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  // The real clock: give the program a few seconds, not forever.
  bool ended = support::ExitProgramAsUser(program, 5000);
  DWORD code = 0;
  GetExitCodeThread(program, &code);
  CloseHandle(program);

  printf("driver running on %s, no key pressed, %.1f s real time\n", name, real);
  printf("process CPU time: %.6f s (%.4f %%)\n", cpu, 100.0 * cpu / real);
  printf("a key pressed afterwards was typed: %s\n", typed ? "yes" : "no");
  printf("the program ended by its Exit command: %s\n", ended && code == 0 ? "yes" : "no");
  return typed && ended && code == 0 ? 0 : 1;
}
