// The only way brindle hands input to the platform: key events, characters, and
// the typematic repeat driven by timer 1 of the settings dialog.
#pragma once

#include <cstdint>

#include "platform/platform.h"

#define REPEAT_TIMER_ID 1

// keybd_event(0, 0, 0, 0) then keybd_event(0, 0, KEYEVENTF_KEYUP, 0): sent before
// injected characters and before the Shift commands.
void SendEmptyKeyEvent();

void PressKeySilent(uint8_t vk);
void ReleaseKey(uint8_t vk);
void ToggleCapsLock();
// One press. Enter and Tab go to an open menu as key events, elsewhere as a
// character message carrying the Shift state.
void PressKeyOnce(uint8_t vk);
// PressKeyOnce, then the repeat takes this key over.
void PressKeyRepeating(uint8_t vk);
// One character without a virtual key or modifier state.
void SendCharacter(uint16_t ch);

// The settings dialog calls this on WM_TIMER id 1, after signalling "TouchEvent".
void RepeatTick();
void StopRepeat();

// Every key pressed into the input system and not yet released is remembered, so the
// end of a link can lift them all. Left Shift is lifted last, after the keys it shifts;
// with keepLeftShift (a latched sticky Shift) it stays down.
void ReleaseAllHeldKeys(bool keepLeftShift);
bool KeyHeld(uint8_t vk);
// The program's start: nothing held.
void ForgetHeldKeys();

// Timer periods actually used for the stored settings.
UINT RepeatDelayMs();
UINT RepeatPeriodMs();
