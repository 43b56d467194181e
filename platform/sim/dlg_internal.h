// What the dialog manager, the built-in controls and the bench's screen need from the
// window manager, and from each other. Not for program code or tests.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "win32.h"

namespace sim {

struct ThreadRec;

// A window as the user and the dialog manager see it. Lock held for all calls here.
struct WindowView {
  HWND hwnd = nullptr;
  std::wstring cls;
  std::wstring title;
  DWORD style = 0;
  DWORD exStyle = 0;
  HWND parent = nullptr;
  DWORD tid = 0;
  LONG_PTR id = 0;  // control id (children)
  RECT screen{};
  bool visible = false;  // itself and every ancestor
  bool shown = false;    // itself, whatever its ancestors
  bool enabled = false;
  HICON icons[2] = {};  // WM_SETICON's ICON_SMALL, ICON_BIG
};
bool ViewWindow(HWND hwnd, WindowView* out);
// Top-level windows, topmost first: the foreground window, then the others by the last
// time each was made or brought to the foreground, latest first.
std::vector<HWND> TopLevelZOrder();
// Children in their z-order: the first made lies on top, as in a dialog template.
std::vector<HWND> ChildrenOf(HWND parent);
// Queue mouse or keyboard input for the thread owning hwnd. Lock held.
void PostInputTo(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
// Process one message another thread sent to the calling thread; false when none
// waits. Lock held (released while the window procedure runs).
bool ProcessSentMessage(std::unique_lock<std::mutex>& lk);
// Something for GetMessageW in the thread's queue (sent, posted, input, paint, timer,
// quit). Lock held.
bool MessageWaiting(ThreadRec* t);

// The classes every handheld has ("Button", "Static", "msctls_trackbar32", "Dialog"),
// by lower-case name; the window manager asks when a class is not registered.
bool BuiltinClass(const std::wstring& lowerName, WNDCLASSW* wc);

// The trace label of an icon handle: its resource id, "?" or "0". Lock held.
std::string IconLabel(HICON icon);

// A built-in control's state, for the bench and the dialog manager. Lock held.
struct ControlView {
  enum Kind { kButton, kStatic, kTrackbar, kEdit } kind = kButton;
  UINT check = 0;
  HFONT font = nullptr;
  HICON icon = nullptr;
  int min = 0, max = 0, pos = 0;
  int caret = 0, anchor = 0;  // edit controls, in UTF-16 units
};
bool ViewControl(HWND control, ControlView* out);
// The client x of a trackbar's thumb at pos. Lock held.
bool TrackbarThumbX(HWND trackbar, int pos, int* x);
// Mouse input that falls through to the window below (group boxes, statics that
// do not notify). Lock held.
bool HitTransparent(const WindowView& v);
// The icon SendDlgItemMessageW last gave a control of any class. Lock held.
void NoteControlIcon(HWND control, HICON icon);
// Sets a window's text as SetWindowTextW does, without telling its control. Lock held.
bool SetWindowTitle(HWND hwnd, const std::wstring& text);
// SetWindowTextW changed a window's text: an edit control puts its caret back at the
// start, as WM_SETTEXT does. Lock held.
void ControlTextSet(HWND hwnd);
// The face and height of a font made by CreateFontIndirectW. Lock held.
bool FontFace(HFONT font, std::wstring* face, LONG* height);

}  // namespace sim
