#include "shell/picker.h"

#include <cstring>

#include "engine/inject.h"
#include "shell/layouts.h"
#include "shell/resids.h"
#include "shell/state.h"

std::atomic<uint32_t> PickerStop{0};
// Openings so far. A quick second Fn+Tab can open a picker while the earlier one is
// still closing: only the latest opening clears PickerOpen and gives the foreground
// back, or the earlier one would close the new picker and leave the flag wrong.
static std::atomic<uint32_t> PickerOpenings{0};
// The window to give the foreground back to, kept across openings that follow each other.
static std::atomic<HWND> PickerReturnTo{nullptr};
// Openings whose thread has not ended. The first of a run of overlapping openings notes
// the window in front: a later one cannot tell from the foreground, which a superseded
// picker may have taken down with its window, leaving none.
static std::atomic<uint32_t> PickersLive{0};

// The character picked in the current opening, 0 for none.
static std::atomic<uint16_t> PickerResult{0};

RECT PickerCellRect(int cell) {
  int row = cell / 10;
  int column = cell % 10;
  RECT r;
  r.left = (column < 5 ? 4 : 7) + 23 * column;
  r.right = r.left + 22;
  r.top = 2 + 38 * row;
  r.bottom = r.top + 20;
  return r;
}

int PickerCellAt(int x, int y) {
  POINT pt = {x, y};
  for (int cell = 0; cell < PICKER_CELLS; ++cell) {
    RECT r = PickerCellRect(cell);
    if (PtInRect(&r, pt)) return cell;
  }
  return -1;
}

static uint16_t CellCharacter(int cell) {
  return (ShiftDown != 0 || CapsLockOn != 0) ? ActiveLayout[cell].Shifted : ActiveLayout[cell].Plain;
}

// Draws bitmap `id` of the resource library into `dc`; every object is its own and freed.
static void BlitPicture(HDC dc, WORD id) {
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP picture = LoadBitmapW(hResDll, MAKEINTRESOURCEW(id));
  BITMAP info;
  memset(&info, 0, sizeof info);
  GetObjectW(picture, sizeof info, &info);
  SelectObject(memory, picture);
  BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
  DeleteDC(memory);
  DeleteObject(picture);
}

static WORD CurrentPicture() {
  uint32_t base = PickerBitmapBase;
  return static_cast<WORD>((ShiftDown == 0 && CapsLockOn == 0) ? base : base + 1);
}

static void PaintPicker(HWND hwnd) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  BlitPicture(dc, CurrentPicture());
  EndPaint(hwnd, &paint);
}

void DrawPickerBitmap(HWND hwnd, WORD id) {
  HDC dc = GetDC(hwnd);
  BlitPicture(dc, id);
  ReleaseDC(hwnd, dc);
}

// Found anew by its class and title each time: nothing is cached across openings.
void RedrawPicker(WORD bitmapId) {
  WCHAR cls[RES_STRING_MAX] = {0};
  WCHAR title[RES_STRING_MAX] = {0};
  LoadStringW(hResDll, IDS_PICKER_CLASS, cls, RES_STRING_MAX);
  LoadStringW(hResDll, IDS_PICKER_TITLE, title, RES_STRING_MAX);
  HWND picker = FindWindowW(cls, title);
  if (picker != nullptr) DrawPickerBitmap(picker, bitmapId);
}

void OpenPicker() {
  PickerStop = 0;
  if (PickersLive++ == 0) PickerReturnTo = GetForegroundWindow();
  uint32_t opening = ++PickerOpenings;
  HANDLE thread = CreateThread(nullptr, 0, PickerThread, reinterpret_cast<LPVOID>(static_cast<uintptr_t>(opening)),
                               0, nullptr);
  if (thread) {
    CloseHandle(thread);
  } else {
    // A picker that never started is not open: the next Fn+Tab tries again.
    --PickersLive;
    if (PickerOpenings == opening) PickerOpen = 0;
  }
}

void ClosePicker() { PickerStop = 1; }

void EndPicker() {
  if (PickersLive == 0) return;
  // Every opening is superseded: none gives the foreground back, shows or stays.
  ++PickerOpenings;
  PickerStop = 1;
  PickerOpen = 0;
  WCHAR className[RES_STRING_MAX] = {0};
  LoadStringW(hResDll, IDS_PICKER_CLASS, className, RES_STRING_MAX);
  HWND window = *className ? FindWindowW(className, nullptr) : nullptr;
  // Any message ends its loop now that PickerStop is set.
  if (window) PostMessageW(window, WM_CLOSE, 0, 0);
}

LRESULT CALLBACK PickerWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT:
      PaintPicker(hwnd);
      return 0;
    case WM_KEYDOWN:
      for (int cell = 0; cell < PICKER_CELLS; ++cell) {
        if ((ActiveLayout[cell].Key & 0xFF) == (wParam & 0xFF)) {
          PickerResult = CellCharacter(cell);
          break;
        }
      }
      // Shift only changes the column; any other key ends the opening.
      if (wParam != VK_SHIFT) DestroyWindow(hwnd);
      return 0;
    case WM_LBUTTONDOWN: {
      int cell = PickerCellAt(LOWORD(lParam), HIWORD(lParam));
      if (cell >= 0) PickerResult = CellCharacter(cell);
      DestroyWindow(hwnd);
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) DestroyWindow(hwnd);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

DWORD WINAPI PickerThread(LPVOID param) {
  uint32_t opening = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(param));
  // Opened and closed again before this thread ran: a later opening shows the picker.
  if (PickerOpenings != opening) {
    --PickersLive;
    return 0;
  }
  PickerResult = 0;
  WCHAR className[RES_STRING_MAX] = {0};
  WCHAR title[RES_STRING_MAX] = {0};
  LoadStringW(hResDll, IDS_PICKER_CLASS, className, RES_STRING_MAX);
  LoadStringW(hResDll, IDS_PICKER_TITLE, title, RES_STRING_MAX);
  WNDCLASSW wc;
  memset(&wc, 0, sizeof wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = PickerWndProc;
  wc.hInstance = hInstance;
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = className;
  RegisterClassW(&wc);  // from the second opening on the class exists already
  HWND window = CreateWindowExW(0, className, title, WS_POPUP | WS_VISIBLE, PICKER_X, PICKER_Y, PICKER_WIDTH,
                                PICKER_HEIGHT, nullptr, nullptr, hInstance, nullptr);
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  // Taking the foreground from a later picker would close it. (Narrowed, not closed: a
  // later opening can still start between this test and the call.)
  if (PickerOpenings == opening)
    SetForegroundWindow(window);
  else
    DestroyWindow(window);

  MSG msg;
  // Ends once the window is gone: the fetch then returns 0 (handheld) or -1 (desktop),
  // and a loop on -1 would spin. Without a window a fetch filtered to null would wait
  // for any message of this thread for ever.
  while (window && GetMessageW(&msg, window, 0, 0) > 0) {
    if (PickerStop == 1) break;  // a second Fn+Tab: this message is dropped
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  DestroyWindow(window);
  if (PickerOpenings == opening) {
    PickerOpen = 0;
    SetForegroundWindow(PickerReturnTo);
  }
  // After the foreground is back: an opening that then finds none live notes that window.
  --PickersLive;

  if (PickerResult == 0) return 0;
  PendingAccent = 0;
  uint16_t picked = PickerResult;
  if (picked & PICKER_DEAD) {
    PendingAccent = AccentKindOfDead(picked);
    return 0;
  }
  SendCharacter(picked);
  return 0;
}
