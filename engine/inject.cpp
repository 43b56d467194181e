#include "engine/inject.h"

#include <atomic>

#include "engine/state.h"

// One bit per virtual key. The reader presses and releases; a repeat tick on the
// user-interface thread may press the repeating key again, so each word is atomic.
static std::atomic<uint32_t> HeldKeys[8];

static void MarkHeld(uint8_t vk, bool down) {
  if (vk == 0) return;
  uint32_t bit = 1u << (vk & 31);
  if (down)
    HeldKeys[vk >> 5].fetch_or(bit);
  else
    HeldKeys[vk >> 5].fetch_and(~bit);
}

bool KeyHeld(uint8_t vk) { return vk != 0 && (HeldKeys[vk >> 5].load() & (1u << (vk & 31))) != 0; }

void ForgetHeldKeys() {
  for (auto& word : HeldKeys) word = 0;
}

void ReleaseAllHeldKeys(bool keepLeftShift) {
  for (int vk = 1; vk < 256; ++vk)
    if (vk != VK_LSHIFT && KeyHeld(static_cast<uint8_t>(vk))) ReleaseKey(static_cast<uint8_t>(vk));
  if (!keepLeftShift && KeyHeld(VK_LSHIFT)) ReleaseKey(VK_LSHIFT);
}

// PostKeybdMessage's "any window": the input system picks the receiver.
static HWND const InputWindow = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));

#define KEY_STATE_DOWN 0x80u
#define SHIFT_STATE_SHIFT 0x02000000u

void SendEmptyKeyEvent() {
  keybd_event(0, 0, 0, 0);
  keybd_event(0, 0, KEYEVENTF_KEYUP, 0);
}

void PressKeySilent(uint8_t vk) {
  keybd_event(vk, 0, KEYEVENTF_SILENT, 0);
  MarkHeld(vk, true);
}

void ReleaseKey(uint8_t vk) {
  keybd_event(vk, 0, KEYEVENTF_KEYUP, 0);
  MarkHeld(vk, false);
}

void ToggleCapsLock() {
  keybd_event(VK_CAPITAL, 0, 0, 0);
  ReleaseKey(VK_CAPITAL);
}

void PressKeyOnce(uint8_t vk) {
  if (vk != VK_RETURN && vk != VK_TAB) {
    keybd_event(vk, 0, 0, 0);
    MarkHeld(vk, true);
    return;
  }
  UINT flags = KEY_STATE_DOWN;
  if (ShiftDown != 0) flags |= SHIFT_STATE_SHIFT;
  UINT ch = (vk == VK_RETURN) ? 0x000D : 0x0009;
  // A pop-up menu only understands real key events.
  if (FindWindowW(L"MNU", nullptr) != nullptr) {
    keybd_event(vk, 0, 0, 0);
    ReleaseKey(vk);
    return;
  }
  SendEmptyKeyEvent();
  UINT shiftState = flags;
  PostKeybdMessage(InputWindow, vk, flags, 1, &shiftState, &ch);
  MarkHeld(vk, true);
}

void SendCharacter(uint16_t ch) {
  SendEmptyKeyEvent();
  UINT shiftState = 0;
  UINT chars = ch;
  PostKeybdMessage(InputWindow, 0, 0, 1, &shiftState, &chars);
  ReleaseKey(0);
}

// A stored delay or rate outside what the settings dialog offers (a hand-edited
// registry, 0 among them) is used at the nearest end of the dialog's range, so
// the period is never 0 and the division never by 0. The stored value stays.
UINT RepeatDelayMs() {
  uint32_t delay = InitialDelay;
  if (delay < 250) return 250;
  if (delay > 1000) return 1000;
  return delay;
}

UINT RepeatPeriodMs() {
  uint32_t rate = RepeatRate;
  if (rate < 1) rate = 1;
  if (rate > 30) rate = 30;
  return 1000 / rate;
}

void PressKeyRepeating(uint8_t vk) {
  PressKeyOnce(vk);
  RepeatKey = vk;
  RepeatArmed = 1;
  RepeatTimerOn = static_cast<uint32_t>(SetTimer(hSettingsDlg, REPEAT_TIMER_ID, RepeatDelayMs(), nullptr));
}

void RepeatTick() {
  // A tick already on its way when the reader stopped the repeat must not press
  // the key again after its release, nor keep the timer alive.
  if (RepeatTimerOn == 0) {
    KillTimer(hSettingsDlg, REPEAT_TIMER_ID);
    return;
  }
  PressKeyOnce(RepeatKey);
  if (RepeatArmed != 0) {
    RepeatArmed = 0;
    SetTimer(hSettingsDlg, REPEAT_TIMER_ID, RepeatPeriodMs(), nullptr);
    // StopRepeat clears RepeatTimerOn before it kills the timer, so if it ran
    // meanwhile either its KillTimer came after this SetTimer or we see 0 here.
    if (RepeatTimerOn == 0) KillTimer(hSettingsDlg, REPEAT_TIMER_ID);
  }
}

void StopRepeat() {
  if (RepeatTimerOn.exchange(0) != 0) KillTimer(hSettingsDlg, REPEAT_TIMER_ID);
}
