// The settings page, About box and menu bar of every national brindleres.dll, read
// byte by byte from the built libraries: the layout is guarded here without any dialog
// manager.
#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

// Styles, spelled out: the sim's headers need not define them all.
const uint32_t kWsPopup = 0x80000000u, kWsChild = 0x40000000u, kWsVisible = 0x10000000u;
const uint32_t kWsCaption = 0x00C00000u, kWsTabStop = 0x00010000u;
const uint32_t kDsSetFont = 0x40u;
const uint32_t kSsTypeMask = 0x1Fu, kSsIcon = 3, kSsNotify = 0x100u;
const uint32_t kSsLeft = 0, kSsCenter = 1, kSsRight = 2, kSsLeftNoWordWrap = 0xC;
const uint32_t kBsTypeMask = 0xFu, kBsPushButton = 0, kBsDefPushButton = 1, kBsAutoCheckBox = 3;
const uint32_t kTbsVert = 2;

// Dialog units: Tahoma 8 gives 6 x 13 px base units (the sim's dialog manager and
// desktop Windows agree).
int PixelsAcross(int units) { return units * 6 / 4; }
int PixelsDown(int units) { return units * 13 / 8; }

std::vector<uint8_t> Bytes(HMODULE module, LPCWSTR type, WORD id) {
  HRSRC r = FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (r == nullptr) return {};
  const uint8_t* p = static_cast<const uint8_t*>(LockResource(LoadResource(module, r)));
  if (p == nullptr) return {};
  return std::vector<uint8_t>(p, p + SizeofResource(module, r));
}

// Reads little-endian words off a resource; any read past the end clears ok.
struct Reader {
  const std::vector<uint8_t>& b;
  size_t pos = 0;
  bool ok = true;

  uint16_t Word() {
    if (pos + 2 > b.size()) {
      ok = false;
      return 0;
    }
    uint16_t w = static_cast<uint16_t>(b[pos] | (b[pos + 1] << 8));
    pos += 2;
    return w;
  }
  uint32_t Dword() {
    uint32_t lo = Word();
    return lo | (static_cast<uint32_t>(Word()) << 16);
  }
  std::wstring Text() {
    std::wstring s;
    for (uint16_t w = Word(); ok && w != 0; w = Word()) s += static_cast<wchar_t>(w);
    return s;
  }
  // A name or ordinal: 0 for none, 0xFFFF and a number, or a string.
  void NameOrOrdinal(std::wstring* name, uint16_t* ordinal) {
    *ordinal = 0;
    name->clear();
    uint16_t first = Word();
    if (first == 0) return;
    if (first == 0xFFFF) {
      *ordinal = Word();
      return;
    }
    pos -= 2;
    *name = Text();
  }
  void AlignDword() { pos = (pos + 3) & ~static_cast<size_t>(3); }
};

struct Control {
  uint32_t style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  uint16_t id = 0;
  std::wstring cls;  // lower case; stock ordinals named
  std::wstring text;
  int Right() const { return x + cx; }
  int Bottom() const { return y + cy; }
};

struct Dialog {
  uint32_t style = 0;
  int cx = 0, cy = 0;
  std::wstring menu, cls, title, face;
  uint16_t menuOrdinal = 0, classOrdinal = 0, pointSize = 0;
  std::vector<Control> controls;
};

std::wstring Lower(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return s;
}

std::wstring StockClass(uint16_t ordinal) {
  switch (ordinal) {
    case 0x80: return L"button";
    case 0x81: return L"edit";
    case 0x82: return L"static";
    case 0x83: return L"listbox";
    case 0x84: return L"scrollbar";
    case 0x85: return L"combobox";
  }
  return L"#" + std::to_wstring(ordinal);
}

// A plain DLGTEMPLATE and its DLGITEMTEMPLATEs. False on an extended template or
// bytes that end early; *why says which.
bool ParseDialog(const std::vector<uint8_t>& bytes, Dialog* d, std::string* why) {
  Reader r{bytes};
  if (bytes.size() >= 4 && bytes[0] == 1 && bytes[1] == 0 && bytes[2] == 0xFF && bytes[3] == 0xFF) {
    *why = "an extended template";
    return false;
  }
  d->style = r.Dword();
  r.Dword();  // extended style
  uint16_t count = r.Word();
  r.Word();
  r.Word();
  d->cx = static_cast<int16_t>(r.Word());
  d->cy = static_cast<int16_t>(r.Word());
  r.NameOrOrdinal(&d->menu, &d->menuOrdinal);
  r.NameOrOrdinal(&d->cls, &d->classOrdinal);
  d->title = r.Text();
  if (d->style & kDsSetFont) {
    d->pointSize = r.Word();
    d->face = r.Text();
  }
  for (uint16_t i = 0; i < count && r.ok; ++i) {
    r.AlignDword();
    Control c;
    c.style = r.Dword();
    r.Dword();  // extended style
    c.x = static_cast<int16_t>(r.Word());
    c.y = static_cast<int16_t>(r.Word());
    c.cx = static_cast<int16_t>(r.Word());
    c.cy = static_cast<int16_t>(r.Word());
    c.id = r.Word();
    uint16_t ordinal = 0;
    r.NameOrOrdinal(&c.cls, &ordinal);
    c.cls = ordinal != 0 ? StockClass(ordinal) : Lower(c.cls);
    r.NameOrOrdinal(&c.text, &ordinal);
    uint16_t extra = r.Word();
    r.pos += extra;
    d->controls.push_back(c);
  }
  if (!r.ok || r.pos > bytes.size()) {
    *why = "the template ends early";
    return false;
  }
  if (bytes.size() - r.pos >= 4) {
    *why = "bytes left after the last control";
    return false;
  }
  return true;
}

bool Overlap(const Control& a, const Control& b) {
  return a.x < b.Right() && b.x < a.Right() && a.y < b.Bottom() && b.y < a.Bottom();
}

std::string Name(const Control& c) { return "control " + std::to_string(c.id) + " at y " + std::to_string(c.y); }

bool IsTextStatic(const Control& c) {
  uint32_t type = c.style & kSsTypeMask;
  return c.cls == L"static" &&
         (type == kSsLeft || type == kSsCenter || type == kSsRight || type == kSsLeftNoWordWrap);
}

bool IsPushButton(const Control& c) {
  uint32_t type = c.style & kBsTypeMask;
  return c.cls == L"button" && (type == kBsPushButton || type == kBsDefPushButton);
}
bool IsCheckBox(const Control& c) { return c.cls == L"button" && (c.style & kBsTypeMask) == kBsAutoCheckBox; }
bool IsIconThatReportsTaps(const Control& c) {
  return c.cls == L"static" && (c.style & kSsTypeMask) == kSsIcon && (c.style & kSsNotify) != 0;
}
bool IsHorizontalTrackbar(const Control& c) { return c.cls == L"msctls_trackbar32" && (c.style & kTbsVert) == 0; }

struct Expected {
  uint16_t id;
  bool (*kind)(const Control&);
  const char* what;
};

// One national build: where it lies beside the test program, and the words its
// trackbars' ends carry.
struct Library {
  const char* code;
  const wchar_t* path;
  const wchar_t *slow, *fast, *shortDelay, *longDelay;
};

void PrintTo(const Library& l, std::ostream* os) { *os << l.code; }

const Library kLibraries[] = {
    {"USA", L"brindleres.dll", L"Slow", L"Fast", L"Short", L"Long"},
    {"FRA", L"national/FRA/brindleres.dll", L"Lente", L"Rapide", L"Court", L"Long"},
    {"GER", L"national/GER/brindleres.dll", L"Langsam", L"Schnell", L"Kurz", L"Lang"},
    {"ESP", L"national/ESP/brindleres.dll", L"Lenta", L"R\u00e1pida", L"Corto", L"Largo"},
    {"PTB", L"national/PTB/brindleres.dll", L"Lenta", L"R\u00e1pida", L"Curto", L"Longo"},
    {"ITA", L"national/ITA/brindleres.dll", L"Lenta", L"Veloce", L"Breve", L"Lungo"},
};

class Templates : public ::testing::TestWithParam<Library> {
 protected:
  void SetUp() override {
    dll = LoadLibraryW(GetParam().path);
    ASSERT_NE(dll, nullptr) << GetParam().code << " library beside the test program";
  }
  void TearDown() override {
    if (dll != nullptr) {
      EXPECT_TRUE(FreeLibrary(dll));
    }
  }

  void Load(WORD id, Dialog* d) {
    std::vector<uint8_t> bytes = Bytes(dll, RT_DIALOG, id);
    ASSERT_FALSE(bytes.empty()) << "dialog " << id;
    std::string why;
    ASSERT_TRUE(ParseDialog(bytes, d, &why)) << "dialog " << id << ": " << why;
  }

  // Each expected id exactly once and of its kind; any other control is an unnumbered
  // static; every control a visible child.
  static void ExpectControls(const Dialog& d, const Expected* expected, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      int found = 0;
      for (const Control& c : d.controls) {
        if (c.id != expected[i].id) continue;
        ++found;
        EXPECT_TRUE(expected[i].kind(c)) << expected[i].id << " is not " << expected[i].what;
      }
      EXPECT_EQ(found, 1) << "control " << expected[i].id;
    }
    for (const Control& c : d.controls) {
      bool known = false;
      for (size_t i = 0; i < count; ++i) known = known || c.id == expected[i].id;
      if (!known) {
        EXPECT_EQ(c.id, 0xFFFF) << Name(c) << " is not one the program knows";
        EXPECT_TRUE(IsTextStatic(c)) << Name(c);
      }
      EXPECT_EQ(c.style & (kWsChild | kWsVisible), kWsChild | kWsVisible) << Name(c);
    }
  }

  // Inside the dialog, of some size, and no two on top of each other.
  static void ExpectLaidOut(const Dialog& d) {
    for (size_t i = 0; i < d.controls.size(); ++i) {
      const Control& a = d.controls[i];
      EXPECT_GT(a.cx, 0) << Name(a);
      EXPECT_GT(a.cy, 0) << Name(a);
      EXPECT_GE(a.x, 0) << Name(a);
      EXPECT_GE(a.y, 0) << Name(a);
      EXPECT_LE(a.Right(), d.cx) << Name(a);
      EXPECT_LE(a.Bottom(), d.cy) << Name(a);
      for (size_t j = i + 1; j < d.controls.size(); ++j)
        EXPECT_FALSE(Overlap(a, d.controls[j])) << Name(a) << " and " << Name(d.controls[j]);
    }
  }

  // Everything that takes input is a tab stop, nothing else is, and the template
  // order visits them as one reads: row by row, left to right within a row.
  static void ExpectTabOrder(const Dialog& d) {
    const Control* last = nullptr;
    for (const Control& c : d.controls) {
      bool input = c.cls != L"static";
      EXPECT_EQ((c.style & kWsTabStop) != 0, input) << Name(c);
      if (!input) continue;
      if (last != nullptr) {
        bool sameRow = c.y < last->Bottom() && last->y < c.Bottom();
        if (sameRow) {
          EXPECT_GE(c.x, last->Right()) << Name(c) << " is left of " << Name(*last);
        } else {
          EXPECT_GE(c.y, last->Bottom()) << Name(c) << " is above " << Name(*last);
        }
      }
      last = &c;
    }
  }

  static const Control* Find(const Dialog& d, uint16_t id) {
    for (const Control& c : d.controls)
      if (c.id == id) return &c;
    return nullptr;
  }

  HMODULE dll = nullptr;
};

TEST_P(Templates, BothArePlainTemplatesInTahoma8) {
  const WORD ids[] = {101, 104};
  for (WORD id : ids) {
    std::vector<uint8_t> bytes = Bytes(dll, RT_DIALOG, id);
    ASSERT_GE(bytes.size(), 18u) << id;
    EXPECT_FALSE(bytes[2] == 0xFF && bytes[3] == 0xFF) << id << ": an extended template";
    Dialog d;
    Load(id, &d);
    EXPECT_NE(d.style & kDsSetFont, 0u) << id;
    EXPECT_EQ(d.pointSize, 8) << id;
    EXPECT_EQ(d.face, L"Tahoma") << id;
    EXPECT_EQ(d.menuOrdinal, 0) << id;
    EXPECT_EQ(d.menu, L"") << id;
    EXPECT_EQ(d.classOrdinal, 0) << id;
    EXPECT_EQ(d.cls, L"") << id;
  }
}

TEST_P(Templates, SettingsPageFillsTheClientArea) {
  Dialog d;
  Load(101, &d);
  EXPECT_EQ(PixelsAcross(d.cx), 240);
  EXPECT_EQ(PixelsDown(d.cy), 268);
  Dialog about;
  Load(104, &about);
  EXPECT_LE(PixelsAcross(about.cx), 240) << "the About box fits the screen";
  EXPECT_LE(PixelsDown(about.cy), 294);
  EXPECT_NE(d.style & kWsChild, 0u) << "a page inside the main window";
  EXPECT_EQ(d.style & (kWsPopup | kWsCaption), 0u);
}

const Expected kSettingsControls[] = {
    {1026, IsIconThatReportsTaps, "an icon that reports taps"},
    {1040, IsTextStatic, "text"},
    {1041, IsCheckBox, "an automatic check box"},
    {1042, IsCheckBox, "an automatic check box"},
    {1044, IsHorizontalTrackbar, "a horizontal trackbar"},
    {1045, IsHorizontalTrackbar, "a horizontal trackbar"},
    {1010, IsPushButton, "a push button"},
    {1012, IsPushButton, "a push button"},
    {1013, IsPushButton, "a push button"},
    {1047, IsTextStatic, "text"},
    {1048, IsTextStatic, "text"},
    {1054, IsTextStatic, "text"},
    {1055, IsTextStatic, "text"},
    {1056, IsTextStatic, "text"},
};

TEST_P(Templates, SettingsPageHasEveryControlOnce) {
  Dialog d;
  Load(101, &d);
  ExpectControls(d, kSettingsControls, sizeof kSettingsControls / sizeof kSettingsControls[0]);
}

TEST_P(Templates, SettingsPageControlsFitWithoutOverlap) {
  Dialog d;
  Load(101, &d);
  ExpectLaidOut(d);
  ExpectTabOrder(d);
}

TEST_P(Templates, StatusIconAndTextLeadThePage) {
  Dialog d;
  Load(101, &d);
  const Control* icon = Find(d, 1026);
  const Control* text = Find(d, 1040);
  ASSERT_NE(icon, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_GE(PixelsAcross(icon->cx), 32) << "room for a 32 x 32 icon";
  EXPECT_GE(PixelsDown(icon->cy), 32) << "room for a 32 x 32 icon";
  EXPECT_GE(text->x, icon->Right()) << "the text beside the icon";
  EXPECT_TRUE(text->y < icon->Bottom() && icon->y < text->Bottom()) << "on the icon's row";
  // Nothing above the status: all else is on the icon's row or under it.
  for (const Control& c : d.controls) {
    bool onItsRow = c.y < icon->Bottom() && icon->y < c.Bottom();
    if (!onItsRow) {
      EXPECT_GE(c.y, icon->Bottom()) << Name(c) << " above the status";
    }
  }
}

// Each trackbar: a title right above it, and right below it a label at each end,
// aligned with its edges. The rate trackbar runs from 1 (slow) up.
struct TrackbarLabels {
  uint16_t trackbar;
  const wchar_t* low;
  const wchar_t* high;
};

TEST_P(Templates, TrackbarsHaveATitleAndLabelledEnds) {
  Dialog d;
  Load(101, &d);
  const Library& l = GetParam();
  const TrackbarLabels cases[] = {{1044, l.slow, l.fast}, {1045, l.shortDelay, l.longDelay}};
  const int kNear = 4;  // units between a trackbar and its labels at most
  for (const TrackbarLabels& t : cases) {
    const Control* bar = Find(d, t.trackbar);
    ASSERT_NE(bar, nullptr) << t.trackbar;
    const Control *title = nullptr, *low = nullptr, *high = nullptr;
    for (const Control& c : d.controls) {
      if (!IsTextStatic(c)) continue;
      if (c.Bottom() <= bar->y && bar->y - c.Bottom() <= kNear && c.x == bar->x) title = &c;
      if (c.y >= bar->Bottom() && c.y - bar->Bottom() <= kNear) {
        if (c.x == bar->x && (c.style & kSsTypeMask) != kSsRight) low = &c;
        if (c.Right() == bar->Right() && (c.style & kSsTypeMask) == kSsRight) high = &c;
      }
    }
    ASSERT_NE(title, nullptr) << t.trackbar << ": no title above it";
    EXPECT_FALSE(title->text.empty()) << t.trackbar;
    ASSERT_NE(low, nullptr) << t.trackbar << ": no label under its left end";
    ASSERT_NE(high, nullptr) << t.trackbar << ": no right-aligned label under its right end";
    EXPECT_EQ(low->text, t.low) << t.trackbar;
    EXPECT_EQ(high->text, t.high) << t.trackbar;
    EXPECT_LE(low->Right(), high->x) << t.trackbar << ": the end labels meet";
  }
}

// The page shows the driver as stopped until the program says otherwise, in the same
// words as the library's own "Stopped" (string 10).
TEST_P(Templates, StatusTextStartsAsTheStoppedString) {
  Dialog d;
  Load(101, &d);
  const Control* text = Find(d, 1040);
  ASSERT_NE(text, nullptr);
  WCHAR stopped[64] = {0};
  ASSERT_GT(LoadStringW(dll, 10, stopped, 64), 0);
  EXPECT_TRUE(text->text == stopped) << GetParam().code;
}

const Expected kAboutControls[] = {
    {1007, IsTextStatic, "text"},
    {1001, IsTextStatic, "text"},
    {1, IsPushButton, "a push button"},
};

TEST_P(Templates, AboutBox) {
  Dialog d;
  Load(104, &d);
  EXPECT_NE(d.style & kWsPopup, 0u);
  EXPECT_FALSE(d.title.empty());
  ExpectControls(d, kAboutControls, sizeof kAboutControls / sizeof kAboutControls[0]);
  ExpectLaidOut(d);
  ExpectTabOrder(d);
  std::wstring all;
  for (const Control& c : d.controls) all += c.text + L"\n";
  const wchar_t* names[] = {L"Corvane", L"Tavlo", L"brindle"};
  for (const wchar_t* name : names)
    EXPECT_NE(all.find(name), std::wstring::npos) << std::string(name, name + wcslen(name));
  const Control* ok = Find(d, 1);
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->style & kBsTypeMask, kBsDefPushButton) << "Enter closes the box";
}

// ---- the menu bar ------------------------------------------------------------------

struct MenuItem {
  uint16_t flags = 0, id = 0;
  std::wstring text;
  std::vector<MenuItem> items;  // of a popup
};

const uint16_t kMfPopup = 0x10, kMfEnd = 0x80;

bool ParseMenuItems(Reader* r, std::vector<MenuItem>* out, int depth) {
  if (depth > 4) return false;
  for (;;) {
    MenuItem m;
    m.flags = r->Word();
    if (!(m.flags & kMfPopup)) m.id = r->Word();
    m.text = r->Text();
    if (!r->ok) return false;
    if ((m.flags & kMfPopup) && !ParseMenuItems(r, &m.items, depth + 1)) return false;
    out->push_back(m);
    if (m.flags & kMfEnd) return true;
  }
}

// A plain MENU resource: its header, then its items.
bool ParseMenu(const std::vector<uint8_t>& bytes, std::vector<MenuItem>* top) {
  Reader r{bytes};
  uint16_t version = r.Word();
  uint16_t headerSize = r.Word();
  if (!r.ok || version != 0) return false;
  r.pos += headerSize;
  return ParseMenuItems(&r, top, 0) && r.pos <= bytes.size();
}

void Commands(const std::vector<MenuItem>& items, std::vector<uint16_t>* out) {
  for (const MenuItem& m : items) {
    if (m.flags & kMfPopup)
      Commands(m.items, out);
    else if (m.id != 0)
      out->push_back(m.id);
  }
}

TEST_P(Templates, MenuBarReachesAboutHelpAndExit) {
  std::vector<uint8_t> bytes = Bytes(dll, RT_RCDATA, 131);
  ASSERT_FALSE(bytes.empty());
  ASSERT_EQ(bytes.size() % 2, 0u);
  Reader r{bytes};
  std::vector<uint16_t> words;
  while (r.pos < bytes.size()) words.push_back(r.Word());
  ASSERT_GE(words.size(), 2u);
  const uint16_t menuId = words[0], buttons = words[1];
  ASSERT_GE(buttons, 1);
  ASSERT_EQ(words.size(), 2u + 7u * buttons) << "two words, then seven a button";

  std::vector<MenuItem> top;
  ASSERT_TRUE(ParseMenu(Bytes(dll, RT_MENU, menuId), &top)) << "MENU " << menuId;
  for (const MenuItem& m : top) {
    EXPECT_NE(m.flags & kMfPopup, 0) << "the bar's MENU holds only popups";
    EXPECT_FALSE(m.items.empty());
  }

  std::vector<uint16_t> reached, buttonCommands, dropdownCommands;
  for (uint16_t b = 0; b < buttons; ++b) {
    const uint16_t* w = &words[2 + 7 * b];
    const uint16_t image = w[0], command = w[1], state = w[2], style = w[3], text = w[4], zero = w[5],
                   popup = w[6];
    EXPECT_EQ(image, 0xFFFE) << "button " << b;
    EXPECT_EQ(state, 4) << "button " << b;
    EXPECT_EQ(zero, 0) << "button " << b;
    WCHAR buf[64];
    EXPECT_GT(LoadStringW(dll, text, buf, 64), 0) << "button " << b << " text " << text;
    buttonCommands.push_back(command);
    if (style == 0x18) {
      ASSERT_LT(popup, top.size()) << "button " << b;
      // The bar shows the string; the MENU's name for the same popup says the same.
      EXPECT_TRUE(top[popup].text == buf) << GetParam().code << " button " << b;
      dropdownCommands.push_back(command);
      Commands(top[popup].items, &reached);
    } else {
      EXPECT_EQ(style, 0x10) << "button " << b;
      EXPECT_EQ(popup, 0xFFFF) << "button " << b;
      reached.push_back(command);
    }
  }
  const uint16_t needed[] = {40010, 40012, 40015};
  for (uint16_t id : needed) {
    int n = 0;
    for (uint16_t c : reached) n += c == id;
    EXPECT_EQ(n, 1) << "command " << id;
  }
  // A dropdown's own command must never be taken for an action.
  std::set<uint16_t> actions(reached.begin(), reached.end());
  for (uint16_t c : dropdownCommands) {
    EXPECT_EQ(actions.count(c), 0u) << "dropdown command " << c;
    EXPECT_NE(c, 0);
  }
  std::set<uint16_t> unique(buttonCommands.begin(), buttonCommands.end());
  EXPECT_EQ(unique.size(), buttonCommands.size()) << "two buttons share a command";
}

INSTANTIATE_TEST_SUITE_P(National, Templates, ::testing::ValuesIn(kLibraries),
                         [](const ::testing::TestParamInfo<Library>& info) { return std::string(info.param.code); });

}  // namespace
