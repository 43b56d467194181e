// The six national builds of brindleres.dll: each names its language in string 20,
// keeps its texts' accents, and carries picker pictures that match the layout its
// language selects. Plain Win32 code: run on the simulated handheld and under Wine.
#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "shell/layouts.h"
#include "shell/settings.h"
#include "shell/state.h"

namespace {

struct National {
  const char* code;
  const wchar_t* path;  // relative to the test program's folder, the working directory
  int language;         // index GetLanguageIndex gives
  UINT accentedId;      // a string with accented letters, and its exact text
  const wchar_t* accented;
};

const National kNationals[] = {
    {"USA", L"brindleres.dll", 0, 4, L"Special Characters"},
    {"FRA", L".\\national\\FRA\\brindleres.dll", 1, 4, L"Caract\u00e8res sp\u00e9ciaux"},
    {"GER", L".\\national\\GER\\brindleres.dll", 2, 9, L"L\u00e4uft"},
    {"ESP", L".\\national\\ESP\\brindleres.dll", 3, 9, L"En ejecuci\u00f3n"},
    {"PTB", L".\\national\\PTB\\brindleres.dll", 4, 9, L"Em execu\u00e7\u00e3o"},
    {"ITA", L".\\national\\ITA\\brindleres.dll", 5, 5,
     L"Uscire dal driver della tastiera? Non sar\u00e0 possibile digitare sulla tastiera finch\u00e9 non "
     L"verr\u00e0 riavviato."},
};

// Names the library in failure messages instead of dumping the struct's bytes.
void PrintTo(const National& n, std::ostream* os) { *os << n.code; }

// ---- the pictures ------------------------------------------------------------------

const int kWidth = 240, kHeight = 114, kCellW = 22, kCellH = 20;
// What tools/make_pickers.py promises: white background, this frame colour only on the
// one-pixel ring round each cell, key labels only in the gap under their cell.
const uint32_t kBackground = 0xFFFFFF, kFrame = 0xA0B8D8;

struct Rect {
  int left, top, right, bottom;
  bool Holds(int x, int y) const { return left <= x && x < right && top <= y && y < bottom; }
};

Rect CellRect(int cell) {
  int r = cell / 10, c = cell % 10;
  int left = c < 5 ? 4 + 23 * c : 7 + 23 * c;
  int top = 2 + 38 * r;
  return {left, top, left + kCellW, top + kCellH};
}
Rect FrameRing(int cell) {
  Rect r = CellRect(cell);
  return {r.left - 1, r.top - 1, r.right + 1, r.bottom + 1};
}
// The gap under the cell down to the next row's frame (or the picture's edge).
Rect LabelBox(int cell) {
  Rect r = CellRect(cell);
  int bottom = r.bottom + 17;
  return {r.left, r.bottom + 1, r.right, bottom < kHeight ? bottom : kHeight};
}

// An 8-bit BI_RGB device-independent bitmap, as RT_BITMAP holds it, in 0xRRGGBB.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint32_t> rgb;  // top row first
  uint32_t At(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }
};

uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// False, with *why, unless the bytes are a bottom-up 8-bit palette DIB whose palette
// and rows are all there and whose pixels index the palette.
bool ParseDib(const uint8_t* b, size_t size, Picture* out, std::string* why) {
  if (size < 40 || Le32(b) < 40 || Le32(b) > size) {
    *why = "no BITMAPINFOHEADER";
    return false;
  }
  uint32_t header = Le32(b);
  int32_t w = static_cast<int32_t>(Le32(b + 4)), h = static_cast<int32_t>(Le32(b + 8));
  if (Le16(b + 12) != 1 || Le16(b + 14) != 8 || Le32(b + 16) != 0) {
    *why = "not 8 bits a pixel, BI_RGB";
    return false;
  }
  if (w <= 0 || h <= 0 || w > 4096 || h > 4096) {
    *why = "not a bottom-up picture of a sane size";
    return false;
  }
  uint32_t colours = Le32(b + 32) == 0 ? 256 : Le32(b + 32);
  size_t stride = (static_cast<size_t>(w) + 3) & ~static_cast<size_t>(3);
  if (colours > 256 || header + 4 * colours + stride * h > size) {
    *why = "palette or pixels cut short";
    return false;
  }
  const uint8_t* pal = b + header;
  const uint8_t* rows = pal + 4 * colours;
  out->width = w;
  out->height = h;
  out->rgb.assign(static_cast<size_t>(w) * h, 0);
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = rows + stride * (h - 1 - y);
    for (int x = 0; x < w; ++x) {
      if (row[x] >= colours) {
        *why = "a pixel outside the palette";
        return false;
      }
      const uint8_t* q = pal + 4 * row[x];
      out->rgb[static_cast<size_t>(y) * w + x] = (q[2] << 16) | (q[1] << 8) | q[0];
    }
  }
  return true;
}

bool LoadPicture(HMODULE dll, WORD id, Picture* out, std::string* why) {
  HRSRC r = FindResourceW(dll, MAKEINTRESOURCEW(id), RT_BITMAP);
  HGLOBAL g = r != nullptr ? LoadResource(dll, r) : nullptr;
  const uint8_t* p = g != nullptr ? static_cast<const uint8_t*>(LockResource(g)) : nullptr;
  if (p == nullptr) {
    *why = "no bitmap " + std::to_string(id);
    return false;
  }
  return ParseDib(p, SizeofResource(dll, r), out, why);
}

uint16_t CellValue(const PickerCell& c, WORD bitmap) { return bitmap == 148 ? c.Plain : c.Shifted; }

std::string Hex(unsigned v) {
  char buf[16];
  snprintf(buf, sizeof buf, "0x%04X", v);
  return buf;
}

// A cell's rectangle holds ink exactly when the cell is not empty; around the cells
// lie only their frames and, under each, its key's label.
void ExpectPictureMatches(const Picture& pic, const PickerCell* layout, WORD bitmap, const std::string& what) {
  ASSERT_EQ(pic.width, kWidth) << what;
  ASSERT_EQ(pic.height, kHeight) << what;
  for (int cell = 0; cell < PICKER_CELLS; ++cell) {
    Rect r = CellRect(cell);
    int ink = 0, frame = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) {
        ink += pic.At(x, y) != kBackground && pic.At(x, y) != kFrame;
        frame += pic.At(x, y) == kFrame;
      }
    EXPECT_EQ(frame, 0) << what << " cell " << cell << ": frame colour inside the cell";
    bool empty = CellValue(layout[cell], bitmap) == 0;
    if (empty) {
      EXPECT_EQ(ink, 0) << what << " cell " << cell << " is empty in the table but drawn";
    } else {
      EXPECT_GT(ink, 0) << what << " cell " << cell << " is blank but the table has a character";
    }
    Rect label = LabelBox(cell);
    int labelInk = 0;
    for (int y = label.top; y < label.bottom; ++y)
      for (int x = label.left; x < label.right; ++x) labelInk += pic.At(x, y) != kBackground;
    EXPECT_GT(labelInk, 0) << what << " cell " << cell << ": no key label under it";
  }
  int stray = 0;
  std::string first;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      uint32_t c = pic.At(x, y);
      if (c == kBackground) continue;
      bool allowed = false;
      for (int cell = 0; cell < PICKER_CELLS && !allowed; ++cell) {
        Rect ring = FrameRing(cell), inner = CellRect(cell);
        allowed = inner.Holds(x, y) || LabelBox(cell).Holds(x, y) ||
                  (c == kFrame && ring.Holds(x, y) && !inner.Holds(x, y));
      }
      if (!allowed && stray++ == 0) first = "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
    }
  EXPECT_EQ(stray, 0) << what << ": pixels outside cells, frames and labels, first at " << first;
}

class NationalLibrary : public ::testing::TestWithParam<National> {
 protected:
  void SetUp() override {
    dll = LoadLibraryW(GetParam().path);
    ASSERT_NE(dll, nullptr) << GetParam().code << ": error " << GetLastError();
  }
  void TearDown() override {
    hResDll = nullptr;
    if (dll != nullptr) {
      EXPECT_TRUE(FreeLibrary(dll));
    }
  }
  std::wstring String(UINT id) {
    WCHAR buf[300] = {0};
    int n = LoadStringW(dll, id, buf, 300);
    return std::wstring(buf, n > 0 ? n : 0);
  }
  HMODULE dll = nullptr;
};

TEST_P(NationalLibrary, ItsCodeSelectsItsLanguageAndLayout) {
  const National& n = GetParam();
  EXPECT_EQ(String(20), std::wstring(n.code, n.code + 3));
  hResDll = dll;
  EXPECT_EQ(GetLanguageIndex(), n.language);
  EXPECT_EQ(LayoutForLanguage(GetLanguageIndex()), n.language);
}

TEST_P(NationalLibrary, ClassNamesAreTheSameAndEveryTextIsThere) {
  EXPECT_EQ(String(1), L"BrindleMain");
  EXPECT_EQ(String(3), L"BrindlePicker");
  const UINT texts[] = {2, 4, 5, 9, 10, 11, 12};
  for (UINT id : texts) EXPECT_FALSE(String(id).empty()) << GetParam().code << " string " << id;
}

TEST_P(NationalLibrary, AccentedTextSurvives) {
  const National& n = GetParam();
  EXPECT_TRUE(String(n.accentedId) == n.accented) << n.code << " string " << n.accentedId;
}

TEST_P(NationalLibrary, PicturesMatchTheLayoutItsLanguageSelects) {
  hResDll = dll;
  const PickerCell* layout = PickerLayout[LayoutForLanguage(GetLanguageIndex())];
  const WORD ids[] = {148, 149};
  for (WORD id : ids) {
    Picture pic;
    std::string why;
    std::string what = std::string(GetParam().code) + " bitmap " + std::to_string(id);
    ASSERT_TRUE(LoadPicture(dll, id, &pic, &why)) << what << ": " << why;
    ExpectPictureMatches(pic, layout, id, what);
  }
}

INSTANTIATE_TEST_SUITE_P(All, NationalLibrary, ::testing::ValuesIn(kNationals),
                         [](const ::testing::TestParamInfo<National>& info) { return std::string(info.param.code); });

// Over all twelve pictures: cells that show the same character hold the same pixels,
// and cells that show different ones differ. Emptiness alone cannot tell a picture's
// plain column from its shifted one; this can, as long as some other picture draws
// the same character where it belongs.
TEST(NationalPictures, SameCharacterSamePixelsAcrossAllPictures) {
  std::map<uint16_t, std::vector<uint32_t>> seen;
  std::map<uint16_t, std::string> where;
  std::map<std::vector<uint32_t>, uint16_t> byPixels;
  for (const National& n : kNationals) {
    HMODULE dll = LoadLibraryW(n.path);
    ASSERT_NE(dll, nullptr) << n.code;
    const PickerCell* layout = PickerLayout[n.language];
    const WORD ids[] = {148, 149};
    for (WORD id : ids) {
      Picture pic;
      std::string why;
      std::string what = std::string(n.code) + " bitmap " + std::to_string(id);
      ASSERT_TRUE(LoadPicture(dll, id, &pic, &why)) << what << ": " << why;
      ASSERT_EQ(pic.width, kWidth) << what;
      ASSERT_EQ(pic.height, kHeight) << what;
      for (int cell = 0; cell < PICKER_CELLS; ++cell) {
        uint16_t value = CellValue(layout[cell], id);
        if (value == 0) continue;
        Rect r = CellRect(cell);
        std::vector<uint32_t> tile;
        for (int y = r.top; y < r.bottom; ++y)
          for (int x = r.left; x < r.right; ++x) tile.push_back(pic.At(x, y));
        std::string here = what + " cell " + std::to_string(cell);
        auto s = seen.find(value);
        if (s != seen.end()) {
          EXPECT_TRUE(s->second == tile) << Hex(value) << " differs between " << where[value] << " and " << here;
          continue;
        }
        auto b = byPixels.find(tile);
        if (b != byPixels.end()) {
          ADD_FAILURE() << here << " draws " << Hex(value) << " as " << where[b->second] << " draws "
                        << Hex(b->second);
        }
        seen[value] = tile;
        where[value] = here;
        byPixels[tile] = value;
      }
    }
    EXPECT_TRUE(FreeLibrary(dll));
  }
  EXPECT_GT(seen.size(), 50u) << "the six layouts show more than fifty different characters";
}

}  // namespace
