// brindle-web: the real brindle program on the simulated handheld with the real clock,
// a notes program to type into, and the handheld served as a page on 127.0.0.1.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_comm.h"
#include "platform/sim/bench_modules.h"
#include "platform/sim/bench_registry.h"
#include "platform/sim/bench_ui.h"
#include "platform/sim/bench_view.h"
#include "hosts/signals.h"
#include "hosts/web/api.h"
#include "hosts/web/notes.h"
#include "hosts/web/server.h"

extern "C" int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);

namespace {

const char* const kLanguages[] = {"USA", "FRA", "GER", "ESP", "PTB", "ITA"};

void Usage(FILE* to) {
  fprintf(to,
          "usage: brindle-web [--port N] [--lang CODE] [--tty DEVICE] [--registry FILE] [--trace]\n"
          "  --port N         listen on 127.0.0.1:N (default 8240; 0: any free port)\n"
          "  --lang CODE      the national build: USA (default), FRA, GER, ESP, PTB, ITA\n"
          "  --tty DEVICE     key bytes from a real serial device instead of the page's keyboard\n"
          "  --registry FILE  the registry, a REGEDIT4 file (default web-registry.reg beside the program)\n"
          "  --trace          also print the trace on stderr\n");
}

std::mutex endMu;
std::condition_variable endCv;
bool endWanted = false;

// Ctrl-C: the program's windows are closed as a user closes them and the page is left;
// a second signal ends the process at once.
void CloseTheProgram() {
  {
    std::lock_guard<std::mutex> g(endMu);
    endWanted = true;
  }
  endCv.notify_all();
  // Nobody is left to answer: open boxes take their default button.
  bench::HoldMessageBoxes(false);
  for (const bench::TopLevelWindow& w : bench::TopLevelWindows())
    if (w.hwnd != web::NotesWindow()) PostMessageW(w.hwnd, WM_CLOSE, 0, 0);
}

std::string ExeDir() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  buf[n] = 0;
  std::string s = buf;
  return s.substr(0, s.rfind('/'));
}

// Waits (real time, on the screen's changes) until `done` holds or `ms` pass.
template <class Pred>
bool WaitFor(Pred done, int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  uint64_t seen = bench::ScreenChanges();
  while (!done()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    seen = bench::WaitScreenChange(seen, (int)left.count());
  }
  return true;
}

// Seconds since start, so the trace shows delays and rates as well as the order.
std::string Stamp(std::chrono::steady_clock::time_point start) {
  char stamp[32];
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  snprintf(stamp, sizeof stamp, "[%9.3f] ", seconds);
  return stamp;
}

}  // namespace

int main(int argc, char** argv) {
  std::string tty, registry, language = "USA";
  int port = 8240;
  bool trace = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc && argv[i + 1][0];
    if (arg == "--help") {
      Usage(stdout);
      return 0;
    } else if (arg == "--trace") {
      trace = true;
    } else if (arg == "--port" && hasValue) {
      char* end = nullptr;
      long p = strtol(argv[++i], &end, 10);
      if (*end || p < 0 || p > 65535) {
        fprintf(stderr, "brindle-web: --port %s: not a port number\n", argv[i]);
        return 2;
      }
      port = (int)p;
    } else if ((arg == "--tty" || arg == "--registry" || arg == "--lang") && hasValue) {
      (arg == "--tty" ? tty : arg == "--lang" ? language : registry) = argv[++i];
    } else {
      fprintf(stderr, "brindle-web: %s: %s\n", arg.c_str(),
              arg == "--tty" || arg == "--registry" || arg == "--lang" || arg == "--port" ? "needs an argument"
                                                                                          : "unknown option");
      Usage(stderr);
      return 2;
    }
  }
  std::string dir = ExeDir();
  bool known = false;
  for (const char* l : kLanguages) known = known || language == l;
  if (!known) {
    fprintf(stderr, "brindle-web: --lang %s: the national builds are USA, FRA, GER, ESP, PTB and ITA\n",
            language.c_str());
    return 2;
  }
  if (language != "USA") {
    std::string lib = dir + "/national/" + language + "/brindleres.dll";
    if (access(lib.c_str(), R_OK) != 0) {
      fprintf(stderr, "brindle-web: %s is missing: build the target brindleres_national\n", lib.c_str());
      return 2;
    }
    bench::PlaceLibrary("brindleres.dll", lib);
  }
  if (registry.empty()) registry = dir + "/web-registry.reg";
  // The handheld speaks the language of the build it runs, which the program's library
  // names in its string 20.
  std::string spoken;
  if (HMODULE res = LoadLibraryW(L"brindleres.dll")) {
    WCHAR code[8] = {};
    for (int i = 0, n = LoadStringW(res, 20, code, 8); i < n; ++i) spoken += (char)code[i];
    FreeLibrary(res);
  }
  if (!bench::SetDeviceLanguage(spoken))
    fprintf(stderr, "brindle-web: brindleres.dll names no language the handheld knows (\"%s\"): its boxes "
            "speak English\n", spoken.c_str());
  std::string help = dir + "/help/" + language;
  if (access((help + "/tavlo.htc").c_str(), R_OK) != 0) {
    fprintf(stderr, "brindle-web: no help pages in %s: Help will show none\n", help.c_str());
    help.clear();
  }

  host::EndOnSignals(CloseTheProgram, nullptr);
  bench::UseRealClock(true);
  bench::KeepTrace(false);  // the page keeps the last lines; days of typing must not fill memory
  auto start = std::chrono::steady_clock::now();
  bench::SetTraceSink([trace, start](const std::string& line) {
    std::string stamp = Stamp(start);
    web::AppendTrace(stamp + line);
    if (trace) fprintf(stderr, "%s%s\n", stamp.c_str(), line.c_str());
  });
  bench::HoldMessageBoxes(true);  // a box waits for the person at the page
  if (!tty.empty()) bench::UseComPath(tty);
  std::string error;
  if (!bench::UseRegistryFile(registry, &error)) {
    fprintf(stderr, "brindle-web: the registry cannot be read: %s\n", error.c_str());
    return 2;
  }
  web::Configure(web::Setup{tty, language, registry, help});

  int bound = web::StartServer(port, &error);
  if (!bound) {
    fprintf(stderr, "brindle-web: %s\n", error.c_str());
    return 2;
  }
  printf("brindle-web: the handheld is at http://127.0.0.1:%d/  (Ctrl-C ends it)\n", bound);
  fflush(stdout);

  // Notes first, then the program; once the program has brought its page to the front
  // (its last step in starting), notes comes forward, so typing goes into the text.
  if (!web::StartNotes() || !WaitFor([] { return web::NotesEdit() != nullptr; }, 5000))
    fprintf(stderr, "brindle-web: the notes program did not start\n");
  std::thread([] {
    auto programInFront = [] {
      HWND main = FindWindowW(L"BrindleMain", nullptr);
      return main && GetForegroundWindow() == main;
    };
    if (WaitFor(programInFront, 10000) && web::NotesWindow())
      SetForegroundWindow(web::NotesWindow());
    web::NoteProgramStarted();
  }).detach();

  static WCHAR commandLine[] = L"";
  int rc = wWinMain(GetModuleHandleW(nullptr), nullptr, commandLine, SW_SHOWNORMAL);
  web::AppendTrace(Stamp(start) + "brindle ended with exit code " + std::to_string(rc));
  web::NoteProgramEnded(rc);
  std::unique_lock<std::mutex> lk(endMu);
  if (!endWanted) fprintf(stderr, "brindle-web: brindle ended with %d; the page stays until Ctrl-C\n", rc);
  endCv.wait(lk, [] { return endWanted; });
  lk.unlock();
  fflush(nullptr);
  // The notes thread never ends (notes runs for the handheld's life), and the pages' own
  // connections end with the process: nothing is left to wait for.
  _exit(rc);
}
