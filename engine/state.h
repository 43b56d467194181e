// Process-wide state shared by the engine and the shell (the shell's own handles are
// in shell/state.h).
//
// Handles are written once on the user-interface thread during start, before any
// other thread exists, and are plain. Every word that more than one thread touches
// is atomic at its own width; each is read and written whole, never locked.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

// ---- handles ------------------------------------------------------------------------
extern HWND hSettingsDlg;    // owns the timers and the tray icon
extern HANDLE hTouchEvent;   // the named event "TouchEvent"

// ---- settings -----------------------------------------------------------------------
extern std::atomic<uint32_t> InitialDelay;  // ms before the first repeat
extern std::atomic<uint32_t> RepeatRate;    // repeats per second
extern std::atomic<uint32_t> PrefShift;     // sticky Shift enabled
extern std::atomic<uint32_t> PrefFn;        // sticky Fn enabled

// The driver's copy of the Caps Lock toggle.
extern std::atomic<uint32_t> CapsLockOn;

// ---- translator -----------------------------------------------------------------------
extern std::atomic<uint32_t> ShiftDown;           // held, or sticky Shift latched
extern std::atomic<uint32_t> FnDown;              // held, or sticky Fn latched
extern std::atomic<uint32_t> StickyShiftLatched;
extern std::atomic<uint32_t> StickyFnLatched;
extern std::atomic<uint8_t> PrevScanCode;
extern std::atomic<int32_t> PendingAccent;        // accent kind 1..5, 0 = none
extern std::atomic<uint32_t> PickerOpen;
extern std::atomic<uint32_t> PickerBitmapBase;    // id of the unshifted picker bitmap

// ---- typematic repeat ---------------------------------------------------------------
extern std::atomic<uint8_t> RepeatKey;       // virtual key the repeat presses
extern std::atomic<uint32_t> RepeatArmed;    // 1 until the first tick after a press
extern std::atomic<uint32_t> RepeatTimerOn;  // SetTimer's result; non-zero while it runs
