// A handheld for the driver shell's tests: a simulated user-interface thread owns a
// stand-in settings dialog (status icon 1026, status text 1040) that routes the three
// timers and the tray notification as the real one does, and a stand-in main window
// that records the commands it receives. The driver's operations run on that thread,
// as the dialog's button and timers run them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/inject.h"
#include "engine/serial.h"
#include "engine/state.h"
#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_comm.h"
#include "platform/sim/bench_shell.h"
#include "platform/sim/bench_user.h"
#include "shell/driver.h"
#include "shell/resids.h"

namespace shelltest {

using Lines = std::vector<std::string>;

// Private messages of the stand-in dialog: each runs one driver operation on the
// user-interface thread.
enum : UINT {
  kRunInit = WM_APP + 100,
  kRunStart,
  kRunStop,
  kRunShutdown,
  kRunBlockThenStop,  // waits for the test's event (answering nothing), then StopDriver
};

// Expected trace lines.
std::string DialogTimer(bool set, int id, unsigned ms = 0);
Lines Display(int state, bool add);  // ShowDriverState's four calls

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Posts an operation to the user-interface thread and lets the handheld settle.
  void Run(UINT op);
  void Start() { Run(kRunStart); }
  void Stop() { Run(kRunStop); }
  // A message to the stand-in dialog, as the platform would deliver it.
  void PostToDialog(UINT msg, WPARAM wp, LPARAM lp);

  // Commands the main window received, as numbers.
  std::vector<unsigned> MainCommands();
  // Ids of the WM_TIMER messages the stand-in dialog received since the last call.
  std::vector<unsigned> TimerTicks();
  // Simulated threads other than the user-interface thread.
  int Readers();

  HANDLE uiThread_ = nullptr;
  HANDLE release_ = nullptr;  // lets kRunBlockThenStop go on
};

// Trace prefixes.
extern const Lines kLinkCalls;     // port, power, mapping, reader wait/read
extern const Lines kDisplayCalls;  // status icon, status text, tray
extern const Lines kTimerCalls;

}  // namespace shelltest
