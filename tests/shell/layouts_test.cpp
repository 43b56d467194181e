// The picker's six layouts held against rules stated here rather than against a copy of
// the tables: the keys are the keyboard's three letter rows in order, the same in every
// layout; the Backspace and Enter cells are empty; dead keys lie only where each
// national keyboard has them, the same value in both columns; and two columns differ
// only for a letter and its capital. (Which column Shift and Caps Lock pick is shown on
// the running picker, picker_test.cpp.)
#include <gtest/gtest.h>

#include <string>

#include "shell/layouts.h"

namespace {

const char* const kLayoutNames[PICKER_LAYOUTS] = {"default", "French", "German", "Spanish", "Portuguese", "Italian"};

// The letter rows, left to right, top to bottom: Backspace ends the middle row and Enter
// the bottom one.
const char kLetterRows[] = "QWERTYUIOP" "ASDFGHJKL\b" "ZXCVBNM,.\r";

// A key's virtual key: a letter's is its capital's code; the others are named here.
uint16_t VirtualKeyOf(char key) {
  switch (key) {
    case ',': return 0xBC;   // VK_OEM_COMMA
    case '.': return 0xBE;   // VK_OEM_PERIOD
    case '\b': return 0x08;  // VK_BACK
    case '\r': return 0x0D;  // VK_RETURN
    default: return static_cast<uint8_t>(key);
  }
}

std::string Where(int layout, int cell) {
  return std::string(kLayoutNames[layout]) + " cell " + std::to_string(cell);
}

TEST(PickerLayouts, KeysAreTheLetterRowsInOrderTheSameInEveryLayout) {
  ASSERT_EQ(sizeof kLetterRows - 1, static_cast<size_t>(PICKER_CELLS));
  for (int layout = 0; layout < PICKER_LAYOUTS; ++layout) {
    for (int cell = 0; cell < PICKER_CELLS; ++cell) {
      EXPECT_EQ(PickerLayout[layout][cell].Key, VirtualKeyOf(kLetterRows[cell])) << Where(layout, cell);
      EXPECT_EQ(PickerLayout[layout][cell].Key, PickerLayout[0][cell].Key) << Where(layout, cell);
      // The picker compares the low 8 bits: no two cells may share them.
      for (int other = 0; other < cell; ++other)
        EXPECT_NE(PickerLayout[layout][cell].Key & 0xFF, PickerLayout[layout][other].Key & 0xFF)
            << Where(layout, cell) << " and cell " << other;
    }
  }
}

TEST(PickerLayouts, BackspaceAndEnterCellsAreEmptyInEveryLayout) {
  int empties = 0;
  for (int layout = 0; layout < PICKER_LAYOUTS; ++layout) {
    for (int cell = 0; cell < PICKER_CELLS; ++cell) {
      const PickerCell& c = PickerLayout[layout][cell];
      if (c.Key != 0x08 && c.Key != 0x0D) continue;
      EXPECT_EQ(c.Plain, 0u) << Where(layout, cell);
      EXPECT_EQ(c.Shifted, 0u) << Where(layout, cell);
      ++empties;
    }
    EXPECT_EQ(PickerLayout[layout][19].Key, 0x08) << kLayoutNames[layout];
    EXPECT_EQ(PickerLayout[layout][29].Key, 0x0D) << kLayoutNames[layout];
  }
  EXPECT_EQ(empties, 2 * PICKER_LAYOUTS);
}

// Where the dead keys are: at the left of the bottom row of the French, German, Spanish
// and Portuguese layouts, with these accents; the default and Italian layouts have none.
// Kinds: 1 grave, 2 acute, 3 circumflex, 4 tilde, 5 diaeresis.
struct DeadCell {
  int layout;
  int cell;
  int kind;
};
const DeadCell kDeadCells[] = {
    {1, 20, 1}, {1, 21, 5}, {1, 22, 4}, {1, 23, 3},              // French: Z X C V
    {2, 20, 1}, {2, 21, 2}, {2, 23, 3},                          // German: Z X V
    {3, 20, 1}, {3, 21, 5}, {3, 22, 4}, {3, 23, 3}, {3, 24, 2},  // Spanish: Z X C V B
    {4, 20, 1}, {4, 21, 5}, {4, 22, 4}, {4, 23, 3}, {4, 24, 2},  // Portuguese: Z X C V B
};
// The spacing accent of each kind.
const uint16_t kSpacingAccent[6] = {0, 0x0060, 0x00B4, 0x005E, 0x007E, 0x00A8};

TEST(PickerLayouts, DeadKeysLieOnlyWhereTheNationalKeyboardsHaveThemInBothColumns) {
  int found = 0;
  for (int layout = 0; layout < PICKER_LAYOUTS; ++layout) {
    for (int cell = 0; cell < PICKER_CELLS; ++cell) {
      int kind = 0;
      for (const DeadCell& d : kDeadCells)
        if (d.layout == layout && d.cell == cell) kind = d.kind;
      const PickerCell& c = PickerLayout[layout][cell];
      for (uint16_t column : {c.Plain, c.Shifted}) {
        if (kind != 0) {
          EXPECT_EQ(column, PICKER_DEAD | kSpacingAccent[kind]) << Where(layout, cell);
          EXPECT_EQ(AccentKindOfDead(column), kind) << Where(layout, cell);
        } else {
          EXPECT_EQ(column & PICKER_DEAD, 0u) << Where(layout, cell) << " holds a dead key";
          EXPECT_EQ(AccentKindOfDead(column), 0) << Where(layout, cell);
        }
      }
      if (kind != 0) ++found;
    }
  }
  EXPECT_EQ(found, static_cast<int>(sizeof kDeadCells / sizeof kDeadCells[0]));
}

// Shift and Caps Lock change a cell's character only where it is a letter with a capital:
// the two columns are a small Latin-1 letter and the capital 0x20 below it. Every other
// cell, signs, ß, µ and the dead keys among them, holds one value in both columns, and a
// cell is empty in both or in neither.
TEST(PickerLayouts, ColumnsDifferOnlyForALetterAndItsCapital) {
  int pairs = 0;
  for (int layout = 0; layout < PICKER_LAYOUTS; ++layout) {
    for (int cell = 0; cell < PICKER_CELLS; ++cell) {
      const PickerCell& c = PickerLayout[layout][cell];
      EXPECT_EQ(c.Plain == 0, c.Shifted == 0) << Where(layout, cell);
      if (c.Plain == c.Shifted) continue;
      ++pairs;
      EXPECT_TRUE(c.Plain >= 0xE0 && c.Plain <= 0xFE && c.Plain != 0xF7) << Where(layout, cell) << ": " << c.Plain;
      EXPECT_EQ(c.Shifted, c.Plain - 0x20) << Where(layout, cell);
    }
  }
  EXPECT_GT(pairs, 0);
}

}  // namespace
