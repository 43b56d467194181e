#include "engine/keytables.h"

#include <cwctype>

#include "engine/inject.h"

const ScanVkRow ScanVkTable[SCAN_VK_ROWS] = {
    {0x1E, 0x31}, {0x1F, 0x32}, {0x20, 0x33}, {0x21, 0x34}, {0x22, 0x35},  // 1 2 3 4 5
    {0x23, 0x36}, {0x24, 0x37}, {0x25, 0x38}, {0x26, 0x39}, {0x27, 0x30},  // 6 7 8 9 0
    {0x2A, 0x08},                                                          // Backspace
    {0x2B, 0x09},                                                          // Tab
    {0x14, 0x51}, {0x1A, 0x57}, {0x08, 0x45}, {0x15, 0x52}, {0x17, 0x54},  // Q W E R T
    {0x1C, 0x59}, {0x18, 0x55}, {0x0C, 0x49}, {0x12, 0x4F}, {0x13, 0x50},  // Y U I O P
    {0x04, 0x41}, {0x16, 0x53}, {0x07, 0x44}, {0x09, 0x46}, {0x0A, 0x47},  // A S D F G
    {0x0B, 0x48}, {0x0D, 0x4A}, {0x0E, 0x4B}, {0x0F, 0x4C},                // H J K L
    {0x28, 0x0D},                                                          // Enter
    {0x74, 0xA0},                                                          // left Shift
    {0x1D, 0x5A}, {0x1B, 0x58}, {0x06, 0x43}, {0x19, 0x56}, {0x05, 0x42},  // Z X C V B
    {0x11, 0x4E}, {0x10, 0x4D},                                            // N M
    {0x36, 0xBC}, {0x37, 0xBE},                                            // comma period
    {0x2C, 0x20},                                                          // Space
    {0x50, 0x25}, {0x4F, 0x27},                                            // left right
};

const FnCharRow FnCharTable[FN_CHAR_ROWS] = {
    {0x13, 0x30}, {0x14, 0x31}, {0x1A, 0x32}, {0x08, 0x33}, {0x15, 0x34},  // P Q W E R
    {0x17, 0x35}, {0x1C, 0x36}, {0x18, 0x37}, {0x0C, 0x38}, {0x12, 0x39},  // T Y U I O
    {0x04, 0x21}, {0x16, 0x40}, {0x07, 0x23}, {0x09, 0x24}, {0x0A, 0x25},  // A S D F G
    {0x0B, 0x26}, {0x0D, 0x2A}, {0x0E, 0x2F}, {0x0F, 0x2D},                // H J K L
    {0x2A, 0x2B},                                                          // Backspace
    {0x1D, 0x27}, {0x1B, 0x22}, {0x06, 0x7E}, {0x19, 0x5C}, {0x05, 0x28},  // Z X C V B
    {0x11, 0x29}, {0x10, 0x3F},                                            // N M
    {0x36, 0x3B}, {0x37, 0x3A},                                            // comma period
    {0x28, 0x3D},                                                          // Enter
};

const AccentRow AccentTable[ACCENT_ROWS] = {
    // grave
    {1, 'A', 0x00C0}, {1, 'a', 0x00E0}, {1, 'E', 0x00C8}, {1, 'e', 0x00E8},
    {1, 'I', 0x00CC}, {1, 'i', 0x00EC}, {1, 'n', 0x0149}, {1, 'O', 0x00D2},
    {1, 'o', 0x00F2}, {1, 'U', 0x00D9}, {1, 'u', 0x00F9}, {1, 'W', 0x1E80},
    {1, 'w', 0x1E81}, {1, 'Y', 0x1EF2}, {1, 'y', 0x1EF3},
    // acute
    {2, 'A', 0x00C1}, {2, 'a', 0x00E1}, {2, 'C', 0x0106}, {2, 'c', 0x0107},
    {2, 'E', 0x00C9}, {2, 'e', 0x00E9}, {2, 'I', 0x00CD}, {2, 'i', 0x00ED},
    {2, 'L', 0x0139}, {2, 'l', 0x013A}, {2, 'N', 0x0143}, {2, 'n', 0x0144},
    {2, 'O', 0x00D3}, {2, 'o', 0x00F3}, {2, 'R', 0x0154}, {2, 'r', 0x0155},
    {2, 'S', 0x015A}, {2, 's', 0x015B}, {2, 'U', 0x00DA}, {2, 'u', 0x00FA},
    {2, 'W', 0x1E82}, {2, 'w', 0x1E83}, {2, 'Y', 0x00DD}, {2, 'y', 0x00FD},
    {2, 'Z', 0x0179}, {2, 'z', 0x017A},
    // circumflex
    {3, 'A', 0x00C2}, {3, 'a', 0x00E2}, {3, 'C', 0x0108}, {3, 'c', 0x0109},
    {3, 'E', 0x00CA}, {3, 'e', 0x00EA}, {3, 'G', 0x011C}, {3, 'g', 0x011D},
    {3, 'I', 0x00CE}, {3, 'i', 0x00EE}, {3, 'J', 0x0134}, {3, 'j', 0x0135},
    {3, 'O', 0x00D4}, {3, 'o', 0x00F4}, {3, 'S', 0x015C}, {3, 's', 0x015D},
    {3, 'U', 0x00DB}, {3, 'u', 0x00FB}, {3, 'W', 0x0174}, {3, 'w', 0x0175},
    {3, 'Y', 0x0176}, {3, 'y', 0x0177},
    // tilde
    {4, 'A', 0x00C3}, {4, 'a', 0x00E3}, {4, 'I', 0x0128}, {4, 'i', 0x0129},
    {4, 'N', 0x00D1}, {4, 'n', 0x00F1}, {4, 'O', 0x00D5}, {4, 'o', 0x00F5},
    {4, 'U', 0x0168}, {4, 'u', 0x0169},
    // diaeresis
    {5, 'A', 0x00C4}, {5, 'a', 0x00E4}, {5, 'E', 0x00CB}, {5, 'e', 0x00EB},
    {5, 'I', 0x00CF}, {5, 'i', 0x00EF}, {5, 'O', 0x00D6}, {5, 'o', 0x00F6},
    {5, 'U', 0x00DC}, {5, 'u', 0x00FC}, {5, 'W', 0x1E84}, {5, 'w', 0x1E85},
    {5, 'Y', 0x0178}, {5, 'y', 0x00FF},
};

uint8_t ScanToVk(uint8_t scan) {
  for (const ScanVkRow& row : ScanVkTable) {
    if (row.Scan == scan) return row.Vk;
  }
  return 0;
}

int SendFnChar(uint8_t scan) {
  for (const FnCharRow& row : FnCharTable) {
    if (row.Scan == scan) {
      SendCharacter(row.Char);
      return 1;
    }
  }
  return 0;
}

uint16_t ComposeAccent(int32_t kind, uint8_t vk, bool upper) {
  bool letter = vk >= 0x41 && vk <= 0x5A;
  for (const AccentRow& row : AccentTable) {
    if (row.Kind != kind) continue;
    if (letter) {
      // The key names the letter; the row's own case must be the case wanted.
      bool rowUpper = iswctype(row.Base, _UPPER) != 0;
      if (static_cast<unsigned>(towupper(row.Base)) == vk && rowUpper == upper) return row.Composed;
    } else if (row.Base == vk) {
      return row.Composed;
    }
  }
  return 0;
}

uint16_t BareAccent(int32_t kind) {
  switch (kind) {
    case 1: return 0x0060;
    case 2: return 0x00B4;
    case 3: return 0x005E;
    case 4: return 0x007E;
    case 5: return 0x00A8;
    default: return 0;
  }
}
