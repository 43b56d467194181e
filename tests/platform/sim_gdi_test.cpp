// The simulated handheld's GDI as the bench sees it: window and screen pixels, PNG
// files, leaks over many paints, two threads drawing into one window, broken bitmaps.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_gdi.h"

namespace {

HMODULE gLib = nullptr;
std::atomic<int> gPaints{0};

// Draws the picture as the character picker does on WM_PAINT.
void Blit(HDC dc, HBITMAP picture) {
  HDC mem = CreateCompatibleDC(dc);
  BITMAP bm;
  GetObjectW(picture, sizeof bm, &bm);
  SelectObject(mem, picture);
  BitBlt(dc, 0, 0, bm.bmWidth, bm.bmHeight, mem, 0, 0, SRCCOPY);
  DeleteDC(mem);
}

LRESULT CALLBACK PictureProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      ++gPaints;
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      // A fresh bitmap each time, deleted after, as the picker does.
      HBITMAP bmp = LoadBitmapW(gLib, MAKEINTRESOURCEW(303));
      Blit(dc, bmp);
      DeleteObject(bmp);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

class SimPixels : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bench::Reset());
    gLib = LoadLibraryW(L"gditest.dll");
    ASSERT_NE(gLib, nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = PictureProc;
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = L"SimGdiPicture";
    ASSERT_NE(RegisterClassW(&wc), 0);
    wc.lpfnWndProc = DefWindowProcW;
    wc.hbrBackground = (HBRUSH)GetStockObject(GRAY_BRUSH);
    wc.lpszClassName = L"SimGdiGrey";
    ASSERT_NE(RegisterClassW(&wc), 0);
    gPaints = 0;
  }
  void TearDown() override {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    FreeLibrary(gLib);
    EXPECT_TRUE(bench::Reset());
  }
  static void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  static HWND Make(LPCWSTR cls, DWORD style, int x, int y, int w, int h, HWND parent = nullptr) {
    return CreateWindowExW(0, cls, L"", style, x, y, w, h, parent, nullptr, nullptr, nullptr);
  }
};

const uint32_t kPicture[3][5] = {{0x123456, 0xFFFFFF, 0x808000, 0x000000, 0x123456},
                                 {0x808000, 0x808000, 0x808000, 0x808000, 0x808000},
                                 {0x000000, 0x123456, 0xFFFFFF, 0x808000, 0x000000}};

TEST_F(SimPixels, WindowPixelsShowThePaintedPictureOnItsBackground) {
  HWND hwnd = Make(L"SimGdiPicture", WS_POPUP | WS_VISIBLE, 10, 20, 7, 4);
  ASSERT_NE(hwnd, nullptr);
  Pump();
  bench::Pixels p = bench::WindowPixels(hwnd);
  ASSERT_EQ(p.width, 7);
  ASSERT_EQ(p.height, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 7; ++x)
      EXPECT_EQ(p.At(x, y), x < 5 && y < 3 ? kPicture[y][x] : 0xFFFFFFu) << x << "," << y;
  EXPECT_EQ(p.At(7, 0), 0xFFFFFFFFu);  // outside
  bench::Pixels screen = bench::ScreenPixels();
  ASSERT_EQ(screen.width, 240);
  ASSERT_EQ(screen.height, 320);
  EXPECT_EQ(screen.At(10, 20), 0x123456u);
  EXPECT_EQ(screen.At(14, 22), 0x000000u);
  EXPECT_EQ(screen.At(16, 23), 0xFFFFFFu);
  EXPECT_EQ(screen.At(9, 20), 0x000000u);  // no window there
  DestroyWindow(hwnd);
}

TEST_F(SimPixels, ScreenShowsShownWindowsInZOrder) {
  HWND below = Make(L"SimGdiGrey", WS_POPUP | WS_VISIBLE, 0, 0, 20, 20);
  HWND above = Make(L"SimGdiPicture", WS_POPUP | WS_VISIBLE, 5, 5, 10, 10);  // made later: on top
  HWND child = Make(L"SimGdiGrey", WS_CHILD | WS_VISIBLE, 8, 0, 6, 2, above);  // clipped to its parent
  ASSERT_TRUE(below && above && child);
  Pump();
  bench::Pixels s = bench::ScreenPixels();
  EXPECT_EQ(s.At(0, 0), 0x808080u);
  EXPECT_EQ(s.At(5, 5), 0x123456u);
  EXPECT_EQ(s.At(14, 8), 0xFFFFFFu);
  EXPECT_EQ(s.At(13, 5), 0x808080u);  // the child over its parent's picture
  EXPECT_EQ(s.At(15, 5), 0x808080u);  // past the parent: the window below
  EXPECT_EQ(bench::WindowPixels(above).At(8, 0), 0x808080u);

  // Hidden: the screen shows what lies beneath; the window keeps its pixels.
  ShowWindow(above, SW_HIDE);
  s = bench::ScreenPixels();
  EXPECT_EQ(s.At(5, 5), 0x808080u);
  EXPECT_EQ(bench::WindowPixels(above).At(0, 0), 0x123456u);
  // The window below is brought forward.
  ShowWindow(above, SW_SHOW);
  Pump();
  SetForegroundWindow(below);
  EXPECT_EQ(bench::ScreenPixels().At(5, 5), 0x808080u);
  SetForegroundWindow(above);
  EXPECT_EQ(bench::ScreenPixels().At(5, 5), 0x123456u);
  DestroyWindow(above);
  EXPECT_EQ(bench::WindowPixels(above).width, 0);
  EXPECT_EQ(bench::ScreenPixels().At(5, 5), 0x808080u);
  DestroyWindow(below);
  EXPECT_EQ(bench::ScreenPixels().At(0, 0), 0x000000u);
}

bool ReadPng(const std::string& path, int* width, int* height, std::vector<uint8_t>* rgb) {
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  rgb->resize(PNG_IMAGE_SIZE(image));
  *width = (int)image.width;
  *height = (int)image.height;
  return png_image_finish_read(&image, nullptr, rgb->data(), 0, nullptr) != 0;
}

TEST_F(SimPixels, PngHoldsWhatTheWindowAndTheScreenShow) {
  HWND hwnd = Make(L"SimGdiPicture", WS_POPUP | WS_VISIBLE, 100, 200, 6, 3);
  ASSERT_NE(hwnd, nullptr);
  Pump();
  std::string dir = ::testing::TempDir();
  std::string windowPng = dir + "sim_gdi_window_" + std::to_string(getpid()) + ".png";
  std::string screenPng = dir + "sim_gdi_screen_" + std::to_string(getpid()) + ".png";
  bench::Pixels shown = bench::WindowPixels(hwnd);
  ASSERT_TRUE(bench::SavePng(shown, windowPng));
  ASSERT_TRUE(bench::SavePng(bench::ScreenPixels(), screenPng));

  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  ASSERT_TRUE(ReadPng(windowPng, &w, &h, &rgb));
  ASSERT_EQ(w, 6);
  ASSERT_EQ(h, 3);
  for (int i = 0; i < w * h; ++i) {
    uint32_t c = (uint32_t)rgb[3 * i] << 16 | (uint32_t)rgb[3 * i + 1] << 8 | rgb[3 * i + 2];
    EXPECT_EQ(c, shown.rgb[i]) << i;
  }
  EXPECT_EQ(rgb[0], 0x12);  // the picture's first pixel, byte by byte
  EXPECT_EQ(rgb[1], 0x34);
  EXPECT_EQ(rgb[2], 0x56);
  ASSERT_TRUE(ReadPng(screenPng, &w, &h, &rgb));
  EXPECT_EQ(w, 240);
  EXPECT_EQ(h, 320);
  size_t at = 3 * (size_t)(200 * 240 + 101);
  EXPECT_EQ(rgb[at], 0xFF);  // (101, 200): white in the picture
  EXPECT_EQ(rgb[at + 1], 0xFF);
  EXPECT_EQ(rgb[at + 2], 0xFF);
  EXPECT_EQ(rgb[3 * (size_t)(200 * 240 + 105)], 0xFF);  // the background beside it

  EXPECT_FALSE(bench::SavePng(bench::Pixels{}, dir + "sim_gdi_empty.png"));
  EXPECT_FALSE(bench::SavePng(shown, "/nonexistent-folder/x.png"));
  std::remove(windowPng.c_str());
  std::remove(screenPng.c_str());
  DestroyWindow(hwnd);
}

TEST_F(SimPixels, ThousandPaintsLeaveNoObjectBehind) {
  HWND hwnd = Make(L"SimGdiPicture", WS_POPUP | WS_VISIBLE, 0, 26, 240, 114);
  ASSERT_NE(hwnd, nullptr);
  Pump();
  EXPECT_EQ(bench::LiveGdiObjects(), 0);
  HBITMAP picture = LoadBitmapW(gLib, MAKEINTRESOURCEW(304));
  ASSERT_NE(picture, nullptr);
  for (int i = 0; i < 1000; ++i) {
    InvalidateRect(hwnd, nullptr, i % 2);
    Pump();
    // And from outside WM_PAINT, as the reader thread redraws the picker.
    HDC dc = GetDC(hwnd);
    Blit(dc, picture);
    ReleaseDC(hwnd, dc);
  }
  EXPECT_EQ(gPaints, 1001);
  EXPECT_EQ(bench::LiveGdiObjects(), 1);  // the picture
  EXPECT_EQ(bench::OpenWindowDCs(), 0);
  EXPECT_TRUE(DeleteObject(picture));
  EXPECT_EQ(bench::LiveGdiObjects(), 0);
  DestroyWindow(hwnd);
}

TEST_F(SimPixels, LeakedObjectsAndDcsAreCounted) {
  HWND hwnd = Make(L"SimGdiGrey", WS_POPUP, 0, 0, 4, 4);
  ASSERT_NE(hwnd, nullptr);
  HDC dc = GetDC(hwnd);
  HDC mem = CreateCompatibleDC(dc);
  HBITMAP bmp = LoadBitmapW(gLib, MAKEINTRESOURCEW(301));
  ASSERT_TRUE(dc && mem && bmp);
  EXPECT_EQ(bench::LiveGdiObjects(), 3);
  EXPECT_EQ(bench::OpenWindowDCs(), 1);
  // A bitmap cannot go into a window's DC.
  EXPECT_EQ(SelectObject(dc, bmp), nullptr);
  EXPECT_EQ(DeleteDC(dc), FALSE);  // window DCs go back with ReleaseDC
  EXPECT_EQ(ReleaseDC(hwnd, dc), 1);
  EXPECT_EQ(bench::OpenWindowDCs(), 0);
  SelectObject(mem, bmp);
  EXPECT_FALSE(DeleteObject(bmp));  // still selected
  EXPECT_EQ(bench::LiveGdiObjects(), 2);
  EXPECT_TRUE(DeleteDC(mem));
  EXPECT_TRUE(DeleteObject(bmp));
  EXPECT_EQ(bench::LiveGdiObjects(), 0);
  EXPECT_FALSE(DeleteObject(bmp));  // gone
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
  DestroyWindow(hwnd);
}

TEST_F(SimPixels, OnlyCopyBlacknessAndWhitenessAreDrawn) {
  HWND hwnd = Make(L"SimGdiGrey", WS_POPUP | WS_VISIBLE, 0, 0, 4, 4);
  Pump();
  HDC dc = GetDC(hwnd);
  for (DWORD rop : {(DWORD)SRCPAINT, (DWORD)SRCAND, (DWORD)SRCINVERT, (DWORD)PATCOPY, (DWORD)DSTINVERT, 0u}) {
    SetLastError(0);
    EXPECT_FALSE(BitBlt(dc, 0, 0, 4, 4, dc, 0, 0, rop)) << rop;
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(bench::WindowPixels(hwnd).At(0, 0), 0x808080u);
  // Onto itself, overlapping: the source is read before it is overwritten.
  SetPixel(dc, 0, 0, RGB(1, 2, 3));
  EXPECT_TRUE(BitBlt(dc, 1, 0, 3, 1, dc, 0, 0, SRCCOPY));
  EXPECT_EQ(GetPixel(dc, 1, 0), RGB(1, 2, 3));
  EXPECT_EQ(GetPixel(dc, 2, 0), RGB(0x80, 0x80, 0x80));
  // Sizes that overflow an int when added to the origin copy nothing and crash nothing.
  EXPECT_TRUE(BitBlt(dc, 0x7FFFFFF0, 0x7FFFFFF0, 0x7FFFFFFF, 0x7FFFFFFF, dc, 0, 0, SRCCOPY));
  EXPECT_TRUE(BitBlt(dc, -0x7FFFFFFF, 0, 0x7FFFFFFF, 1, dc, 0, 0, SRCCOPY));
  EXPECT_FALSE(BitBlt(nullptr, 0, 0, 1, 1, dc, 0, 0, SRCCOPY));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
  ReleaseDC(hwnd, dc);
  DestroyWindow(hwnd);
  // A DC of a window that is gone draws nowhere.
  EXPECT_EQ(GetPixel(dc, 0, 0), CLR_INVALID);
}

TEST_F(SimPixels, BrokenBitmapsAreRefused) {
  struct Case {
    int id;
    const char* what;
  };
  const Case cases[] = {{401, "rows missing"},         {402, "header cut short"},
                        {403, "7 bits per pixel"},     {404, "no width"},
                        {405, "size wraps around"},    {406, "300 colours"},
                        {407, "run-length encoded"},   {408, "colour table cut short"},
                        {409, "height with no size"},  {410, "header longer than the data"},
                        {411, "two planes"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(0);
    EXPECT_EQ(LoadBitmapW(gLib, MAKEINTRESOURCEW(c.id)), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_RESOURCE_DATA_NOT_FOUND);
  }
  EXPECT_EQ(bench::LiveGdiObjects(), 0);
  EXPECT_EQ(LoadBitmapW(nullptr, MAKEINTRESOURCEW(303)), nullptr);
  EXPECT_EQ(LoadBitmapW((HINSTANCE)0x1234, MAKEINTRESOURCEW(303)), nullptr);

  // An index past the colour table: black, not a read past it.
  HBITMAP bmp = LoadBitmapW(gLib, MAKEINTRESOURCEW(412));
  ASSERT_NE(bmp, nullptr);
  HDC mem = CreateCompatibleDC(nullptr);
  SelectObject(mem, bmp);
  EXPECT_EQ(GetPixel(mem, 0, 0), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(mem, 1, 0), RGB(0, 0, 0));
  DeleteDC(mem);
  DeleteObject(bmp);
}

// ---- two threads drawing into one window ----

struct Shared {
  HWND hwnd = nullptr;
  HANDLE ready = nullptr;
};

DWORD WINAPI WindowThread(LPVOID arg) {
  auto* s = static_cast<Shared*>(arg);
  s->hwnd = CreateWindowExW(0, L"SimGdiPicture", L"", WS_POPUP | WS_VISIBLE, 0, 26, 240, 114, nullptr, nullptr,
                            nullptr, nullptr);
  SetEvent(s->ready);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}

DWORD WINAPI DrawingThread(LPVOID arg) {
  HWND hwnd = static_cast<HWND>(arg);
  HBITMAP picture = LoadBitmapW(gLib, MAKEINTRESOURCEW(303));
  for (int i = 0; i < 200; ++i) {
    HDC dc = GetDC(hwnd);
    Blit(dc, picture);
    ReleaseDC(hwnd, dc);
  }
  DeleteObject(picture);
  return 0;
}

TEST_F(SimPixels, TwoThreadsDrawIntoOneWindowAtOnce) {
  Shared s;
  s.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE owner = CreateThread(nullptr, 0, WindowThread, &s, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(s.ready, INFINITE), WAIT_OBJECT_0);
  ASSERT_NE(s.hwnd, nullptr);
  // The owner paints (WM_PAINT, InvalidateRect) while a reader-like thread blits.
  HANDLE reader = CreateThread(nullptr, 0, DrawingThread, s.hwnd, 0, nullptr);
  for (int i = 0; i < 200; ++i) InvalidateRect(s.hwnd, nullptr, FALSE);
  ASSERT_EQ(WaitForSingleObject(reader, INFINITE), WAIT_OBJECT_0);
  bench::Settle();
  EXPECT_GE(gPaints, 1);
  bench::Pixels p = bench::WindowPixels(s.hwnd);
  ASSERT_EQ(p.width, 240);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(p.At(x, y), kPicture[y][x]);
  EXPECT_EQ(p.At(100, 100), 0xFFFFFFu);
  EXPECT_EQ(bench::LiveGdiObjects(), 0);
  EXPECT_EQ(bench::OpenWindowDCs(), 0);
  PostMessageW(s.hwnd, WM_CLOSE, 0, 0);
  ASSERT_EQ(WaitForSingleObject(owner, INFINITE), WAIT_OBJECT_0);
  CloseHandle(reader);
  CloseHandle(owner);
  CloseHandle(s.ready);
}

}  // namespace
