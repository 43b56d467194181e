// The bench's eyes on the handheld's pixels: what a window shows, what the screen
// shows, as 0xRRGGBB values, and PNG files of either. Host builds only.
//
// Each window keeps the pixels drawn into it; the screen is composed from the shown
// windows in z-order when asked (topmost last), on black where no window lies. A hidden
// window keeps its pixels, the screen just does not show them; a destroyed window's
// pixels are gone. A window shows black until something paints it.
//
// GDI objects: bench::LiveGdiObjects() (bench_ui.h) counts every one the program made
// and has not deleted: fonts, bitmaps and device contexts, window DCs not yet given
// back included.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench_ui.h"
#include "platform/platform.h"

namespace bench {

struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> rgb;  // 0xRRGGBB, rows top to bottom
  // One pixel; 0xFFFFFFFF outside.
  uint32_t At(int x, int y) const;
};

// A window as it would look with nothing over it: its own pixels with its shown
// children on top. Empty (0 x 0) when there is no such window.
Pixels WindowPixels(HWND hwnd);
// The whole 240 x 320 screen.
Pixels ScreenPixels();
// Writes an 8-bit RGB PNG; false when the picture is empty or the file cannot be written.
bool SavePng(const Pixels& pixels, const std::string& path);

// DCs from GetDC and BeginPaint not yet given back with ReleaseDC or EndPaint.
int OpenWindowDCs();

}  // namespace bench
