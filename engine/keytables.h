// What the keys of the folding keyboard mean: scan code to virtual key, the
// characters of the Fn layer, and accent composition. Constant data, searched
// linearly; the first matching row wins.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Scan codes the translator treats on their own.
#define SCAN_ENTER 0x28
#define SCAN_BACKSPACE 0x2A
#define SCAN_TAB 0x2B
#define SCAN_SPACE 0x2C
#define SCAN_RIGHT 0x4F
#define SCAN_LEFT 0x50
#define SCAN_SHIFT 0x74
#define SCAN_FN 0x77

struct ScanVkRow {
  uint8_t Scan;
  uint8_t Vk;
};

struct FnCharRow {
  uint8_t Scan;
  uint8_t Char;  // below U+0100; widened to 16 bits when sent
};

struct AccentRow {
  int32_t Kind;       // 1 grave, 2 acute, 3 circumflex, 4 tilde, 5 diaeresis
  uint8_t Base;       // an ASCII letter
  uint16_t Composed;  // UTF-16 code unit
};

#define SCAN_VK_ROWS 45
#define FN_CHAR_ROWS 30
#define ACCENT_ROWS 87

extern const ScanVkRow ScanVkTable[SCAN_VK_ROWS];
extern const FnCharRow FnCharTable[FN_CHAR_ROWS];
extern const AccentRow AccentTable[ACCENT_ROWS];

// Virtual key of a scan code; 0 when the key has none (Fn among them).
uint8_t ScanToVk(uint8_t scan);

// Types the Fn-layer character of the key and returns 1; returns 0 and types
// nothing when the key has no Fn character.
int SendFnChar(uint8_t scan);

// The letter that a pending accent makes of a key, in the wanted case; 0 when
// the accent does not combine with that key.
uint16_t ComposeAccent(int32_t kind, uint8_t vk, bool upper);

// The spacing accent typed when nothing composes; 0 for a kind that does not exist.
uint16_t BareAccent(int32_t kind);
