#include "shell/picker.h"

#include <cstring>

#include "engine/inject.h"
#include "shell/layouts.h"
#include "shell/resids.h"
#include "shell/state.h"

std::atomic<uint32_t> PickerStop{0};
// Openings so far; the latest is the picker the user sees. A quick second Fn+Tab can
// open a picker while an earlier one is still closing: only the latest opening, or one
// with a pick to type, gives the foreground back, or the earlier one would close the new
// picker. The count is also each opening's number in PickerOpen (picker.h).
static std::atomic<uint32_t> PickerOpenings{0};
// The window to give the foreground back to, kept across openings that follow each other.
static std::atomic<HWND> PickerReturnTo{nullptr};
// Picker threads that have not ended, counted from OpenPicker on. The first of a run of
// overlapping openings notes the window in front: a later one cannot tell from the
// foreground, which a superseded picker may have taken down with its window, leaving none.
static std::atomic<uint32_t> PickersLive{0};
// Set while the program's exit waits for the picker threads; the thread that ends last
// takes it and sets it.
static std::atomic<HANDLE> PickersEnded{nullptr};

// 0 is "closed" and 1 the translator's own mark, so neither numbers an opening.
static uint32_t NextOpening() {
  uint32_t opening;
  do opening = ++PickerOpenings;
  while (opening < 2);
  return opening;
}

// Clears PickerOpen only while it still holds this opening's number.
static void ClearPickerOpen(uint32_t opening) {
  uint32_t mine = opening;
  PickerOpen.compare_exchange_strong(mine, 0);
}

// The last thing a picker thread does: after it, nothing of the thread touches the
// resource library.
static void PickerThreadEnded() {
  if (--PickersLive != 0) return;
  if (HANDLE ended = PickersEnded.exchange(nullptr)) SetEvent(ended);
}

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

// What a picker window keeps on its thread's stack, found through the window's user data.
// The pick is the window's own: one word shared by overlapping pickers would let a later
// opening wipe out or overwrite an earlier one's pick before that thread took it, or both
// threads take one.
struct PickerWindowState {
  uint16_t Picked;  // 0 for none
  bool Closing;
};

static PickerWindowState* StateOf(HWND hwnd) {
  return reinterpret_cast<PickerWindowState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

static void Pick(HWND hwnd, int cell) {
  if (PickerWindowState* state = StateOf(hwnd)) state->Picked = CellCharacter(cell);
}

// Destroying the active window deactivates it first, and the deactivation closes a picker:
// without the mark the destruction would start again inside itself.
static void ClosePickerWindow(HWND hwnd, PickerWindowState* state) {
  if (state) {
    if (state->Closing) return;
    state->Closing = true;
  }
  DestroyWindow(hwnd);
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
  uint32_t opening = NextOpening();
  PickerOpen = opening;
  HANDLE thread = CreateThread(nullptr, 0, PickerThread, reinterpret_cast<LPVOID>(static_cast<uintptr_t>(opening)),
                               0, nullptr);
  if (thread) {
    CloseHandle(thread);
    return;
  }
  // A picker that never started is not open: the next Fn+Tab tries again.
  ClearPickerOpen(opening);
  PickerThreadEnded();
}

void ClosePicker() { PickerStop = 1; }

// Waits for every picker thread to end, at most PICKER_END_WAIT_MS, answering what other
// threads send to this one meanwhile. True when they all ended.
static bool AwaitPickers(HANDLE ended) {
  DWORD start = GetTickCount();
  while (PickersLive != 0) {
    DWORD spent = GetTickCount() - start;
    if (spent >= PICKER_END_WAIT_MS) return false;
    DWORD r = MsgWaitForMultipleObjects(1, &ended, FALSE, PICKER_END_WAIT_MS - spent, QS_SENDMESSAGE);
    if (r == WAIT_OBJECT_0 + 1) {
      MSG m;
      PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
    } else {
      return r == WAIT_OBJECT_0 && PickersLive == 0;
    }
  }
  return true;
}

void EndPicker() {
  if (PickersLive == 0) return;
  HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  PickersEnded = ended;
  // Every opening is superseded: none gives the foreground back, shows or stays.
  NextOpening();
  PickerStop = 1;
  PickerOpen = 0;
  WCHAR className[RES_STRING_MAX] = {0};
  LoadStringW(hResDll, IDS_PICKER_CLASS, className, RES_STRING_MAX);
  HWND window = *className ? FindWindowW(className, nullptr) : nullptr;
  // Any message ends its loop now that PickerStop is set.
  if (window) PostMessageW(window, WM_CLOSE, 0, 0);
  AwaitPickers(ended);
  // Taken by the thread that ended last, which sets it: it may still be on its way.
  if (PickersEnded.exchange(nullptr) == nullptr && WaitForSingleObject(ended, PICKER_END_WAIT_MS) != WAIT_OBJECT_0)
    return;  // a thread stuck before setting it still holds it: left to the process's end
  CloseHandle(ended);
}

LRESULT CALLBACK PickerWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT:
      PaintPicker(hwnd);
      return 0;
    case WM_KEYDOWN:
      for (int cell = 0; cell < PICKER_CELLS; ++cell) {
        if ((ActiveLayout[cell].Key & 0xFF) == (wParam & 0xFF)) {
          Pick(hwnd, cell);
          break;
        }
      }
      // Shift only changes the column; any other key ends the opening.
      if (wParam != VK_SHIFT) ClosePickerWindow(hwnd, StateOf(hwnd));
      return 0;
    case WM_LBUTTONDOWN: {
      int cell = PickerCellAt(LOWORD(lParam), HIWORD(lParam));
      if (cell >= 0) Pick(hwnd, cell);
      ClosePickerWindow(hwnd, StateOf(hwnd));
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) ClosePickerWindow(hwnd, StateOf(hwnd));
      return 0;
    case WM_CLOSE:
      ClosePickerWindow(hwnd, StateOf(hwnd));
      return 0;
    case WM_DESTROY:
      if (PickerWindowState* state = StateOf(hwnd)) state->Closing = true;
      // Ends the thread's loop however the window went, whatever a fetch for a window
      // that is gone would answer.
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

// Shows the picker and runs its window until it goes; returns what it picked, 0 for nothing.
static uint16_t RunPickerWindow(uint32_t opening) {
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
  if (!window) return 0;
  PickerWindowState state = {0, false};
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  // Taking the foreground from a later picker would close it. (Narrowed, not closed: a
  // later opening can still start between this test and the call.)
  if (PickerOpenings == opening)
    SetForegroundWindow(window);
  else
    ClosePickerWindow(window, &state);

  // The window is this thread's only one, and its destruction posts the quit that ends
  // the loop.
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (PickerStop == 1) break;  // a second Fn+Tab: this message is dropped
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  ClosePickerWindow(window, &state);  // still there when the loop was asked to stop
  return state.Picked;
}

DWORD WINAPI PickerThread(LPVOID param) {
  uint32_t opening = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(param));
  // Opened and closed again before this thread ran: a later opening shows the picker.
  if (PickerOpenings == opening) {
    uint16_t picked = RunPickerWindow(opening);
    // A pick goes to the window the user was in, so it gets the foreground back even
    // when a later opening has started since: that picker closes, as it would have had
    // this one been quicker. Without a pick only the latest opening gives it back.
    if (picked != 0 || PickerOpenings == opening) SetForegroundWindow(PickerReturnTo);
    if (picked != 0) {
      PendingAccent = 0;
      if (picked & PICKER_DEAD)
        PendingAccent = AccentKindOfDead(picked);
      else
        SendCharacter(picked);
    }
  }
  // Last: a Fn+Tab from now on opens a picker that nothing of this one can disturb.
  ClearPickerOpen(opening);
  PickerThreadEnded();
  return 0;
}
