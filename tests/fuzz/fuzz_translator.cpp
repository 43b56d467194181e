// Fuzz target: a stream of key bytes through TranslateKeyByte, on the simulated
// handheld, with the checks that must hold whatever the keyboard sends.
//
// Input: byte 0 chooses the settings (bit 0 sticky Shift, bit 1 sticky Fn, bit 2
// Caps Lock on; bit 3: both sticky settings are switched over, as from the settings
// dialog, after key 4 * (bits 4-7)); byte 1 the accent left pending by the picker
// (low bits, 0..5), how far the clock moves after each key (bits 4-5: 0, 130, 260 or
// 390 ms), so the repeat timer fires between keys, and the repeat delay and rate
// (bits 6-7, the last being what a hand-edited registry may hold); every further
// byte is a key byte.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/inject.h"
#include "engine/picker.h"
#include "engine/state.h"
#include "engine/translator.h"
#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "shell/resids.h"
#include "tests/support/start_values.h"

namespace {

const uint8_t kScanShift = 0x74;
const uint8_t kScanFn = 0x77;

HWND pickerWnd = nullptr;
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

LRESULT CALLBACK SettingsProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  // As the settings dialog routes the repeat timer.
  if (msg == WM_TIMER && wp == REPEAT_TIMER_ID) {
    SetEvent(hTouchEvent);
    RepeatTick();
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

void Pump() {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
}

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
}

// The trace is checked line by line as it is recorded rather than kept: storing every
// line of every input cost more than the translator itself.
bool timerRunning = false;
bool checking = false;
bool touchedKeys[256] = {};  // keys this input sent to the input system, to lift afterwards

void CheckLine(const std::string& e) {
  if (!checking) return;
  if (e.rfind("keybd_event(", 0) == 0) {
    touchedKeys[std::strtoul(e.c_str() + 12, nullptr, 16) & 0xFF] = true;
    size_t comma = e.find(", ");
    std::string flags = comma == std::string::npos ? std::string() : e.substr(comma + 2);
    if (flags != "0x0)" && flags != "0x2)" && flags != "0x4)") Trip("key event with other flags: %s", e.c_str());
  } else if (e.rfind("PostKeybdMessage(", 0) == 0) {
    size_t vk = e.find(", ");
    if (vk != std::string::npos) touchedKeys[std::strtoul(e.c_str() + vk + 2, nullptr, 16) & 0xFF] = true;
    size_t chars = 0;
    for (size_t p = e.find("U+"); p != std::string::npos; p = e.find("U+", p + 2)) ++chars;
    size_t states = e.find("[");
    bool oneState = states != std::string::npos && e.find(", ", states) > e.find("]", states);
    if (chars != 1 || !oneState) Trip("PostKeybdMessage without exactly one character: %s", e.c_str());
  } else if (e.rfind("SetTimer([SettingsDlg], 1,", 0) == 0) {
    timerRunning = true;
  } else if (e.rfind("KillTimer([SettingsDlg], 1)", 0) == 0) {
    timerRunning = false;
  }
}

// The handheld is set up once: a bench::Reset and fresh windows for every input made
// the harness fifty times slower than the translator it exercises.
void SetUpHandheld() {
  if (!bench::Reset()) Trip("bench::Reset failed");
  bench::KeepTrace(false);
  bench::SetTraceSink(CheckLine);
  hTouchEvent = CreateEventW(nullptr, FALSE, FALSE, L"TouchEvent");
  WNDCLASSW wc = {};
  wc.lpfnWndProc = SettingsProc;
  wc.lpszClassName = L"SettingsDlg";
  RegisterClassW(&wc);
  hSettingsDlg = CreateWindowExW(0, L"SettingsDlg", L"Settings", WS_POPUP, 0, 0, 240, 294, nullptr, nullptr,
                                 nullptr, nullptr);
  if (hTouchEvent == nullptr || hSettingsDlg == nullptr) Trip("the handheld could not be set up");
}

// What one input leaves on the handheld goes before the next: the picker, the repeat
// timer, queued messages, keys and Caps Lock down or toggled in the input system.
void CleanUpHandheld() {
  checking = false;
  if (pickerWnd != nullptr) {
    DestroyWindow(pickerWnd);
    pickerWnd = nullptr;
  }
  KillTimer(hSettingsDlg, REPEAT_TIMER_ID);
  Pump();
  for (int vk = 1; vk < 256; ++vk) {
    if (touchedKeys[vk] && (GetAsyncKeyState(vk) & 0x8000)) keybd_event(static_cast<BYTE>(vk), 0, KEYEVENTF_KEYUP, 0);
    touchedKeys[vk] = false;
  }
  if (GetKeyState(VK_CAPITAL) & 1) {
    keybd_event(VK_CAPITAL, 0, 0, 0);
    keybd_event(VK_CAPITAL, 0, KEYEVENTF_KEYUP, 0);
  }
  Pump();
}

}  // namespace

// The picker's entry points: a window the translator can find by its class and title.
void OpenPicker() {
  if (pickerWnd != nullptr) Trip("OpenPicker with the picker open");
  WCHAR cls[RES_STRING_MAX] = {0};
  WCHAR title[RES_STRING_MAX] = {0};
  LoadStringW(hResDll, IDS_PICKER_CLASS, cls, RES_STRING_MAX);
  LoadStringW(hResDll, IDS_PICKER_TITLE, title, RES_STRING_MAX);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.lpszClassName = cls;
  RegisterClassW(&wc);
  pickerWnd = CreateWindowExW(0, cls, title, WS_POPUP | WS_VISIBLE, 0, 0, 240, 80, nullptr, nullptr, nullptr,
                              nullptr);
  if (pickerWnd == nullptr) Trip("the stand-in picker window could not be made");
}

void ClosePicker() {
  if (pickerWnd == nullptr) Trip("ClosePicker with no picker open");
  DestroyWindow(pickerWnd);
  pickerWnd = nullptr;
}

void DrawPickerBitmap(HWND hwnd, WORD id) {
  if (hwnd != pickerWnd) Trip("DrawPickerBitmap on a window that is not the picker");
  if (id != PickerBitmapBase && id != PickerBitmapBase + 1) Trip("DrawPickerBitmap of bitmap %u", id);
}

// A smaller quarantine than ASan's 256 MB: every trace line the sim formats is a fresh
// allocation, and cycling through that much memory made page faults a tenth of the run.
// Frees are still held back long enough to catch a use after free within many inputs.
// No allocation stack per block: recording one was a third of an execution. A report
// still shows the bad access; replay with ASAN_OPTIONS=malloc_context_size=30 to see
// where the block came from.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16:malloc_context_size=0"; }

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
  hResDll = LoadLibraryW(L"brindleres.dll");
  if (hResDll == nullptr) {
    std::fprintf(stderr, "fuzz_translator: brindleres.dll must lie beside the fuzzer\n");
    std::exit(1);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  currentInput = data;
  currentSize = size;
  static bool setUp = false;
  if (!setUp) {
    SetUpHandheld();
    setUp = true;
  }
  timerRunning = false;
  checking = true;

  // The program's start values, then the settings this input chose.
  const uint32_t delays[] = {500, 250, 1000, 0};
  const uint32_t rates[] = {20, 30, 1, 0};
  testsupport::ResetEngineState();
  InitialDelay = delays[data[1] >> 6];
  RepeatRate = rates[data[1] >> 6];
  PrefShift = data[0] & 1;
  PrefFn = (data[0] >> 1) & 1;
  CapsLockOn = (data[0] >> 2) & 1;
  PendingAccent = (data[1] & 0x0F) % 6;
  const DWORD step = static_cast<DWORD>((data[1] >> 4) & 3) * 130;
  const size_t switchAt = (data[0] & 8) != 0 ? 4u * (data[0] >> 4) : SIZE_MAX;

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
      bench::Advance(step);
      Pump();
      CheckState(at - 1);
    }
  }
  // Every key pressed let go, then Shift and Fn twice more: whatever latched ends. Only
  // the keys this input pressed: releasing all 128 cost more than the input itself, and
  // a key never pressed holds nothing down.
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
  if (RepeatTimerOn != 0) Trip("RepeatTimerOn is %u after every key was released", static_cast<uint32_t>(RepeatTimerOn));
  if (timerRunning) Trip("the repeat timer was left running after every key was released");
  // A tick already queued must not bring the repeat back.
  bench::Advance(1000);
  Pump();
  if (RepeatTimerOn != 0) Trip("RepeatTimerOn is %u after a late tick", static_cast<uint32_t>(RepeatTimerOn));

  CleanUpHandheld();
  return 0;
}
