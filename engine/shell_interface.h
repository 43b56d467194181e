// What the keyboard engine asks of the driver shell: the one way it reaches up. The
// shell defines these; the engine includes nothing of the shell's own.
#pragma once

#include "platform/platform.h"

// Fn+Tab opens and closes the special-character picker. Its thread owns the window.
void OpenPicker();
void ClosePicker();
// A Shift byte: the picker, if it is open, shows picture `bitmapId` at once.
void RedrawPicker(WORD bitmapId);
// The reader gave the line up to synchronisation: the driver pauses and retries.
void PauseDriver();
