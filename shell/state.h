// The driver shell's process-wide handles, written once on the user-interface thread
// during start, before any other thread exists, and plain. The words the shell shares
// with the engine are in engine/state.h, included here.
#pragma once

#include "engine/state.h"

extern HMODULE hResDll;      // brindleres.dll
extern HINSTANCE hInstance;  // brindle's own module: the icons
extern HWND hMainWnd;
extern HWND hMenuBar;
