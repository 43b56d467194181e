// The engine's shared state as the program starts: the settings at their defaults,
// every modifier, latch, accent and repeat word at rest. Tests and fuzzers put it back
// before each case, then set what the case is about.
#pragma once

#include "engine/inject.h"
#include "engine/state.h"
#include "shell/resids.h"

namespace testsupport {

inline void ResetEngineState() {
  InitialDelay = 500;
  RepeatRate = 20;
  PrefShift = 0;
  PrefFn = 0;
  CapsLockOn = 0;
  ShiftDown = 0;
  FnDown = 0;
  StickyShiftLatched = 0;
  StickyFnLatched = 0;
  PrevScanCode = 0;
  PendingAccent = 0;
  PickerOpen = 0;
  PickerBitmapBase = IDB_PICKER;
  RepeatKey = 0;
  RepeatArmed = 0;
  RepeatTimerOn = 0;
  ForgetHeldKeys();
}

}  // namespace testsupport
