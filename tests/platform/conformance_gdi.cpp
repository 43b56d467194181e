// Bitmaps from resources, memory DCs, BitBlt, window painting. Bitmaps other than the
// two-colour black-and-white ones load as bitmaps of the screen's kind: 32 bits per
// pixel on the handheld's sim and on Wine with a 24-bit display. Where Wine and the
// handheld differ (top-down pictures, deleting a selected bitmap) the test says so.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace {

struct Pixel {
  int x, y;
  COLORREF colour;
};

struct BitmapCase {
  int id;
  const char* what;
  LONG width, height, widthBytes;
  WORD bitsPixel;
  std::vector<Pixel> pixels;
};

const COLORREF kBlack = RGB(0, 0, 0), kWhite = RGB(255, 255, 255);

const BitmapCase kBitmaps[] = {
    {301, "1 bit black and white, bottom-up", 8, 2, 2, 1,
     {{0, 0, kWhite}, {1, 0, kBlack}, {2, 0, kWhite}, {6, 0, kBlack}, {7, 0, kWhite},
      {0, 1, kBlack}, {1, 1, kWhite}, {6, 1, kWhite}, {7, 1, kBlack}}},
    {302, "4 bits, bottom-up", 3, 2, 12, 32,
     {{0, 0, RGB(255, 0, 0)}, {1, 0, RGB(0, 255, 0)}, {2, 0, RGB(0, 0, 255)},
      {0, 1, RGB(0, 0, 255)}, {1, 1, RGB(0, 0, 255)}, {2, 1, RGB(0, 255, 0)}}},
    {303, "8 bits, four colours, bottom-up", 5, 3, 20, 32,
     {{0, 0, RGB(0x12, 0x34, 0x56)}, {1, 0, kWhite}, {2, 0, RGB(0x80, 0x80, 0)}, {3, 0, kBlack},
      {4, 0, RGB(0x12, 0x34, 0x56)}, {2, 1, RGB(0x80, 0x80, 0)}, {0, 2, kBlack},
      {1, 2, RGB(0x12, 0x34, 0x56)}, {3, 2, RGB(0x80, 0x80, 0)}, {4, 2, kBlack}}},
    {304, "24 bits, bottom-up", 2, 2, 8, 32,
     {{0, 0, RGB(0x10, 0x20, 0x30)}, {1, 0, RGB(0xA0, 0xB0, 0xC0)}, {0, 1, RGB(0, 0, 255)},
      {1, 1, RGB(255, 0, 0)}}},
    {305, "1 bit in red and blue: not monochrome", 2, 1, 8, 32,
     {{0, 0, RGB(255, 0, 0)}, {1, 0, RGB(0, 0, 255)}}},
};

class Gdi : public ::testing::Test {
 protected:
  void SetUp() override {
    lib_ = LoadLibraryW(L"gditest.dll");
    ASSERT_NE(lib_, nullptr) << GetLastError();
  }
  void TearDown() override {
    if (lib_) FreeLibrary(lib_);
  }
  HBITMAP Load(int id) { return LoadBitmapW(lib_, MAKEINTRESOURCEW(id)); }
  HMODULE lib_ = nullptr;
};

TEST_F(Gdi, LoadBitmapGivesSizeAndPixelsOfEveryDepth) {
  for (const BitmapCase& c : kBitmaps) {
    SCOPED_TRACE(c.what);
    HBITMAP bmp = Load(c.id);
    ASSERT_NE(bmp, nullptr) << GetLastError();
    EXPECT_EQ(GetObjectW(bmp, 0, nullptr), (int)sizeof(BITMAP));
    BITMAP bm;
    memset(&bm, 0xAB, sizeof bm);
    ASSERT_EQ(GetObjectW(bmp, sizeof bm, &bm), (int)sizeof(BITMAP));
    EXPECT_EQ(bm.bmType, 0);
    EXPECT_EQ(bm.bmWidth, c.width);
    EXPECT_EQ(bm.bmHeight, c.height);
    EXPECT_EQ(bm.bmWidthBytes, c.widthBytes);
    EXPECT_EQ(bm.bmPlanes, 1);
    EXPECT_EQ(bm.bmBitsPixel, c.bitsPixel);
    EXPECT_EQ(bm.bmBits, nullptr);

    HDC mem = CreateCompatibleDC(nullptr);
    ASSERT_NE(mem, nullptr);
    HGDIOBJ old = SelectObject(mem, bmp);
    EXPECT_NE(old, nullptr);
    for (const Pixel& p : c.pixels) EXPECT_EQ(GetPixel(mem, p.x, p.y), p.colour) << p.x << "," << p.y;
    EXPECT_EQ(GetPixel(mem, c.width, 0), CLR_INVALID);
    EXPECT_EQ(GetPixel(mem, 0, -1), CLR_INVALID);
    EXPECT_EQ(SelectObject(mem, old), (HGDIOBJ)bmp);
    EXPECT_TRUE(DeleteDC(mem));
    EXPECT_TRUE(DeleteObject(bmp));
  }
}

// A top-down picture (negative height) loads with its size on both. Wine 8 draws it
// all black; the handheld's sim reads its rows from the top.
TEST_F(Gdi, TopDownBitmapLoads) {
  HBITMAP bmp = Load(306);
  ASSERT_NE(bmp, nullptr);
  BITMAP bm;
  ASSERT_EQ(GetObjectW(bmp, sizeof bm, &bm), (int)sizeof bm);
  EXPECT_EQ(bm.bmWidth, 5);
  EXPECT_EQ(bm.bmHeight, 3);
  EXPECT_EQ(bm.bmBitsPixel, 32);
#if !defined(_WIN32)
  HDC mem = CreateCompatibleDC(nullptr);
  SelectObject(mem, bmp);
  for (const Pixel& p : kBitmaps[2].pixels) EXPECT_EQ(GetPixel(mem, p.x, p.y), p.colour) << p.x << "," << p.y;
  DeleteDC(mem);
#endif
  EXPECT_TRUE(DeleteObject(bmp));
}

TEST_F(Gdi, GetObjectOfABitmapWantsTheWholeRecord) {
  HBITMAP bmp = Load(303);
  ASSERT_NE(bmp, nullptr);
  BITMAP bm{};
  EXPECT_EQ(GetObjectW(bmp, sizeof bm - 1, &bm), 0);
  EXPECT_EQ(bm.bmWidth, 0);
  EXPECT_TRUE(DeleteObject(bmp));
}

TEST_F(Gdi, MissingBitmapIsNull) {
  SetLastError(0);
  EXPECT_EQ(Load(999), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_RESOURCE_NAME_NOT_FOUND);
}

TEST_F(Gdi, BitmapGoesIntoOneMemoryDcAtATime) {
  HBITMAP a = Load(304), b = Load(302);
  HDC one = CreateCompatibleDC(nullptr), two = CreateCompatibleDC(nullptr);
  ASSERT_TRUE(a && b && one && two);
  HGDIOBJ stock = SelectObject(one, a);
  ASSERT_NE(stock, nullptr);
  EXPECT_EQ(SelectObject(two, a), nullptr);
  EXPECT_EQ(SelectObject(one, b), (HGDIOBJ)a);  // the previous one comes back
  EXPECT_EQ(SelectObject(two, a), stock);       // a is free again
  EXPECT_EQ(SelectObject(one, stock), (HGDIOBJ)b);
  EXPECT_EQ(SelectObject(two, stock), (HGDIOBJ)a);
  EXPECT_TRUE(DeleteDC(one));
  EXPECT_TRUE(DeleteDC(two));
  EXPECT_TRUE(DeleteObject(a));
  EXPECT_TRUE(DeleteObject(b));
}

// Into a compatible bitmap, read back through its DC: blits clip to the destination
// and to the source.
TEST_F(Gdi, BitBltCopiesAndClips) {
  HBITMAP src = Load(304);
  HDC srcDc = CreateCompatibleDC(nullptr);
  HDC screenLike = CreateCompatibleDC(nullptr);
  ASSERT_TRUE(src && srcDc && screenLike);
  HGDIOBJ oldSrc = SelectObject(srcDc, src);
  // A bitmap compatible with the source DC, which now holds a colour bitmap.
  HBITMAP dst = CreateCompatibleBitmap(srcDc, 4, 3);
  ASSERT_NE(dst, nullptr);
  BITMAP bm;
  ASSERT_EQ(GetObjectW(dst, sizeof bm, &bm), (int)sizeof bm);
  EXPECT_EQ(bm.bmBitsPixel, 32);
  HGDIOBJ oldDst = SelectObject(screenLike, dst);
  const COLORREF grey = RGB(0x55, 0x66, 0x77);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) ASSERT_EQ(SetPixel(screenLike, x, y, grey), grey);

  EXPECT_TRUE(BitBlt(screenLike, 1, 1, 2, 2, srcDc, 0, 0, SRCCOPY));
  EXPECT_EQ(GetPixel(screenLike, 0, 0), grey);
  EXPECT_EQ(GetPixel(screenLike, 1, 1), RGB(0x10, 0x20, 0x30));
  EXPECT_EQ(GetPixel(screenLike, 2, 1), RGB(0xA0, 0xB0, 0xC0));
  EXPECT_EQ(GetPixel(screenLike, 1, 2), RGB(0, 0, 255));
  EXPECT_EQ(GetPixel(screenLike, 2, 2), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(screenLike, 3, 1), grey);

  // Half off the destination's right edge and bottom: what falls outside is dropped.
  EXPECT_TRUE(BitBlt(screenLike, 3, 2, 2, 2, srcDc, 0, 0, SRCCOPY));
  EXPECT_EQ(GetPixel(screenLike, 3, 2), RGB(0x10, 0x20, 0x30));
  EXPECT_EQ(GetPixel(screenLike, 3, 0), grey);
  // From a source origin left of and above the picture: only the overlap is copied.
  EXPECT_TRUE(BitBlt(screenLike, 0, 0, 2, 2, srcDc, -1, -1, SRCCOPY));
  EXPECT_EQ(GetPixel(screenLike, 1, 1), RGB(0x10, 0x20, 0x30));
  EXPECT_EQ(GetPixel(screenLike, 0, 0), grey);

  EXPECT_TRUE(BitBlt(screenLike, 0, 0, 1, 1, nullptr, 0, 0, WHITENESS));
  EXPECT_EQ(GetPixel(screenLike, 0, 0), RGB(255, 255, 255));
  EXPECT_TRUE(BitBlt(screenLike, 0, 0, 1, 1, nullptr, 0, 0, BLACKNESS));
  EXPECT_EQ(GetPixel(screenLike, 0, 0), RGB(0, 0, 0));

  SelectObject(screenLike, oldDst);
  SelectObject(srcDc, oldSrc);
  EXPECT_TRUE(DeleteDC(screenLike));
  EXPECT_TRUE(DeleteDC(srcDc));
  EXPECT_TRUE(DeleteObject(dst));
  EXPECT_TRUE(DeleteObject(src));
}

// A colour picture copied into a monochrome bitmap: white stays white, other
// colours turn black.
TEST_F(Gdi, BlitIntoMonochromeKeepsWhiteOnly) {
  HBITMAP src = Load(303);
  HDC srcDc = CreateCompatibleDC(nullptr), monoDc = CreateCompatibleDC(nullptr);
  ASSERT_TRUE(src && srcDc && monoDc);
  HGDIOBJ oldSrc = SelectObject(srcDc, src);
  HBITMAP mono = CreateCompatibleBitmap(monoDc, 5, 3);  // a fresh memory DC is monochrome
  ASSERT_NE(mono, nullptr);
  BITMAP bm;
  ASSERT_EQ(GetObjectW(mono, sizeof bm, &bm), (int)sizeof bm);
  EXPECT_EQ(bm.bmBitsPixel, 1);
  EXPECT_EQ(bm.bmWidthBytes, 2);
  HGDIOBJ oldMono = SelectObject(monoDc, mono);
  EXPECT_TRUE(BitBlt(monoDc, 0, 0, 5, 3, srcDc, 0, 0, SRCCOPY));
  EXPECT_EQ(GetPixel(monoDc, 1, 0), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(monoDc, 0, 0), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(monoDc, 2, 1), RGB(0, 0, 0));
  SelectObject(monoDc, oldMono);
  SelectObject(srcDc, oldSrc);
  DeleteDC(monoDc);
  DeleteDC(srcDc);
  EXPECT_TRUE(DeleteObject(mono));
  EXPECT_TRUE(DeleteObject(src));
}

// Windows documents that a bitmap still selected into a DC is not deleted. Wine
// answers TRUE and deletes it once the DC lets it go; the handheld answers FALSE and
// keeps it. Either way it goes on drawing while selected.
TEST_F(Gdi, SelectedBitmapSurvivesDeleteObject) {
  HBITMAP bmp = Load(304);
  HDC mem = CreateCompatibleDC(nullptr);
  ASSERT_TRUE(bmp && mem);
  SelectObject(mem, bmp);
  BOOL deleted = DeleteObject(bmp);
#if defined(_WIN32)
  EXPECT_TRUE(deleted);
#else
  EXPECT_FALSE(deleted);
#endif
  EXPECT_EQ(GetPixel(mem, 1, 0), RGB(0xA0, 0xB0, 0xC0));
  BITMAP bm;
  EXPECT_EQ(GetObjectW(bmp, sizeof bm, &bm), (int)sizeof bm);
  EXPECT_EQ(bm.bmWidth, 2);
  EXPECT_TRUE(DeleteDC(mem));
#if !defined(_WIN32)
  EXPECT_TRUE(DeleteObject(bmp));  // free now
#endif
}

// ---- windows ----

int gPaints = 0;
HBITMAP gPicture = nullptr;

LRESULT CALLBACK PictureProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_PAINT) {
    ++gPaints;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    HDC mem = CreateCompatibleDC(dc);
    BITMAP bm;
    GetObjectW(gPicture, sizeof bm, &bm);
    HGDIOBJ old = SelectObject(mem, gPicture);
    BitBlt(dc, 0, 0, bm.bmWidth, bm.bmHeight, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
    EndPaint(hwnd, &ps);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

class GdiWindows : public Gdi {
 protected:
  void SetUp() override {
    Gdi::SetUp();
    WNDCLASSW wc{};
    wc.lpfnWndProc = PictureProc;
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = L"BrindleConfPicture";
    ASSERT_NE(RegisterClassW(&wc), 0);
    wc.lpfnWndProc = DefWindowProcW;
    wc.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    wc.lpszClassName = L"BrindleConfPlain";
    ASSERT_NE(RegisterClassW(&wc), 0);
    gPaints = 0;
  }
  void TearDown() override {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    UnregisterClassW(L"BrindleConfPicture", nullptr);
    UnregisterClassW(L"BrindleConfPlain", nullptr);
    Gdi::TearDown();
  }
  static void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
};

TEST_F(GdiWindows, PaintBlitsThePictureOverTheErasedBackground) {
  gPicture = Load(303);
  ASSERT_NE(gPicture, nullptr);
  HWND hwnd = CreateWindowExW(0, L"BrindleConfPicture", L"picture", WS_POPUP | WS_VISIBLE, 10, 20, 8, 6,
                              nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(hwnd, nullptr);
  UpdateWindow(hwnd);
  Pump();
  EXPECT_EQ(gPaints, 1);
  Pump();
  EXPECT_EQ(gPaints, 1) << "BeginPaint validated the window";

  HDC dc = GetDC(hwnd);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0x12, 0x34, 0x56));  // client coordinates
  EXPECT_EQ(GetPixel(dc, 3, 0), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dc, 2, 1), RGB(0x80, 0x80, 0));
  EXPECT_EQ(GetPixel(dc, 4, 2), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dc, 5, 0), RGB(255, 255, 255));  // the class brush beside the picture
  EXPECT_EQ(GetPixel(dc, 0, 3), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(dc, 7, 5), RGB(255, 255, 255));
  EXPECT_EQ(ReleaseDC(hwnd, dc), 1);

  InvalidateRect(hwnd, nullptr, TRUE);
  Pump();
  EXPECT_EQ(gPaints, 2);
  EXPECT_TRUE(DestroyWindow(hwnd));
  EXPECT_TRUE(DeleteObject(gPicture));
  gPicture = nullptr;
}

TEST_F(GdiWindows, WindowLeftToDefWindowProcShowsItsBackground) {
  HWND hwnd = CreateWindowExW(0, L"BrindleConfPlain", L"plain", WS_POPUP | WS_VISIBLE, 30, 40, 5, 5, nullptr,
                              nullptr, nullptr, nullptr);
  ASSERT_NE(hwnd, nullptr);
  UpdateWindow(hwnd);
  Pump();
  HDC dc = GetDC(hwnd);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(SetPixel(dc, 2, 2, RGB(255, 0, 0)), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(dc, 2, 2), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dc, 4, 4), RGB(0, 0, 0));
  EXPECT_EQ(ReleaseDC(hwnd, dc), 1);
  // Invalidated with erase, the black background comes back over the red dot.
  InvalidateRect(hwnd, nullptr, TRUE);
  Pump();
  dc = GetDC(hwnd);
  EXPECT_EQ(GetPixel(dc, 2, 2), RGB(0, 0, 0));
  ReleaseDC(hwnd, dc);
  EXPECT_TRUE(DestroyWindow(hwnd));
}

TEST_F(GdiWindows, ReleaseDcTakesWindowDcsOnly) {
  HWND a = CreateWindowExW(0, L"BrindleConfPlain", L"a", WS_POPUP, 0, 0, 5, 5, nullptr, nullptr, nullptr, nullptr);
  HWND b = CreateWindowExW(0, L"BrindleConfPlain", L"b", WS_POPUP, 0, 0, 5, 5, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(a && b);
  HDC dc = GetDC(a);
  ASSERT_NE(dc, nullptr);
  HDC mem = CreateCompatibleDC(dc);
  ASSERT_NE(mem, nullptr);
  EXPECT_EQ(ReleaseDC(a, mem), 0);  // not a window's DC
  EXPECT_EQ(ReleaseDC(b, dc), 1);   // the DC decides, not the window named
  EXPECT_EQ(ReleaseDC(a, dc), 0);   // given back already
  EXPECT_TRUE(DeleteDC(mem));
  DestroyWindow(a);
  DestroyWindow(b);
}

}  // namespace
