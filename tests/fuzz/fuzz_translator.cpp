// Fuzz target: a stream of key bytes through TranslateKeyByte, with the checks that
// must hold whatever the keyboard sends.
//
// The engine runs on stand-in platform calls defined here: a model of the input
// system's keys, the repeat timer on a virtual clock, the picker's window and an
// optional pop-up menu. Each call is checked as it is made. On the simulated handheld
// an execution cost twenty times the engine's own work, almost all of it the
// platform's recording; the program's other tests and the stress suite cover the
// engine on that platform.
//
// Input: byte 0 chooses the settings (bit 0 sticky Shift, bit 1 sticky Fn, bit 2
// Caps Lock on; bit 3: both sticky settings are switched over, as from the settings
// dialog, after key 4 * (bits 4-7); with bit 3 clear, bit 4 ends the link after the
// last key, bit 5 makes that end a rebuild that keeps the latches, and bit 6 opens a
// pop-up menu); byte 1 the accent left pending by the picker (low bits, 0..5), how far
// the clock moves after each key (bits 4-5: 0, 130, 260 or 390 ms), so the repeat
// timer fires between keys, and the repeat delay and rate (bits 6-7, the last being
// what a hand-edited registry may hold); every further byte is a key byte.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "engine/inject.h"
#include "engine/shell_interface.h"
#include "engine/state.h"
#include "engine/translator.h"
#include "platform/platform.h"
#include "tests/support/start_values.h"

namespace {

const uint8_t kScanShift = 0x74;
const uint8_t kScanFn = 0x77;

const uint8_t* currentInput = nullptr;
size_t currentSize = 0;

[[noreturn]] void Trip(const char* fmt, ...) {
  std::fprintf(stderr, "fuzz_translator: invariant broken: ");
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fprintf(stderr, "\n  input (%zu bytes):", currentSize);
  for (size_t i = 0; i < currentSize; ++i) std::fprintf(stderr, " %02X", currentInput[i]);
  std::fprintf(stderr, "\n");
  std::abort();
}

// The handheld as the engine sees it.
HWND const kNotes = reinterpret_cast<HWND>(0x1000);
HWND const kPicker = reinterpret_cast<HWND>(0x2000);
HWND const kMenu = reinterpret_cast<HWND>(0x3000);
HWND const kSettings = reinterpret_cast<HWND>(0x4000);
HANDLE const kTouch = reinterpret_cast<HANDLE>(0x5000);

bool keysDown[256];  // the input system's keys, as keybd_event left them
bool pickerUp = false;
bool menuUp = false;
uint32_t now = 0;
struct {
  bool on;
  uint32_t due;
  uint32_t period;
} timer;

void CheckState(size_t at) {
  const struct {
    const char* name;
    uint32_t value;
  } flags[] = {{"ShiftDown", ShiftDown},
               {"FnDown", FnDown},
               {"StickyShiftLatched", StickyShiftLatched},
               {"StickyFnLatched", StickyFnLatched},
               {"PickerOpen", PickerOpen}};
  for (const auto& f : flags)
    if (f.value > 1) Trip("%s is %u after byte %zu", f.name, f.value, at);
  int32_t accent = PendingAccent;
  if (accent < 0 || accent > 5) Trip("PendingAccent is %d after byte %zu", accent, at);
  if ((RepeatTimerOn != 0) != timer.on)
    Trip("RepeatTimerOn is %u with the timer %s after byte %zu", static_cast<uint32_t>(RepeatTimerOn),
         timer.on ? "running" : "stopped", at);
}

// The clock moves; the timer fires at each time it is due, as the settings dialog
// routes it.
void Advance(uint32_t ms) {
  const uint32_t until = now + ms;
  while (timer.on && timer.due <= until) {
    now = timer.due;
    timer.due += timer.period;
    SetEvent(hTouchEvent);
    RepeatTick();
  }
  now = until;
}

// Keys still down in the input system, other than `except`. Power-off is pressed and
// never released by the keys; only the link's end lifts it.
void CheckNothingDown(const char* when, uint8_t except, bool offMayStay) {
  for (int vk = 1; vk < 256; ++vk) {
    if (vk == except || (offMayStay && vk == VK_OFF)) continue;
    if (keysDown[vk]) Trip("key %02X still down in the input system %s", vk, when);
    if (KeyHeld(static_cast<uint8_t>(vk))) Trip("key %02X still marked held %s", vk, when);
  }
}

}  // namespace

// The platform calls the engine makes.
BOOL WINAPI SetEvent(HANDLE h) {
  if (h != kTouch) Trip("SetEvent on a handle that is not the touch event");
  return TRUE;
}

void WINAPI keybd_event(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR extra) {
  if (scan != 0 || extra != 0) Trip("keybd_event(%02X) with scan %u, extra %lu", vk, scan, static_cast<unsigned long>(extra));
  if (flags != 0 && flags != KEYEVENTF_KEYUP && flags != KEYEVENTF_SILENT)
    Trip("keybd_event(%02X) with flags %lX", vk, static_cast<unsigned long>(flags));
  keysDown[vk] = (flags & KEYEVENTF_KEYUP) == 0;
}

BOOL WINAPI PostKeybdMessage(HWND hwnd, UINT vk, UINT flags, UINT count, UINT* shiftStates, UINT* chars) {
  if (hwnd != reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1))) Trip("PostKeybdMessage to a chosen window");
  if (count != 1 || shiftStates == nullptr || chars == nullptr) Trip("PostKeybdMessage without exactly one character");
  if (vk > 0xFF || (vk != 0 && flags != shiftStates[0])) Trip("PostKeybdMessage(%X, %X) with state %X", vk, flags, shiftStates[0]);
  if (chars[0] == 0 || chars[0] > 0xFFFF) Trip("PostKeybdMessage of character %X", chars[0]);
  return TRUE;
}

UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC proc) {
  if (hwnd != kSettings || id != REPEAT_TIMER_ID || proc != nullptr) Trip("SetTimer other than the repeat timer");
  if (ms == 0 || ms > 1000) Trip("the repeat timer set to %u ms", ms);
  timer.on = true;
  timer.due = now + ms;
  timer.period = ms;
  return id;
}

BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id) {
  if (hwnd != kSettings || id != REPEAT_TIMER_ID) Trip("KillTimer other than the repeat timer");
  timer.on = false;
  return TRUE;
}

HWND WINAPI FindWindowW(LPCWSTR cls, LPCWSTR title) {
  if (cls == nullptr) Trip("FindWindowW without a class");
  if (menuUp && std::wcscmp(cls, L"MNU") == 0 && title == nullptr) return kMenu;
  return nullptr;
}

HWND WINAPI GetForegroundWindow(void) { return pickerUp ? kPicker : kNotes; }

BOOL WINAPI PostMessageW(HWND hwnd, UINT msg, WPARAM wp, LPARAM) {
  if (hwnd != GetForegroundWindow() || msg != WM_COMMAND || wp != IDOK) Trip("PostMessageW other than Done");
  return TRUE;
}

BOOL WINAPI SHSipPreference(HWND hwnd, SIPSTATE) {
  if (hwnd != GetForegroundWindow()) Trip("SHSipPreference for a window not in front");
  return TRUE;
}

// The picker's entry points.
void OpenPicker() {
  if (pickerUp) Trip("OpenPicker with the picker open");
  pickerUp = true;
}

void ClosePicker() {
  if (!pickerUp) Trip("ClosePicker with no picker open");
  pickerUp = false;
}

void RedrawPicker(WORD id) {
  if (id != PickerBitmapBase && id != PickerBitmapBase + 1) Trip("RedrawPicker with bitmap %u", id);
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // Streams of at most 62 key bytes unless -max_len says otherwise: every state the
  // translator has is reached within a few keys, and libFuzzer's default of 4096 made
  // each input cost as much as a hundred short ones. (A longer file replayed by hand
  // needs -max_len=N to be read whole.)
  bool given = false;
  for (int i = 1; i < *argc; ++i) given = given || std::strncmp((*argv)[i], "-max_len=", 9) == 0;
  if (!given) {
    static std::vector<char*> args;
    static char maxLen[] = "-max_len=64";
    args.assign(*argv, *argv + *argc);
    args.insert(args.begin() + 1, maxLen);
    args.push_back(nullptr);
    *argv = args.data();
    *argc += 1;
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  currentInput = data;
  currentSize = size;

  // The program's start values, then the settings this input chose.
  const uint32_t delays[] = {500, 250, 1000, 0};
  const uint32_t rates[] = {20, 30, 1, 0};
  testsupport::ResetEngineState();
  hSettingsDlg = kSettings;
  hTouchEvent = kTouch;
  std::memset(keysDown, 0, sizeof keysDown);
  pickerUp = false;
  now = 0;
  timer.on = false;
  InitialDelay = delays[data[1] >> 6];
  RepeatRate = rates[data[1] >> 6];
  PrefShift = data[0] & 1;
  PrefFn = (data[0] >> 1) & 1;
  CapsLockOn = (data[0] >> 2) & 1;
  PendingAccent = (data[1] & 0x0F) % 6;
  const uint32_t step = static_cast<uint32_t>((data[1] >> 4) & 3) * 130;
  const bool switches = (data[0] & 8) != 0;
  const size_t switchAt = switches ? 4u * (data[0] >> 4) : SIZE_MAX;
  const bool linkEnds = !switches && (data[0] & 0x10) != 0;
  const bool keepLatches = (data[0] & 0x20) != 0;
  menuUp = !switches && (data[0] & 0x40) != 0;

  bool pressed[0x80] = {};
  size_t at = 2;
  for (size_t i = 0; i + 2 < size; ++i) {
    if ((data[i + 2] & 0x80) == 0) pressed[data[i + 2]] = true;
    if (i == switchAt) {
      PrefShift = PrefShift ^ 1;
      PrefFn = PrefFn ^ 1;
    }
    TranslateKeyByte(data[i + 2]);
    CheckState(at++);
    if (step != 0) {
      Advance(step);
      CheckState(at - 1);
    }
  }
  // The link ends with keys still down: every one is lifted, bar a latched sticky
  // Shift that a rebuild keeps.
  if (linkEnds) {
    const bool shiftKept = keepLatches && StickyShiftLatched != 0;
    ReleaseHeldKeys(keepLatches);
    CheckState(at);
    if (timer.on) Trip("the repeat timer outlived the link");
    CheckNothingDown("after the link ended", shiftKept ? VK_LSHIFT : 0, false);
    if (shiftKept && !keysDown[VK_LSHIFT]) Trip("a rebuild lifted the latched Shift");
    Advance(2000);
  }
  // Every key pressed let go, then Shift and Fn twice more: whatever latched ends. Only
  // the keys this input pressed: a key never pressed holds nothing down.
  for (unsigned scan = 0; scan < 0x80; ++scan) {
    if (!pressed[scan]) continue;
    TranslateKeyByte(static_cast<uint8_t>(scan | 0x80));
    CheckState(at++);
  }
  for (int i = 0; i < 2; ++i) {
    for (uint8_t scan : {kScanShift, kScanFn}) {
      TranslateKeyByte(static_cast<uint8_t>(scan | 0x80));
      CheckState(at++);
    }
  }
  if (RepeatTimerOn != 0 || timer.on) Trip("the repeat was left running after every key was released");
  CheckNothingDown("after every key was released", 0, true);
  // A tick already on its way must not bring the repeat back nor press a key.
  RepeatTick();
  if (RepeatTimerOn != 0 || timer.on) Trip("a late tick brought the repeat back");
  CheckNothingDown("after a late tick", 0, true);
  return 0;
}
