// The special-character picker's national layouts: 30 cells in screen order (three
// rows of ten, like the keyboard's letter rows), each picked by one key.
#pragma once

#include <cstdint>

#include "platform/platform.h"

#define PICKER_CELLS 30
#define PICKER_LAYOUTS 6
// A character with this bit is a dead key: the low bits are the spacing accent.
#define PICKER_DEAD 0x8000u

struct PickerCell {
  uint16_t Key;      // virtual key that picks the cell (low 8 bits compared)
  uint16_t Plain;    // picked with neither Shift nor Caps Lock; 0 = empty
  uint16_t Shifted;  // picked with Shift or Caps Lock; 0 = empty
};

// Default, French, German, Spanish, Portuguese, Italian.
extern const PickerCell PickerLayout[PICKER_LAYOUTS][PICKER_CELLS];
// The copy in use, chosen by the settings load; read by the picker.
extern PickerCell ActiveLayout[PICKER_CELLS];

// The layout a language index (0..8) selects.
int LayoutForLanguage(int languageIndex);
// Accent kind 1..5 of a dead value, 0 for anything else.
int AccentKindOfDead(uint16_t ch);
