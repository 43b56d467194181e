// Running the whole brindle program inside a test or a tool: its wWinMain on a thread of
// the simulated handheld, as the handheld would start it, and its end as a user ends it.
#pragma once

#include "platform/platform.h"

namespace support {

// The program's thread (a handle for WaitForSingleObject), or null when none started.
HANDLE StartProgram();
// The user's exit: the menu bar's Exit, answered Yes. True once the program has ended
// within `ms` of the real or virtual clock, whichever the sim runs on.
bool ExitProgramAsUser(HANDLE program, DWORD ms);

}  // namespace support
