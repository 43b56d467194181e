// What the GDI parts of the simulated handheld need from each other and from the
// window manager: font.cpp keeps fonts, brushes and pens; gdi.cpp keeps bitmaps,
// device contexts and the windows' pixels. Not for program code or tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "win32.h"

namespace sim {

// ---- font.cpp (lock held) ----
// The DC slot an object goes into: font, brush or pen; -1 when it is none of these.
enum GdiSlot { kNoSlot = -1, kFontSlot = 0, kBrushSlot = 1, kPenSlot = 2 };
GdiSlot SlotOf(HGDIOBJ obj);
HGDIOBJ StockObjectLocked(int id);
// The colour (0xRRGGBB) a brush paints; false for no brush or a hollow one.
bool BrushColor(HGDIOBJ brush, uint32_t* rgb);

// ---- gdi.cpp (lock held) ----
// DeleteObject and GetObjectW for handles that are not font.cpp's: false when the
// handle is not a bitmap or DC either.
bool DeleteSurfaceObject(HGDIOBJ obj, BOOL* result);
bool SurfaceObjectInfo(HGDIOBJ obj, int size, LPVOID buf, int* result);
int LiveSurfaceObjects();
// An RT_ICON image (a DIB whose height counts the AND mask too) as 0xAARRGGBB, alpha 0
// where the mask leaves it transparent. False for data that is not one.
bool DecodeIcon(const uint8_t* data, size_t size, int* width, int* height, std::vector<uint32_t>* argb);

// ---- window.cpp (lock held) ----
// BeginPaint validates the window: false when there is none. *erase: whether the
// background is still to be erased (cleared here).
bool TakePaint(HWND hwnd, bool* erase);

}  // namespace sim
