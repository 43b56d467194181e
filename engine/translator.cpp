#include "engine/translator.h"

#include "engine/inject.h"
#include "engine/keytables.h"
#include "engine/shell_interface.h"
#include "engine/state.h"

int TrackModifier(uint8_t scan, int down) {
  if (scan == SCAN_SHIFT) {
    ShiftDown = down ? 1 : 0;
    return 1;
  }
  if (scan == SCAN_FN) {
    FnDown = down ? 1 : 0;
    if (down) SendEmptyKeyEvent();
    return 1;
  }
  return 0;
}

// An open picker shows the shifted bitmap while Shift and Caps Lock disagree.
static void ShowPickerShift(bool release) {
  bool shifted = release ? CapsLockOn != 0 : CapsLockOn == 0;
  RedrawPicker(static_cast<WORD>(PickerBitmapBase + (shifted ? 1 : 0)));
}

// The key a press put down in place of the scan code's own (Page Up for Fn+Right,
// Delete for Shift+Backspace). Its release must lift it even when Fn or Shift has
// changed since, or it stays down in the input system. Reader thread only.
static uint8_t LayeredVk[0x80];

void TranslateKeyByte(uint8_t keyByte) {
  uint8_t scan = keyByte & 0x7F;
  bool release = (keyByte & 0x80) != 0;

  SetEvent(hTouchEvent);
  if (release) StopRepeat();
  uint8_t vk = ScanToVk(scan);
  const uint8_t ownVk = vk;

  // A lone tap of Fn latches it: the release is swallowed and FnDown stays 1.
  if (PrevScanCode == SCAN_FN && scan == SCAN_FN && release && StickyFnLatched == 0 && PrefFn != 0) {
    StickyFnLatched = 1;
    return;
  }
  // A lone tap of Shift latches it; left Shift stays down in the input system.
  if (PrevScanCode == SCAN_SHIFT && scan == SCAN_SHIFT && release && StickyShiftLatched == 0 &&
      PrefShift != 0) {
    StickyShiftLatched = 1;
    PressKeySilent(VK_LSHIFT);
    return;
  }
  // Fn+Shift is Caps Lock; that Shift press is not a Shift.
  if (scan == SCAN_SHIFT && !release && FnDown != 0) {
    ToggleCapsLock();
    return;
  }
  if (scan == SCAN_SHIFT) ShowPickerShift(release);

  // The first release after a latch ends it.
  if (release) {
    if (StickyFnLatched != 0 && PrefFn != 0) {
      StickyFnLatched = 0;
      if (scan != SCAN_FN) FnDown = 0;
    }
    if (StickyShiftLatched != 0 && PrefShift != 0) {
      StickyShiftLatched = 0;
      if (scan != SCAN_SHIFT) {
        ShiftDown = 0;
        ReleaseKey(VK_LSHIFT);
      }
    }
  }

  PrevScanCode = scan;

  // A pending accent waits through Shift, so Shift can choose the letter's case;
  // any other press uses it up, composed or bare.
  if (!release && vk != VK_LSHIFT && PendingAccent != 0) {
    // Taken in one step: an accent the picker leaves meanwhile is not lost.
    int32_t accent = PendingAccent.exchange(0);
    bool upper = (CapsLockOn == 0 && ShiftDown == 1) || (CapsLockOn != 0 && ShiftDown == 0);
    uint16_t composed = ComposeAccent(accent, vk, upper);
    if (composed != 0) {
      SendCharacter(composed);
      return;
    }
    uint16_t bare = BareAccent(accent);
    if (bare != 0) SendCharacter(bare);
  }

  int oneShot = TrackModifier(scan, release ? 0 : 1);

  if (FnDown != 0 && !release && scan != SCAN_FN) {
    if (SendFnChar(scan)) return;
    switch (scan) {
      case SCAN_RIGHT:
        vk = VK_PRIOR;
        break;
      case SCAN_LEFT:
        vk = VK_NEXT;
        break;
      case SCAN_SPACE:
        vk = VK_OFF;
        oneShot = 1;
        FnDown = 0;
        break;
      case SCAN_TAB:
        if (PickerOpen == 0) {
          // Set first: a picker that closes at once clears it, and must not be undone.
          PickerOpen = 1;
          OpenPicker();
        } else {
          ClosePicker();
          PickerOpen = 0;
        }
        return;
      default:
        break;
    }
  }

  if (ShiftDown != 0 && !release) {
    if (scan == SCAN_ENTER) {
      SendEmptyKeyEvent();
      PostMessageW(GetForegroundWindow(), WM_COMMAND, IDOK, 0);
      return;
    }
    if (scan == SCAN_SPACE) {
      SendEmptyKeyEvent();
      SHSipPreference(GetForegroundWindow(), SIP_FORCEDOWN);
      return;
    }
  }

  // Shift+Backspace is Delete: left Shift is lifted while Delete is down.
  if (scan == SCAN_BACKSPACE && ShiftDown != 0) {
    vk = VK_DELETE;
    if (release)
      PressKeySilent(VK_LSHIFT);
    else
      ReleaseKey(VK_LSHIFT);
  }

  if (vk == 0) return;
  if (release) {
    ReleaseKey(vk);
    // Then whichever other key this scan code's presses left down. The release of
    // the scan code's own key comes first, as it always has.
    const uint8_t others[] = {ownVk, LayeredVk[scan]};
    for (uint8_t other : others)
      if (other != vk && KeyHeld(other)) ReleaseKey(other);
    LayeredVk[scan] = 0;
    return;
  }
  // Power-off stays a lone press: no release of it is ever sent.
  if (vk != ownVk && vk != VK_OFF) LayeredVk[scan] = vk;
  if (oneShot)
    PressKeyOnce(vk);
  else
    PressKeyRepeating(vk);
}

void ReleaseHeldKeys(bool keepLatches) {
  StopRepeat();
  bool keepShift = keepLatches && StickyShiftLatched != 0;
  bool keepFn = keepLatches && StickyFnLatched != 0;
  ReleaseAllHeldKeys(keepShift);
  // A held Shift+Backspace had lifted left Shift under the latch until Backspace's
  // release, which will not come: the latch stays, so Shift goes down again.
  if (keepShift && !KeyHeld(VK_LSHIFT)) PressKeySilent(VK_LSHIFT);
  if (!keepShift) {
    ShiftDown = 0;
    StickyShiftLatched = 0;
  }
  if (!keepFn) {
    FnDown = 0;
    StickyFnLatched = 0;
  }
  // A Shift release first on the next link must not latch against a press of this one.
  PrevScanCode = 0;
  for (uint8_t& layered : LayeredVk) layered = 0;
}
