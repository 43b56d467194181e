// A handheld for the driver shell's tests: the whole program runs on it (its entry on a
// simulated thread, as program_fixture.h starts it), and the test drives the driver as
// the user does, through the settings page's start/stop button. The few things the
// program offers no way to ask for (a stop of a stopped driver, a user-interface thread
// held busy at a chosen moment) come from hooks the test puts in front of the real
// dialog's and main window's procedures.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/inject.h"
#include "engine/serial.h"
#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_comm.h"
#include "platform/sim/bench_shell.h"
#include "platform/sim/bench_ui.h"
#include "platform/sim/bench_user.h"
#include "program_fixture.h"
#include "shell/driver.h"
#include "shell/resids.h"
#include "shell/state.h"

namespace shelltest {

using Lines = std::vector<std::string>;

// Private messages the dialog's hook answers on the user-interface thread.
enum : UINT {
  kRunStop = WM_APP + 100,  // StopDriver, as the exit's shutdown runs it, whatever the state
  kRunBlockThenStop,        // waits for the test's event (answering nothing), then the button's stop
  kRunAnswerPauseThenBlock, // answers sent messages until the reader's pause has begun, then as above
};

// Expected trace lines.
std::string DialogTimer(bool set, int id, unsigned ms = 0);
Lines Display(int state, bool add);  // ShowDriverState's calls

class ShellTest : public programtest::ProgramTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the program with its driver stopped and its tray icon shown: its own start is
  // refused by a busy port, then the user stops the paused driver. The trace is cleared.
  // SetUp does this unless launchStopped_ is false.
  void LaunchStopped();
  // Starts the program as it is (its driver starts itself) and hooks its windows.
  void LaunchHooked();
  // Ends the program (the exit answered Yes), then a fresh handheld and program state.
  void Restart();

  // The user taps start/stop: Start on a stopped driver, Stop on a running or paused one.
  // Stop on a stopped driver runs StopDriver as the exit does. Both let the handheld
  // settle, and fail the test when the user-interface thread has not taken the tap
  // (it sleeps on the virtual clock, say): the clock must be moved first.
  void Start();
  void Stop();
  // The button's command posted as the button sends it; the handheld is not settled.
  static void PostStartStop();
  // Posts a private message (above) to the dialog's hook and lets the handheld settle;
  // fails as Start does when it is not taken.
  void Run(UINT op);
  // A message to the dialog, as the platform would deliver it; settled and checked as Run.
  void PostToDialog(UINT msg, WPARAM wp, LPARAM lp);
  // The next STM_SETIMAGE the status icon gets holds the user-interface thread inside it
  // until release_ is set.
  void HoldNextStatusIcon();

  // Commands the main window received, as numbers.
  std::vector<unsigned> MainCommands();
  // Ids of the WM_TIMER messages the dialog received since the last call.
  std::vector<unsigned> TimerTicks();
  // Simulated threads other than the user-interface thread.
  int Readers();

  bool launchStopped_ = true;
  HANDLE release_ = nullptr;  // lets a held user-interface thread go on
};

// Trace prefixes.
extern const Lines kLinkCalls;     // port, power, mapping, reader wait/read
extern const Lines kDisplayCalls;  // status icon, status text, tray
extern const Lines kTimerCalls;

}  // namespace shelltest
