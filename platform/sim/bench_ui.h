// The bench as the user's hands and eyes on the handheld's screen: taps, check boxes,
// trackbar drags, and what dialogs and windows show. Host builds only.
//
// Every call may be made from the test's own thread while the program's threads run.
// The hands only queue input for the thread owning the window; call bench::Settle()
// afterwards before looking at the outcome. The eyes read the state directly and never
// wait for the program.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace bench {

// A tap at a screen point: WM_LBUTTONDOWN then WM_LBUTTONUP (client coordinates) queued
// as input for the thread owning the deepest visible, enabled window under the point.
// Z-order: the foreground window lies on top, then the other top-level windows, the
// last made or brought forward first; among siblings the first made is on top. Group boxes and statics without
// SS_NOTIFY let the tap through to what lies beneath. A disabled top-level window on
// top swallows the tap. A top-level window tapped while not in the foreground is
// brought there first. Returns the window that got the tap (null: none).
HWND Tap(int x, int y);
// A tap on the centre of a dialog's control; null when there is none or the tap landed
// elsewhere (something covers it).
HWND TapControl(HWND dialog, int id);
// The user taps a check box to flip it.
HWND ToggleCheckBox(HWND dialog, int id);
// The user presses the trackbar's thumb, slides it to where `pos` lies and lets go
// (WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_LBUTTONUP). Where the range has more positions
// than the channel has pixels, the thumb lands on the position of the nearest pixel,
// as a finger would: read TrackbarPos for where it ended. Returns false when the control is
// not a trackbar, is hidden or disabled, or something covers its thumb.
bool DragTrackbar(HWND dialog, int id, int pos);

// What the screen shows. Readers of a control that does not exist (or is not of the
// kind asked) give the empty value: "", -1, {0, 0}, no font.
std::string ControlText(HWND dialog, int id);  // UTF-8
int CheckState(HWND dialog, int id);           // BST_UNCHECKED / BST_CHECKED; -1: not a check box
int TrackbarPos(HWND dialog, int id);          // -1: not a trackbar
struct Range {
  int min = 0;
  int max = 0;
};
Range TrackbarRange(HWND dialog, int id);
struct FontView {
  bool present = false;  // false: no WM_SETFONT yet (the system font), or not a font we made
  std::string face;      // UTF-8
  int height = 0;        // lfHeight as given to CreateFontIndirectW
};
FontView ControlFont(HWND dialog, int id);
HICON WindowIcon(HWND hwnd, int which);  // ICON_SMALL or ICON_BIG, as set by WM_SETICON
bool IsEnabled(HWND hwnd);

struct TopLevelWindow {
  HWND hwnd = nullptr;
  std::string cls;    // UTF-8
  std::string title;  // UTF-8
  RECT rect{};        // screen coordinates
  bool visible = false;
  bool enabled = false;
};
// Every top-level window, hidden ones too, in z-order (topmost first).
std::vector<TopLevelWindow> TopLevelWindows();

// Fonts (and later other GDI objects) made and not yet deleted, stock objects aside:
// the program's own, and the font each open dialog made from its template's DS_SETFONT.
int LiveGdiObjects();

}  // namespace bench
