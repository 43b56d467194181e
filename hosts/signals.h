// Ending a Linux program that runs on the simulated handheld from the terminal.
#pragma once

namespace host {

// Blocks SIGINT, SIGTERM and SIGHUP in this thread and every thread made after it (so
// call it first), and waits for them on a thread of its own. The first signal runs
// `first` (the program is asked to close as a user would close it); a second runs
// `last`, when given, and ends the process at once with 128 + the signal.
void EndOnSignals(void (*first)(), void (*last)());

}  // namespace host
