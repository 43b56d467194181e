// GDI objects of the simulated handheld: fonts and the stock objects. Every object
// made by the program counts as live until DeleteObject, so tests can find leaks.
// Bitmaps and device contexts live in gdi.cpp; DeleteObject and GetObjectW hand
// their handles over there.
#include <cstring>
#include <map>

#include "bench_ui.h"
#include "core.h"
#include "dlg_internal.h"
#include "gdi_internal.h"

namespace sim {
namespace {

enum class GdiKind { kFont, kBrush, kPen };

struct GdiObj {
  GdiKind kind;
  bool stock = false;
  LOGFONTW font{};
};

struct Gdi {
  std::map<HGDIOBJ, GdiObj> objects;
  uintptr_t next = 0x90000;
};

// Stock objects have fixed handles below the ones handed out, so they outlive resets.
constexpr uintptr_t kStockBase = 0x8F000;
constexpr int kStockCount = 18;

Gdi& G() {
  static Gdi* g = [] {
    auto* gdi = new Gdi;
    OnReset([gdi] {
      for (auto it = gdi->objects.begin(); it != gdi->objects.end();)
        it = it->second.stock ? std::next(it) : gdi->objects.erase(it);
    });
    return gdi;
  }();
  return *g;
}

void StockFont(LOGFONTW* f, int id) {
  memset(f, 0, sizeof *f);
  f->lfHeight = id == SYSTEM_FONT ? 16 : -11;
  f->lfWeight = id == SYSTEM_FONT ? FW_BOLD : FW_NORMAL;
  const WCHAR* face = id == SYSTEM_FONT ? L"System" : L"Tahoma";
  wcsncpy(f->lfFaceName, face, LF_FACESIZE - 1);
}

const GdiObj* Find(HGDIOBJ h) {
  auto it = G().objects.find(h);
  return it == G().objects.end() ? nullptr : &it->second;
}

}  // namespace

GdiSlot SlotOf(HGDIOBJ obj) {
  const GdiObj* o = Find(obj);
  if (!o) return kNoSlot;
  return o->kind == GdiKind::kFont ? kFontSlot : o->kind == GdiKind::kBrush ? kBrushSlot : kPenSlot;
}

HGDIOBJ StockObjectLocked(int id) {
  bool font = id == SYSTEM_FONT || id == DEFAULT_GUI_FONT;
  bool brush = id >= WHITE_BRUSH && id <= NULL_BRUSH;
  bool pen = id >= WHITE_PEN && id <= NULL_PEN;
  if (!font && !brush && !pen) return nullptr;  // ids the handheld does not have
  HGDIOBJ h = (HGDIOBJ)(kStockBase + 4 * (uintptr_t)id);
  static_assert(kStockBase + 4 * kStockCount < 0x90000, "stock handles below made ones");
  auto& objs = G().objects;
  if (!objs.count(h)) {
    GdiObj o{font ? GdiKind::kFont : brush ? GdiKind::kBrush : GdiKind::kPen, true};
    if (font) StockFont(&o.font, id);
    objs[h] = o;
  }
  return h;
}

bool BrushColor(HGDIOBJ brush, uint32_t* rgb) {
  const GdiObj* o = Find(brush);
  if (!o || o->kind != GdiKind::kBrush) return false;
  // Only stock brushes exist; their handle says which.
  static const uint32_t kStockColours[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0x000000};
  uintptr_t id = ((uintptr_t)brush - kStockBase) / 4;
  if (id >= sizeof kStockColours / sizeof kStockColours[0]) return false;  // NULL_BRUSH
  *rgb = kStockColours[id];
  return true;
}

bool FontFace(HFONT font, std::wstring* face, LONG* height) {
  const GdiObj* o = Find(font);
  if (!o || o->kind != GdiKind::kFont) return false;
  if (face) *face = o->font.lfFaceName;
  if (height) *height = o->font.lfHeight;
  return true;
}

}  // namespace sim

using namespace sim;

HFONT WINAPI CreateFontIndirectW(const LOGFONTW* font) {
  Lock lk(Mu());
  if (!font) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  GdiObj o{GdiKind::kFont};
  o.font = *font;
  o.font.lfFaceName[LF_FACESIZE - 1] = 0;  // a face name without its end is cut, as on Windows
  HGDIOBJ h = (HGDIOBJ)G().next;
  G().next += 4;
  G().objects[h] = o;
  return (HFONT)h;
}

HGDIOBJ WINAPI GetStockObject(int id) {
  Lock lk(Mu());
  return StockObjectLocked(id);
}

BOOL WINAPI DeleteObject(HGDIOBJ obj) {
  Lock lk(Mu());
  auto& objs = G().objects;
  auto it = objs.find(obj);
  if (it == objs.end()) {
    BOOL done;
    if (DeleteSurfaceObject(obj, &done)) return done;
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Deleting a stock object is allowed and does nothing.
  if (!it->second.stock) objs.erase(it);
  return TRUE;
}

int WINAPI GetObjectW(HGDIOBJ obj, int size, LPVOID buf) {
  Lock lk(Mu());
  const GdiObj* o = Find(obj);
  int bitmapSize;
  if (!o && SurfaceObjectInfo(obj, size, buf, &bitmapSize)) return bitmapSize;
  if (!o || o->kind != GdiKind::kFont) {
    SetError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (!buf) return (int)sizeof(LOGFONTW);
  if (size <= 0) return 0;
  int n = size < (int)sizeof(LOGFONTW) ? size : (int)sizeof(LOGFONTW);
  memcpy(buf, &o->font, (size_t)n);
  return n;
}

namespace bench {
int LiveGdiObjects() {
  Lock lk(Mu());
  int n = 0;
  // A dialog's template font counts while the dialog lives, so its deletion is checked too.
  for (auto& [h, o] : G().objects) n += o.stock ? 0 : 1;
  return n + LiveSurfaceObjects();
}
}  // namespace bench
