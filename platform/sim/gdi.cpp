// Bitmaps, device contexts and the pixels windows show on the simulated handheld.
//
// Every window keeps a surface of its own, the size of its rectangle (a window here
// has no frame, so that is its client area); its DCs draw there in client coordinates,
// clipped to it. The 240 x 320 screen is not kept: the bench composes it from the
// surfaces of the shown windows in z-order whenever it is asked. So pixels of a hidden
// window stay in its surface but the screen no longer shows them, and a destroyed
// window's surface goes with it. Pixels are 0xRRGGBB; a bitmap is either colour
// (reported as 32 bits per pixel, the screen's depth) or monochrome (black and white).
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <png.h>

#include "bench_gdi.h"
#include "core.h"
#include "dlg_internal.h"
#include "gdi_internal.h"
#include "res_internal.h"

namespace sim {
namespace {

constexpr int kScreenWidth = 240;
constexpr int kScreenHeight = 320;
// More pixels than any handheld bitmap has: larger sizes are refused before allocating.
constexpr uint64_t kMaxPixels = 1u << 24;

struct Bitmap {
  int width = 0;
  int height = 0;
  int bpp = 32;  // 32: colour; 1: monochrome
  std::vector<uint32_t> px;  // rows top to bottom
  HDC selectedIn = nullptr;
  bool stock = false;
};

enum class DcKind { kMemory, kWindow, kPaint };

struct Dc {
  DcKind kind = DcKind::kMemory;
  HWND hwnd = nullptr;       // window and paint DCs
  HBITMAP bitmap = nullptr;  // memory DCs; null: the stock 1 x 1 monochrome one
  HGDIOBJ slots[3] = {};     // font, brush, pen; null: the stock default
};

struct Surface {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> px;
};

// Handles far above font.cpp's so the two tables never hand out the same one.
constexpr uintptr_t kStockBitmap = 0x40000000;

struct State {
  std::map<HGDIOBJ, Bitmap> bitmaps;
  std::map<HDC, Dc> dcs;
  std::map<HWND, Surface> windows;
  uintptr_t next = kStockBitmap + 4;
};

Bitmap StockBitmap() {
  Bitmap b;
  b.width = b.height = 1;
  b.bpp = 1;
  b.px.assign(1, 0);
  b.stock = true;
  return b;
}

State& S() {
  static State* s = [] {
    auto* st = new State;
    st->bitmaps[(HGDIOBJ)kStockBitmap] = StockBitmap();
    OnReset([st] {
      st->bitmaps.clear();
      st->bitmaps[(HGDIOBJ)kStockBitmap] = StockBitmap();
      st->dcs.clear();
      st->windows.clear();
    });
    return st;
  }();
  return *s;
}

uintptr_t NextHandle() {
  uintptr_t h = S().next;
  S().next += 4;
  return h;
}

Bitmap* FindBitmap(HGDIOBJ h) {
  auto it = S().bitmaps.find(h);
  return it == S().bitmaps.end() ? nullptr : &it->second;
}

Dc* FindDc(HDC h) {
  auto it = S().dcs.find(h);
  return it == S().dcs.end() ? nullptr : &it->second;
}

COLORREF ToColorRef(uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }
uint32_t FromColorRef(COLORREF c) { return (uint32_t)GetRValue(c) << 16 | (uint32_t)GetGValue(c) << 8 | GetBValue(c); }

// A monochrome surface keeps white where the colour is nearer white, black elsewhere.
uint32_t Mono(uint32_t rgb) {
  unsigned sum = ((rgb >> 16) & 0xFF) + ((rgb >> 8) & 0xFF) + (rgb & 0xFF);
  return sum * 2 > 3 * 255 ? 0xFFFFFF : 0;
}

// The surface of a window; made, or resized keeping what overlaps, to the window's
// size. Null when the window is gone.
Surface* WindowSurface(HWND hwnd) {
  WindowView v;
  if (!ViewWindow(hwnd, &v)) return nullptr;
  int w = std::max<LONG>(0, v.screen.right - v.screen.left);
  int h = std::max<LONG>(0, v.screen.bottom - v.screen.top);
  if ((uint64_t)w * (uint64_t)h > kMaxPixels) w = h = 0;
  Surface& s = S().windows[hwnd];
  if (s.width != w || s.height != h) {
    std::vector<uint32_t> px((size_t)w * h, 0);
    for (int y = 0; y < std::min(h, s.height); ++y)
      for (int x = 0; x < std::min(w, s.width); ++x) px[(size_t)y * w + x] = s.px[(size_t)y * s.width + x];
    s.px.swap(px);
    s.width = w;
    s.height = h;
  }
  return &s;
}

// Windows are never reused, so surfaces of windows that are gone are simply dropped.
void DropDeadSurfaces() {
  auto& ws = S().windows;
  for (auto it = ws.begin(); it != ws.end();) {
    WindowView v;
    it = ViewWindow(it->first, &v) ? std::next(it) : ws.erase(it);
  }
}

struct View {
  uint32_t* px = nullptr;
  int width = 0;
  int height = 0;
  bool mono = false;
};

// Where a DC's drawing goes. Lock held.
bool ViewOf(HDC hdc, View* out) {
  Dc* dc = FindDc(hdc);
  if (!dc) return false;
  if (dc->kind == DcKind::kMemory) {
    Bitmap* b = FindBitmap(dc->bitmap ? (HGDIOBJ)dc->bitmap : (HGDIOBJ)kStockBitmap);
    if (!b) return false;
    *out = View{b->px.data(), b->width, b->height, b->bpp == 1};
    return true;
  }
  Surface* s = WindowSurface(dc->hwnd);
  if (!s) return false;
  *out = View{s->px.data(), s->width, s->height, false};
  return true;
}

HDC NewDc(const Dc& dc) {
  HDC h = (HDC)NextHandle();
  S().dcs[h] = dc;
  return h;
}

// ---- device-independent bitmaps (BITMAP resources) ----

uint32_t U32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
uint16_t U16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }

// A BITMAPINFOHEADER (or a later, longer header), its colour table and its pixels.
// Every size is checked against the data before a byte is read.
bool DecodeDib(const uint8_t* d, size_t n, Bitmap* out) {
  if (n < 40) return false;
  uint32_t headerSize = U32(d);
  int32_t width = (int32_t)U32(d + 4);
  int32_t height = (int32_t)U32(d + 8);
  uint16_t planes = U16(d + 12);
  uint16_t bpp = U16(d + 14);
  uint32_t compression = U32(d + 16);
  uint32_t clrUsed = U32(d + 32);
  if (headerSize < 40 || headerSize > n || planes != 1 || compression != BI_RGB) return false;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
  if (width <= 0 || height == 0 || height == INT32_MIN) return false;
  uint64_t rows = height < 0 ? (uint64_t)-(int64_t)height : (uint64_t)height;
  if ((uint64_t)width * rows > kMaxPixels) return false;
  uint64_t colours = bpp <= 8 ? (clrUsed ? clrUsed : 1u << bpp) : clrUsed;
  if (colours > 256 || (bpp <= 8 && colours > (1u << bpp))) return false;
  uint64_t stride = ((uint64_t)width * bpp + 31) / 32 * 4;
  uint64_t paletteAt = headerSize;
  uint64_t pixelsAt = paletteAt + colours * 4;
  if (pixelsAt + stride * rows > n) return false;

  std::vector<uint32_t> palette(bpp <= 8 ? colours : 0);
  for (size_t i = 0; i < palette.size(); ++i) {
    const uint8_t* q = d + paletteAt + 4 * i;
    palette[i] = (uint32_t)q[2] << 16 | (uint32_t)q[1] << 8 | q[0];
  }
  out->width = width;
  out->height = (int)rows;
  out->px.assign((size_t)width * rows, 0);
  for (uint64_t r = 0; r < rows; ++r) {
    const uint8_t* row = d + pixelsAt + stride * r;
    uint64_t y = height > 0 ? rows - 1 - r : r;  // positive height: bottom row first
    uint32_t* dst = &out->px[(size_t)(y * width)];
    for (int32_t x = 0; x < width; ++x) {
      uint32_t c = 0;
      if (bpp <= 8) {
        unsigned bit = (unsigned)x * bpp;
        unsigned index = (row[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
        // An index past the colour table is black, rather than a read past it.
        c = index < palette.size() ? palette[index] : 0;
      } else if (bpp == 16) {
        uint16_t v = U16(row + 2 * x);  // 5-5-5
        c = (uint32_t)(((v >> 10) & 31) * 255 / 31) << 16 | (uint32_t)(((v >> 5) & 31) * 255 / 31) << 8 |
            (uint32_t)((v & 31) * 255 / 31);
      } else {
        const uint8_t* p = row + (size_t)x * (bpp / 8);
        c = (uint32_t)p[2] << 16 | (uint32_t)p[1] << 8 | p[0];
      }
      dst[x] = c;
    }
  }
  // As LoadBitmap does: a two-colour black-and-white picture stays monochrome, any
  // other becomes a bitmap of the screen's kind.
  bool mono = bpp == 1 && palette.size() == 2 &&
              ((palette[0] == 0 && palette[1] == 0xFFFFFF) || (palette[0] == 0xFFFFFF && palette[1] == 0));
  out->bpp = mono ? 1 : 32;
  return true;
}

}  // namespace

bool DecodeIcon(const uint8_t* d, size_t n, int* width, int* height, std::vector<uint32_t>* argb) {
  // The header's height counts the colour image and the AND mask below it.
  if (n < 40) return false;
  std::vector<uint8_t> colour(d, d + n);
  int32_t both = (int32_t)U32(d + 8);
  if (both <= 0 || both % 2) return false;
  int32_t rows = both / 2;
  colour[8] = (uint8_t)rows, colour[9] = (uint8_t)(rows >> 8), colour[10] = (uint8_t)(rows >> 16), colour[11] = (uint8_t)(rows >> 24);
  Bitmap b;
  if (!DecodeDib(colour.data(), n, &b)) return false;
  uint32_t headerSize = U32(d);
  uint16_t bpp = U16(d + 14);
  uint32_t clrUsed = U32(d + 32);
  uint64_t colours = bpp <= 8 ? (clrUsed ? clrUsed : 1u << bpp) : clrUsed;
  uint64_t stride = ((uint64_t)b.width * bpp + 31) / 32 * 4;
  uint64_t pixelsAt = headerSize + colours * 4;
  uint64_t maskAt = pixelsAt + stride * rows;
  uint64_t maskStride = ((uint64_t)b.width + 31) / 32 * 4;
  if (maskAt + maskStride * rows > n) return false;
  // A 32-bit image with any alpha in it is its own mask, as Windows draws it.
  bool alpha = false;
  if (bpp == 32)
    for (int32_t y = 0; y < rows && !alpha; ++y)
      for (int32_t x = 0; x < b.width && !alpha; ++x) alpha = d[pixelsAt + stride * y + 4 * x + 3] != 0;
  argb->assign((size_t)b.width * rows, 0);
  for (int32_t y = 0; y < rows; ++y) {
    uint64_t from = (uint64_t)(rows - 1 - y);  // bottom row first
    for (int32_t x = 0; x < b.width; ++x) {
      uint32_t a;
      if (alpha) a = d[pixelsAt + stride * from + 4 * x + 3];
      else a = (d[maskAt + maskStride * from + x / 8] >> (7 - x % 8)) & 1 ? 0 : 0xFF;
      uint32_t rgb = b.px[(size_t)y * b.width + x];
      (*argb)[(size_t)y * b.width + x] = a << 24 | (a ? rgb : 0);
    }
  }
  *width = b.width;
  *height = rows;
  return true;
}

namespace {

int WidthBytes(const Bitmap& b) { return (b.width * b.bpp + 15) / 16 * 2; }

// ---- composing what windows show ----

void Compose(HWND hwnd, const RECT& clip, int originX, int originY, std::vector<uint32_t>* px, int width,
             bool self) {
  WindowView v;
  if (!ViewWindow(hwnd, &v) || (!self && !v.shown)) return;
  RECT r{std::max(clip.left, v.screen.left), std::max(clip.top, v.screen.top),
         std::min(clip.right, v.screen.right), std::min(clip.bottom, v.screen.bottom)};
  if (r.left >= r.right || r.top >= r.bottom) return;
  auto it = S().windows.find(hwnd);
  if (it != S().windows.end()) {
    const Surface& s = it->second;
    for (LONG y = r.top; y < r.bottom; ++y)
      for (LONG x = r.left; x < r.right; ++x) {
        LONG sx = x - v.screen.left, sy = y - v.screen.top;
        if (sx < s.width && sy < s.height)
          (*px)[(size_t)(y - originY) * width + (x - originX)] = s.px[(size_t)sy * s.width + sx];
      }
  }
  // Children lie above their parent, and the first made above its later siblings.
  std::vector<HWND> children = ChildrenOf(hwnd);
  for (auto c = children.rbegin(); c != children.rend(); ++c) Compose(*c, r, originX, originY, px, width, false);
}

}  // namespace

bool DeleteSurfaceObject(HGDIOBJ obj, BOOL* result) {
  Bitmap* b = FindBitmap(obj);
  if (!b) return false;
  // A bitmap still selected into a DC is not deleted: FALSE, and it stays usable.
  if (b->selectedIn) {
    *result = FALSE;
    return true;
  }
  if (!b->stock) S().bitmaps.erase(obj);
  *result = TRUE;
  return true;
}

bool SurfaceObjectInfo(HGDIOBJ obj, int size, LPVOID buf, int* result) {
  Bitmap* b = FindBitmap(obj);
  if (!b) return false;
  if (!buf) {
    *result = (int)sizeof(BITMAP);
  } else if (size < (int)sizeof(BITMAP)) {
    *result = 0;  // a part of the record is not given, as Windows does for bitmaps
  } else {
    BITMAP bm{0, b->width, b->height, WidthBytes(*b), 1, (WORD)b->bpp, nullptr};
    memcpy(buf, &bm, sizeof bm);
    *result = (int)sizeof(BITMAP);
  }
  return true;
}

int LiveSurfaceObjects() {
  int n = (int)S().dcs.size();
  for (auto& [h, b] : S().bitmaps) n += b.stock ? 0 : 1;
  return n;
}

}  // namespace sim

using namespace sim;

// ---- device contexts ---------------------------------------------------------------

HDC WINAPI GetDC(HWND hwnd) {
  Lock lk(Mu());
  WindowView v;
  if (!hwnd || !ViewWindow(hwnd, &v)) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  DropDeadSurfaces();
  Dc dc;
  dc.kind = DcKind::kWindow;
  dc.hwnd = hwnd;
  return NewDc(dc);
}

int WINAPI ReleaseDC(HWND hwnd, HDC hdc) {
  Lock lk(Mu());
  Dc* dc = FindDc(hdc);
  // As on Windows, the DC decides which window's it is; hwnd is not checked.
  (void)hwnd;
  if (!dc || dc->kind != DcKind::kWindow) return 0;
  S().dcs.erase(hdc);
  ScreenChanged();
  return 1;
}

HDC WINAPI BeginPaint(HWND hwnd, LPPAINTSTRUCT ps) {
  HDC hdc;
  bool erase = false;
  {
    Lock lk(Mu());
    WindowView v;
    if (!ps) {
      SetError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    if (!ViewWindow(hwnd, &v) || !TakePaint(hwnd, &erase)) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    DropDeadSurfaces();
    Dc dc;
    dc.kind = DcKind::kPaint;
    dc.hwnd = hwnd;
    hdc = NewDc(dc);
    memset(ps, 0, sizeof *ps);
    ps->hdc = hdc;
    // The whole window is repainted: the sim keeps no finer update region.
    ps->rcPaint = RECT{0, 0, v.screen.right - v.screen.left, v.screen.bottom - v.screen.top};
  }
  // fErase tells the caller the background is still to be erased: the window's
  // procedure did not do it.
  if (erase) ps->fErase = SendMessageW(hwnd, WM_ERASEBKGND, (WPARAM)hdc, 0) == 0;
  return hdc;
}

BOOL WINAPI EndPaint(HWND hwnd, const PAINTSTRUCT* ps) {
  Lock lk(Mu());
  if (!ps) return TRUE;
  Dc* dc = FindDc(ps->hdc);
  (void)hwnd;
  if (dc && dc->kind == DcKind::kPaint) S().dcs.erase(ps->hdc);
  ScreenChanged();
  return TRUE;
}

HDC WINAPI CreateCompatibleDC(HDC hdc) {
  Lock lk(Mu());
  if (hdc && !FindDc(hdc)) {
    SetError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return NewDc(Dc{});
}

BOOL WINAPI DeleteDC(HDC hdc) {
  Lock lk(Mu());
  Dc* dc = FindDc(hdc);
  // Window DCs go back with ReleaseDC or EndPaint.
  if (!dc || dc->kind != DcKind::kMemory) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (Bitmap* b = FindBitmap(dc->bitmap)) b->selectedIn = nullptr;
  S().dcs.erase(hdc);
  return TRUE;
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int width, int height) {
  Lock lk(Mu());
  Dc* dc = FindDc(hdc);
  if (!dc) {
    SetError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // Windows hands back a 1 x 1 monochrome bitmap for an empty size; here it is refused.
  if (width <= 0 || height <= 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if ((uint64_t)width * (uint64_t)height > kMaxPixels) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Bitmap b;
  b.width = width;
  b.height = height;
  // Compatible with a memory DC means with the bitmap in it: monochrome for a fresh one.
  if (dc->kind == DcKind::kMemory) {
    Bitmap* in = FindBitmap(dc->bitmap ? (HGDIOBJ)dc->bitmap : (HGDIOBJ)kStockBitmap);
    b.bpp = in ? in->bpp : 1;
  }
  b.px.assign((size_t)width * height, 0);
  HBITMAP h = (HBITMAP)NextHandle();
  S().bitmaps[h] = std::move(b);
  return h;
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ obj) {
  Lock lk(Mu());
  Dc* dc = FindDc(hdc);
  if (!dc) {
    SetError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (Bitmap* b = FindBitmap(obj)) {
    // A bitmap goes only into a memory DC, and into one DC at a time.
    if (dc->kind != DcKind::kMemory || (!b->stock && b->selectedIn && b->selectedIn != hdc)) {
      SetError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    HGDIOBJ prev = dc->bitmap ? (HGDIOBJ)dc->bitmap : (HGDIOBJ)kStockBitmap;
    if (Bitmap* p = FindBitmap(prev)) p->selectedIn = nullptr;
    if (!b->stock) b->selectedIn = hdc;
    dc->bitmap = b->stock ? nullptr : (HBITMAP)obj;
    return prev;
  }
  GdiSlot slot = SlotOf(obj);
  if (slot == kNoSlot) {
    SetError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  static const int kDefaults[] = {SYSTEM_FONT, WHITE_BRUSH, BLACK_PEN};
  HGDIOBJ prev = dc->slots[slot] ? dc->slots[slot] : StockObjectLocked(kDefaults[slot]);
  dc->slots[slot] = obj;
  return prev;
}

// ---- drawing -----------------------------------------------------------------------

BOOL WINAPI BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop) {
  Lock lk(Mu());
  if (rop != SRCCOPY && rop != BLACKNESS && rop != WHITENESS) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  View to, from;
  if (!ViewOf(dst, &to) || (rop == SRCCOPY && !ViewOf(src, &from))) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (width <= 0 || height <= 0) return TRUE;
  // Only pixels inside the destination, and for a copy inside the source, are touched.
  int64_t i0 = std::max<int64_t>(0, -(int64_t)x), j0 = std::max<int64_t>(0, -(int64_t)y);
  int64_t i1 = std::min<int64_t>(width, (int64_t)to.width - x);
  int64_t j1 = std::min<int64_t>(height, (int64_t)to.height - y);
  if (rop == SRCCOPY) {
    i0 = std::max<int64_t>(i0, -(int64_t)srcX);
    j0 = std::max<int64_t>(j0, -(int64_t)srcY);
    i1 = std::min<int64_t>(i1, (int64_t)from.width - srcX);
    j1 = std::min<int64_t>(j1, (int64_t)from.height - srcY);
  }
  if (i0 >= i1 || j0 >= j1) return TRUE;
  // Read the source whole first: source and destination may be the same surface.
  std::vector<uint32_t> block((size_t)((i1 - i0) * (j1 - j0)), rop == WHITENESS ? 0xFFFFFF : 0);
  if (rop == SRCCOPY)
    for (int64_t j = j0; j < j1; ++j)
      for (int64_t i = i0; i < i1; ++i)
        block[(size_t)((j - j0) * (i1 - i0) + (i - i0))] = from.px[(size_t)((srcY + j) * from.width + srcX + i)];
  for (int64_t j = j0; j < j1; ++j)
    for (int64_t i = i0; i < i1; ++i) {
      uint32_t c = block[(size_t)((j - j0) * (i1 - i0) + (i - i0))];
      to.px[(size_t)((y + j) * to.width + x + i)] = to.mono ? Mono(c) : c;
    }
  return TRUE;
}

COLORREF WINAPI GetPixel(HDC hdc, int x, int y) {
  Lock lk(Mu());
  View v;
  if (!ViewOf(hdc, &v) || x < 0 || y < 0 || x >= v.width || y >= v.height) return CLR_INVALID;
  return ToColorRef(v.px[(size_t)y * v.width + x]);
}

COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color) {
  Lock lk(Mu());
  View v;
  if (!ViewOf(hdc, &v) || x < 0 || y < 0 || x >= v.width || y >= v.height) return CLR_INVALID;
  uint32_t c = FromColorRef(color);
  if (v.mono) c = Mono(c);
  v.px[(size_t)y * v.width + x] = c;
  return ToColorRef(c);
}

int WINAPI FillRect(HDC hdc, const RECT* rect, HBRUSH brush) {
  Lock lk(Mu());
  View v;
  if (!rect || !ViewOf(hdc, &v)) {
    SetError(ERROR_INVALID_HANDLE);
    return 0;
  }
  uint32_t c;
  if (!BrushColor(brush, &c)) {
    if (SlotOf(brush) == kBrushSlot) return 1;  // the hollow brush paints nothing
    SetError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (v.mono) c = Mono(c);
  LONG left = std::max<LONG>(rect->left, 0), top = std::max<LONG>(rect->top, 0);
  LONG right = std::min<LONG>(rect->right, v.width), bottom = std::min<LONG>(rect->bottom, v.height);
  for (LONG y = top; y < bottom; ++y)
    for (LONG x = left; x < right; ++x) v.px[(size_t)y * v.width + x] = c;
  return 1;
}

// ---- bitmaps from resources --------------------------------------------------------

HBITMAP WINAPI LoadBitmapW(HINSTANCE instance, LPCWSTR name) {
  // A null instance asks for the system's own bitmaps, which the handheld's sim lacks.
  if (!instance) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  std::vector<uint8_t> data;
  if (!ResourceBytes(instance, RT_BITMAP, name, &data)) return nullptr;
  Bitmap b;
  if (!DecodeDib(data.data(), data.size(), &b)) {
    // The same error the sim gives for a broken icon resource.
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  Lock lk(Mu());
  HBITMAP h = (HBITMAP)NextHandle();
  S().bitmaps[h] = std::move(b);
  return h;
}

// ---- the bench's eyes --------------------------------------------------------------

namespace bench {

uint32_t Pixels::At(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return 0xFFFFFFFF;
  return rgb[(size_t)y * width + x];
}

Pixels WindowPixels(HWND hwnd) {
  Lock lk(Mu());
  Pixels p;
  WindowView v;
  if (!ViewWindow(hwnd, &v)) return p;
  p.width = std::max<LONG>(0, v.screen.right - v.screen.left);
  p.height = std::max<LONG>(0, v.screen.bottom - v.screen.top);
  if ((uint64_t)p.width * (uint64_t)p.height > kMaxPixels) p.width = p.height = 0;
  p.rgb.assign((size_t)p.width * p.height, 0);
  Compose(hwnd, v.screen, v.screen.left, v.screen.top, &p.rgb, p.width, true);
  return p;
}

Pixels ScreenPixels() {
  Lock lk(Mu());
  Pixels p;
  p.width = kScreenWidth;
  p.height = kScreenHeight;
  p.rgb.assign((size_t)p.width * p.height, 0);
  RECT screen{0, 0, kScreenWidth, kScreenHeight};
  std::vector<HWND> tops = TopLevelZOrder();
  for (auto it = tops.rbegin(); it != tops.rend(); ++it) Compose(*it, screen, 0, 0, &p.rgb, p.width, false);
  return p;
}

bool SavePng(const Pixels& pixels, const std::string& path) {
  if (pixels.width <= 0 || pixels.height <= 0 || pixels.rgb.size() != (size_t)pixels.width * pixels.height)
    return false;
  std::vector<uint8_t> bytes(pixels.rgb.size() * 3);
  for (size_t i = 0; i < pixels.rgb.size(); ++i) {
    bytes[3 * i] = (uint8_t)(pixels.rgb[i] >> 16);
    bytes[3 * i + 1] = (uint8_t)(pixels.rgb[i] >> 8);
    bytes[3 * i + 2] = (uint8_t)pixels.rgb[i];
  }
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = (png_uint_32)pixels.width;
  image.height = (png_uint_32)pixels.height;
  image.format = PNG_FORMAT_RGB;
  bool ok = png_image_write_to_file(&image, path.c_str(), 0, bytes.data(), 0, nullptr) != 0;
  png_image_free(&image);
  return ok;
}

int OpenWindowDCs() {
  Lock lk(Mu());
  int n = 0;
  for (auto& [h, dc] : S().dcs) n += dc.kind != DcKind::kMemory ? 1 : 0;
  return n;
}

}  // namespace bench
