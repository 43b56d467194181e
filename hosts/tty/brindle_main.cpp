// The process entry of brindle on Linux: the simulated handheld with the real clock,
// the keyboard's serial line on a tty, the registry in a file and top-level windows
// shared with other processes (a second brindle finds the first), then the program's
// wWinMain on this thread.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_comm.h"
#include "platform/sim/bench_registry.h"
#include "platform/sim/bench_ui.h"
#include "hosts/signals.h"
#include "platform/sim/instance.h"

extern "C" int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);

namespace {

void Usage(FILE* to) {
  fprintf(to,
          "usage: brindle [--tty DEVICE] [--registry FILE] [--trace]\n"
          "  --tty DEVICE     the keyboard's serial device (COM1:), e.g. /dev/ttyS0 or a pseudo-terminal\n"
          "  --registry FILE  the registry, a REGEDIT4 file\n"
          "                   (default $XDG_CONFIG_HOME/brindle/registry.reg, else ~/.config/brindle/registry.reg)\n"
          "  --trace          print what the program asks of the handheld (keys typed, timers, ...)\n"
          "  --help           this text\n");
}

// mkdir -p, private to the user, as a settings folder should be.
bool MakeFolders(const std::string& dir) {
  for (size_t i = 1; i <= dir.size(); ++i) {
    if (i < dir.size() && dir[i] != '/') continue;
    std::string part = dir.substr(0, i);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

std::string DefaultRegistry(std::string* error) {
  const char* config = getenv("XDG_CONFIG_HOME");
  const char* home = getenv("HOME");
  std::string dir;
  if (config && *config) dir = std::string(config) + "/brindle";
  else if (home && *home) dir = std::string(home) + "/.config/brindle";
  else {
    *error = "neither XDG_CONFIG_HOME nor HOME is set; give --registry FILE";
    return "";
  }
  if (!MakeFolders(dir)) {
    *error = "cannot make " + dir + ": " + strerror(errno);
    return "";
  }
  return dir + "/registry.reg";
}

// Ctrl-C, a hang-up or kill: the program's windows are closed as a user closes them,
// so the driver stops, powers the keyboard off and lifts held keys; a second signal
// ends the process at once. The shared windows are withdrawn either way, so the next
// brindle does not have to find a stale socket. The registry needs nothing: every save
// is already complete on disk.
void CloseEveryWindow() {
  for (const bench::TopLevelWindow& w : bench::TopLevelWindows()) PostMessageW(w.hwnd, WM_CLOSE, 0, 0);
}

void WithdrawSharedWindows() { sim::ShareWindowsAcrossProcesses(false); }

}  // namespace

int main(int argc, char** argv) {
  std::string tty, registry;
  bool trace = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help") {
      Usage(stdout);
      return 0;
    }
    if (arg == "--trace") {
      trace = true;
      continue;
    }
    if ((arg == "--tty" || arg == "--registry") && i + 1 < argc && argv[i + 1][0]) {
      (arg == "--tty" ? tty : registry) = argv[++i];
      continue;
    }
    fprintf(stderr, "brindle: %s: %s\n", arg.c_str(),
            arg == "--tty" || arg == "--registry" ? "needs an argument" : "unknown option");
    Usage(stderr);
    return 2;
  }
  if (registry.empty()) {
    std::string error;
    registry = DefaultRegistry(&error);
    if (registry.empty()) {
      fprintf(stderr, "brindle: %s\n", error.c_str());
      return 2;
    }
  }

  // Timers and waits run on the wall clock; the main thread stays an uncounted thread,
  // as nobody here waits for the sim to settle.
  host::EndOnSignals(CloseEveryWindow, WithdrawSharedWindows);
  bench::UseRealClock(true);
  // Days of typing would fill memory with trace lines nobody reads back.
  bench::KeepTrace(false);
  if (trace) {
    auto start = std::chrono::steady_clock::now();
    bench::SetTraceSink([start](const std::string& entry) {
      double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      fprintf(stderr, "[%9.3f] %s\n", s, entry.c_str());
    });
  }
  if (!tty.empty()) {
    bench::UseComPath(tty);
  } else if (!getenv("BRINDLE_COM1")) {
    fprintf(stderr,
            "brindle: no --tty given: COM1: is the simulated line, which nothing feeds; "
            "no key will be typed\n");
  }
  std::string error;
  if (!bench::UseRegistryFile(registry, &error)) {
    fprintf(stderr, "brindle: the registry cannot be read: %s\n", error.c_str());
    return 2;
  }
  sim::ShareWindowsAcrossProcesses(true);

  static WCHAR commandLine[] = L"";
  int rc = wWinMain(GetModuleHandleW(nullptr), nullptr, commandLine, SW_SHOWNORMAL);
  sim::ShareWindowsAcrossProcesses(false);
  return rc;
}
