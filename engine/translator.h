// One key byte from the keyboard in, the handheld's keyboard input out.
// Runs on the reader thread only, one byte at a time.
#pragma once

#include <cstdint>

// Bit 7 set: release; bits 0-6: the scan code.
void TranslateKeyByte(uint8_t keyByte);

// Shift and Fn: records the key as down or up and returns 1; 0 for any other key.
int TrackModifier(uint8_t scan, int down);

// The link has ended (stop, hand-off, lost port, watchdog): the release bytes of the
// keys still down can no longer arrive. Stops the repeat, lifts every key the driver
// holds down in the input system and starts the modifiers afresh. A rebuild
// (keepLatches) keeps latched sticky keys as they are: no release byte ends them anyway.
// Reader thread, on its way out.
void ReleaseHeldKeys(bool keepLatches);
