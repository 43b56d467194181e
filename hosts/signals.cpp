#include "hosts/signals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

namespace host {

void EndOnSignals(void (*first)(), void (*last)()) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);  // before any other thread exists: all inherit it
  std::thread([set, first, last] {
    int sig = 0;
    sigwait(&set, &sig);
    first();
    sigwait(&set, &sig);
    if (last != nullptr) last();
    _exit(128 + sig);
  }).detach();
}

}  // namespace host
