// The key tables: every row, checked against rules stated independently of them.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "engine_fixture.h"

using namespace enginetest;

namespace {

// Letters, digits and the editing keys follow the USB HID usage numbers.
std::map<uint8_t, uint8_t> ExpectedVks() {
  std::map<uint8_t, uint8_t> m;
  for (int i = 0; i < 26; ++i) m[static_cast<uint8_t>(0x04 + i)] = static_cast<uint8_t>('A' + i);
  for (int i = 0; i < 9; ++i) m[static_cast<uint8_t>(0x1E + i)] = static_cast<uint8_t>('1' + i);
  m[0x27] = '0';
  m[0x28] = VK_RETURN;
  m[0x2A] = VK_BACK;
  m[0x2B] = VK_TAB;
  m[0x2C] = VK_SPACE;
  m[0x36] = VK_OEM_COMMA;
  m[0x37] = VK_OEM_PERIOD;
  m[0x4F] = VK_RIGHT;
  m[0x50] = VK_LEFT;
  m[0x74] = VK_LSHIFT;
  return m;
}

TEST(ScanVkTable, EveryScanCodeMapsAsTheKeyboardLabelsIt) {
  std::map<uint8_t, uint8_t> expected = ExpectedVks();
  ASSERT_EQ(expected.size(), 45u);
  for (int scan = 0; scan < 256; ++scan) {
    auto it = expected.find(static_cast<uint8_t>(scan));
    uint8_t want = it == expected.end() ? 0 : it->second;
    EXPECT_EQ(ScanToVk(static_cast<uint8_t>(scan)), want) << "scan code " << Hex2(scan);
  }
}

TEST(ScanVkTable, HoldsFortyFiveDistinctRows) {
  std::set<uint8_t> scans;
  for (const ScanVkRow& row : ScanVkTable) {
    EXPECT_NE(row.Vk, 0) << "scan code " << Hex2(row.Scan);
    scans.insert(row.Scan);
  }
  EXPECT_EQ(scans.size(), 45u);
  EXPECT_EQ(scans.count(SCAN_FN), 0u) << "Fn has no virtual key of its own";
}

TEST(ScanVkTable, CodesWithoutRowsGiveNoVirtualKey) {
  for (uint8_t scan : {0x00, 0x01, 0x03, 0x29, 0x2D, 0x35, 0x38, 0x51, 0x77, 0x7F, 0x80, 0xFF})
    EXPECT_EQ(ScanToVk(scan), 0) << "scan code " << Hex2(scan);
}

// ---- the Fn layer ----------------------------------------------------------------

class FnCharTableTest : public EngineTest {};

struct FnCase {
  uint8_t scan;
  char ch;  // 0: no Fn character
};

const FnCase kFnCases[] = {
    {0x13, '0'}, {0x14, '1'}, {0x1A, '2'}, {0x08, '3'}, {0x15, '4'}, {0x17, '5'}, {0x1C, '6'},
    {0x18, '7'}, {0x0C, '8'}, {0x12, '9'}, {0x04, '!'}, {0x16, '@'}, {0x07, '#'}, {0x09, '$'},
    {0x0A, '%'}, {0x0B, '&'}, {0x0D, '*'}, {0x0E, '/'}, {0x0F, '-'}, {0x2A, '+'}, {0x1D, '\''},
    {0x1B, '"'}, {0x06, '~'}, {0x19, '\\'}, {0x05, '('}, {0x11, ')'}, {0x10, '?'}, {0x36, ';'},
    {0x37, ':'}, {0x28, '='},
    // keys that keep their ordinary meaning under Fn
    {0x1E, 0}, {0x1F, 0}, {0x20, 0}, {0x21, 0}, {0x22, 0}, {0x23, 0}, {0x24, 0}, {0x25, 0},
    {0x26, 0}, {0x27, 0}, {0x2B, 0}, {0x2C, 0}, {0x4F, 0}, {0x50, 0}, {0x74, 0}, {0x77, 0},
    {0x00, 0}, {0x7F, 0},
};

TEST_F(FnCharTableTest, SendFnCharTypesEachRowsCharacterAndNothingElse) {
  int rows = 0;
  for (const FnCase& c : kFnCases) {
    SCOPED_TRACE("scan code " + Hex2(c.scan));
    bench::ClearTrace();
    int sent = SendFnChar(c.scan);
    bench::Settle();
    if (c.ch != 0) {
      ++rows;
      EXPECT_EQ(sent, 1);
      EXPECT_EQ(Keys(), Character(static_cast<unsigned char>(c.ch)));
    } else {
      EXPECT_EQ(sent, 0);
      EXPECT_TRUE(Keys().empty());
    }
  }
  EXPECT_EQ(rows, FN_CHAR_ROWS);
}

// ---- accent composition --------------------------------------------------------------

struct AccentLetter {
  int kind;
  char letter;
  uint16_t upper;  // 0: no composed capital
  uint16_t lower;
};

const AccentLetter kAccentLetters[] = {
    {1, 'A', 0x00C0, 0x00E0}, {1, 'E', 0x00C8, 0x00E8}, {1, 'I', 0x00CC, 0x00EC},
    {1, 'N', 0, 0x0149},      {1, 'O', 0x00D2, 0x00F2}, {1, 'U', 0x00D9, 0x00F9},
    {1, 'W', 0x1E80, 0x1E81}, {1, 'Y', 0x1EF2, 0x1EF3},
    {2, 'A', 0x00C1, 0x00E1}, {2, 'C', 0x0106, 0x0107}, {2, 'E', 0x00C9, 0x00E9},
    {2, 'I', 0x00CD, 0x00ED}, {2, 'L', 0x0139, 0x013A}, {2, 'N', 0x0143, 0x0144},
    {2, 'O', 0x00D3, 0x00F3}, {2, 'R', 0x0154, 0x0155}, {2, 'S', 0x015A, 0x015B},
    {2, 'U', 0x00DA, 0x00FA}, {2, 'W', 0x1E82, 0x1E83}, {2, 'Y', 0x00DD, 0x00FD},
    {2, 'Z', 0x0179, 0x017A},
    {3, 'A', 0x00C2, 0x00E2}, {3, 'C', 0x0108, 0x0109}, {3, 'E', 0x00CA, 0x00EA},
    {3, 'G', 0x011C, 0x011D}, {3, 'I', 0x00CE, 0x00EE}, {3, 'J', 0x0134, 0x0135},
    {3, 'O', 0x00D4, 0x00F4}, {3, 'S', 0x015C, 0x015D}, {3, 'U', 0x00DB, 0x00FB},
    {3, 'W', 0x0174, 0x0175}, {3, 'Y', 0x0176, 0x0177},
    {4, 'A', 0x00C3, 0x00E3}, {4, 'I', 0x0128, 0x0129}, {4, 'N', 0x00D1, 0x00F1},
    {4, 'O', 0x00D5, 0x00F5}, {4, 'U', 0x0168, 0x0169},
    {5, 'A', 0x00C4, 0x00E4}, {5, 'E', 0x00CB, 0x00EB}, {5, 'I', 0x00CF, 0x00EF},
    {5, 'O', 0x00D6, 0x00F6}, {5, 'U', 0x00DC, 0x00FC}, {5, 'W', 0x1E84, 0x1E85},
    {5, 'Y', 0x0178, 0x00FF},
};

TEST(AccentTable, EveryKindLetterAndCaseComposesAsListedAndNoOtherKeyDoes) {
  int composed = 0;
  for (int kind = -1; kind <= 6; ++kind) {
    for (int scan = 0; scan < 128; ++scan) {
      int vk = ScanToVk(static_cast<uint8_t>(scan));
      const AccentLetter* hit = nullptr;
      for (const AccentLetter& a : kAccentLetters)
        if (a.kind == kind && a.letter == vk) hit = &a;
      for (bool upper : {false, true}) {
        uint16_t want = hit == nullptr ? 0 : (upper ? hit->upper : hit->lower);
        if (want != 0) ++composed;
        EXPECT_EQ(ComposeAccent(kind, static_cast<uint8_t>(vk), upper), want)
            << "kind " << kind << " vk " << Hex2(vk) << (upper ? " upper" : " lower");
      }
    }
  }
  EXPECT_EQ(composed, ACCENT_ROWS);
}

// A code outside the letter keys is compared as it is, case and all; no key of
// the keyboard has such a code, so this never composes from the keyboard.
TEST(AccentTable, NonLetterCodesCompareWithTheBaseAsIs) {
  EXPECT_EQ(ComposeAccent(1, 'a', false), 0x00E0);
  EXPECT_EQ(ComposeAccent(1, 'a', true), 0x00E0);
  EXPECT_EQ(ComposeAccent(1, VK_SPACE, false), 0);
}

TEST(AccentTable, RowsAreKindsOneToFiveOnAsciiLetters) {
  for (const AccentRow& row : AccentTable) {
    EXPECT_GE(row.Kind, 1);
    EXPECT_LE(row.Kind, 5);
    EXPECT_TRUE((row.Base >= 'A' && row.Base <= 'Z') || (row.Base >= 'a' && row.Base <= 'z'));
    EXPECT_GE(row.Composed, 0x00C0);
  }
}

TEST(AccentTable, BareAccentOfEachKind) {
  const struct {
    int kind;
    uint16_t bare;
  } cases[] = {{1, 0x0060}, {2, 0x00B4}, {3, 0x005E}, {4, 0x007E}, {5, 0x00A8},
               {0, 0},      {6, 0},      {-1, 0},     {0x7FFFFFFF, 0}};
  for (const auto& c : cases) EXPECT_EQ(BareAccent(c.kind), c.bare) << "kind " << c.kind;
}

}  // namespace
