#include "shell/layouts.h"

PickerCell ActiveLayout[PICKER_CELLS];

#define D(c) (PICKER_DEAD | (c))
// One cell: the same character in both columns, or a plain/shifted pair.
#define C1(k, c) {k, c, c}
#define C2(k, p, s) {k, p, s}

const PickerCell PickerLayout[PICKER_LAYOUTS][PICKER_CELLS] = {
    // default
    {C1('Q', 0x0060), C1('W', 0x00AC), C2('E', 0x00E9, 0x00C9), C1('R', 0), C1('T', 0),
     C1('Y', 0x005E), C2('U', 0x00FA, 0x00DA), C2('I', 0x00ED, 0x00CD), C2('O', 0x00F3, 0x00D3), C1('P', 0),
     C2('A', 0x00E1, 0x00C1), C1('S', 0), C1('D', 0x20AC), C1('F', 0x20A4), C1('G', 0x007B),
     C1('H', 0x007D), C1('J', 0x00A6), C1('K', 0x007C), C1('L', 0x005F), C1(VK_BACK, 0),
     C1('Z', 0), C1('X', 0), C1('C', 0), C1('V', 0), C1('B', 0x005B),
     C1('N', 0x005D), C1('M', 0), C1(VK_OEM_COMMA, 0), C1(VK_OEM_PERIOD, 0), C1(VK_RETURN, 0)},
    // French
    {C1('Q', 0x00B0), C1('W', 0x00B2), C2('E', 0x00E9, 0x00C9), C1('R', 0), C1('T', 0),
     C1('Y', 0x005E), C2('U', 0x00E8, 0x00C8), C1('I', 0), C2('O', 0x00E7, 0x00C7), C2('P', 0x00E0, 0x00C0),
     C1('A', 0), C1('S', 0), C1('D', 0x00A3), C1('F', 0x20AC), C1('G', 0x007B),
     C1('H', 0x007D), C1('J', 0x00A4), C1('K', 0x007C), C1('L', 0x005F), C1(VK_BACK, 0),
     C1('Z', D(0x60)), C1('X', D(0xA8)), C1('C', D(0x7E)), C1('V', D(0x5E)), C1('B', 0x005B),
     C1('N', 0x005D), C1('M', 0x00B5), C2(VK_OEM_COMMA, 0x00F9, 0x00D9), C1(VK_OEM_PERIOD, 0x00A7),
     C1(VK_RETURN, 0)},
    // German
    {C1('Q', 0x00B0), C1('W', 0x00B2), C1('E', 0x00B3), C1('R', 0x00A7), C1('T', 0),
     C1('Y', 0), C2('U', 0x00FC, 0x00DC), C1('I', 0), C2('O', 0x00F6, 0x00D6), C1('P', 0x00DF),
     C2('A', 0x00E4, 0x00C4), C1('S', 0), C1('D', 0), C1('F', 0x20AC), C1('G', 0x007B),
     C1('H', 0x007D), C1('J', 0), C1('K', 0x007C), C1('L', 0x005F), C1(VK_BACK, 0),
     C1('Z', D(0x60)), C1('X', D(0xB4)), C1('C', 0), C1('V', D(0x5E)), C1('B', 0x005B),
     C1('N', 0x005D), C1('M', 0x00B5), C1(VK_OEM_COMMA, 0), C1(VK_OEM_PERIOD, 0), C1(VK_RETURN, 0)},
    // Spanish
    {C1('Q', 0x00B7), C1('W', 0x00BD), C1('E', 0x00AC), C1('R', 0x00BC), C1('T', 0x005B),
     C1('Y', 0x005D), C1('U', 0x00A7), C1('I', 0x20A7), C1('O', 0x00B0), C1('P', 0x00AA),
     C1('A', 0x00A1), C1('S', 0x00BF), C1('D', 0x00A3), C1('F', 0x20AC), C1('G', 0x007B),
     C1('H', 0x007D), C1('J', 0x00F7), C1('K', 0x007C), C1('L', 0x005F), C1(VK_BACK, 0),
     C1('Z', D(0x60)), C1('X', D(0xA8)), C1('C', D(0x7E)), C1('V', D(0x5E)), C1('B', D(0xB4)),
     C2('N', 0x00F1, 0x00D1), C1('M', 0), C2(VK_OEM_COMMA, 0x00E7, 0x00C7), C1(VK_OEM_PERIOD, 0x00B1),
     C1(VK_RETURN, 0)},
    // Portuguese
    {C1('Q', 0x00B9), C1('W', 0x00B2), C1('E', 0x00B3), C1('R', 0x00A2), C1('T', 0x005B),
     C1('Y', 0x005D), C1('U', 0x00AC), C1('I', 0), C1('O', 0x00B0), C1('P', 0x00A7),
     C1('A', 0x00AA), C1('S', 0), C1('D', 0x00A3), C1('F', 0x20AC), C1('G', 0x007B),
     C1('H', 0x007D), C1('J', 0), C1('K', 0x007C), C1('L', 0x005F), C1(VK_BACK, 0),
     C1('Z', D(0x60)), C1('X', D(0xA8)), C1('C', D(0x7E)), C1('V', D(0x5E)), C1('B', D(0xB4)),
     C1('N', 0x00AB), C1('M', 0x00BB), C2(VK_OEM_COMMA, 0x00E7, 0x00C7), C1(VK_OEM_PERIOD, 0),
     C1(VK_RETURN, 0)},
    // Italian
    {C1('Q', 0), C1('W', 0), C2('E', 0x00E8, 0x00C8), C1('R', 0), C1('T', 0),
     C1('Y', 0), C2('U', 0x00F9, 0x00D9), C2('I', 0x00EC, 0x00CC), C2('O', 0x00F2, 0x00D2),
     C2('P', 0x00E9, 0x00C9), C2('A', 0x00E0, 0x00C0), C1('S', 0), C1('D', 0x00A3), C1('F', 0x20AC),
     C1('G', 0x007B), C1('H', 0x007D), C1('J', 0), C1('K', 0x007C), C1('L', 0x005F), C1(VK_BACK, 0),
     C1('Z', 0), C1('X', 0), C1('C', 0), C1('V', 0x005E), C1('B', 0x005B),
     C1('N', 0x005D), C2('M', 0x00E7, 0x00C7), C1(VK_OEM_COMMA, 0x00B0), C1(VK_OEM_PERIOD, 0x00A7),
     C1(VK_RETURN, 0)},
};

int LayoutForLanguage(int languageIndex) {
  // Chinese and Japanese handhelds have no layout of their own.
  return (languageIndex >= 0 && languageIndex < PICKER_LAYOUTS) ? languageIndex : 0;
}

int AccentKindOfDead(uint16_t ch) {
  switch (ch) {
    case D(0x60): return 1;
    case D(0xB4): return 2;
    case D(0x5E): return 3;
    case D(0x7E): return 4;
    case D(0xA8): return 5;
    default: return 0;
  }
}
