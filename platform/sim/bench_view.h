// The bench as a person in front of the running handheld: a stylus that presses,
// slides and lifts, message boxes that wait for an answer, what every window and
// control shows, and a count of changes to wait on, so a viewer redraws only when
// something changed. Host builds only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/bench_gdi.h"

namespace bench {

// ---- the stylus ----------------------------------------------------------------

// Pressed at a screen point: WM_LBUTTONDOWN (MK_LBUTTON) for the window a tap there
// reaches (the same routing as Tap, its top-level window brought forward). Moves and
// the lift go to that same window, in its client coordinates, wherever they land, as
// a captured stylus does. Returns the window pressed (null: none; then moves and the
// lift do nothing). A press while pressed lifts first where it was.
HWND StylusDown(int x, int y);
void StylusMove(int x, int y);  // WM_MOUSEMOVE (MK_LBUTTON); nothing when not pressed
void StylusUp(int x, int y);    // WM_LBUTTONUP; nothing when not pressed

// ---- message boxes that wait -----------------------------------------------------

// On: MessageBoxW and MessageBoxA block the calling thread (counted idle, like any
// wait) until a person answers with AnswerOpenMessageBox; queued answers
// (AnswerNextMessageBox) are still used first. As with a real box, the owner is
// disabled while it is open and the thread's other messages (timers, posts, sends)
// are still dispatched. Off (the default, and after Reset): boxes never block.
// Switching it off, or a Reset, answers every open box with its default button.
void HoldMessageBoxes(bool hold);
struct OpenBox {
  int id = 0;  // unique for the process's life
  HWND owner = nullptr;
  std::string text;     // UTF-8
  std::string caption;  // UTF-8
  UINT type = 0;
  std::vector<int> buttons;  // the answers its buttons give, left to right (IDYES, IDNO, ...)
  std::vector<std::string> words;  // what those buttons say, in the handheld's language (UTF-8)
  int defaultButton = 0;     // the answer Enter would give
};
// Boxes waiting for an answer, oldest first (the newest lies on top).
std::vector<OpenBox> OpenMessageBoxes();
// The handheld's own language, in which its message boxes word their buttons: a national
// build's code (USA, FRA, GER, ESP, PTB, ITA). USA until set and after Reset; false, and
// nothing changed, for another code.
bool SetDeviceLanguage(const std::string& code);
// Answers box `id` with one of its buttons. False, and nothing changed, when there is
// no such open box or `answer` is not one of its buttons.
bool AnswerOpenMessageBox(int id, int answer);

// ---- what windows and controls show -----------------------------------------------

struct ChildView {
  HWND hwnd = nullptr;
  int id = 0;
  std::string cls;   // UTF-8, as registered ("Button", "Static", "msctls_trackbar32", "Edit", ...)
  std::string text;  // UTF-8
  DWORD style = 0;
  RECT rect{};       // on the screen
  bool visible = false;  // itself and every ancestor
  bool enabled = false;
  bool focused = false;  // it has its thread's focus
  int check = -1;                   // check boxes: BST_*; else -1
  int pos = -1, min = 0, max = 0;   // trackbars; pos -1 for others
  int thumbX = -1;                  // trackbars: the thumb's centre, screen x
  int iconId = 0;                   // statics showing an icon: its resource id
  std::string fontFace;             // the font it was given (empty: the system font)
  int fontHeight = 0;
  // Edit controls, in UTF-16 units: where the caret stands, and the other end of the
  // selection (equal to caret when nothing is selected). -1 for other windows.
  int caret = -1, selEnd = -1;
};
// A window's children in z-order (topmost first), and theirs after each, depth first.
std::vector<ChildView> ChildWindows(HWND parent);

// A tray icon with its window and id, in the order they were added.
struct TrayEntry {
  HWND hwnd = nullptr;
  UINT id = 0;
  HICON icon = nullptr;
  int iconId = 0;
  std::string tip;  // UTF-8
};
std::vector<TrayEntry> TrayIcons();

// An icon's picture: 0xAARRGGBB, alpha 0 where its mask leaves it transparent, else
// 0xFF. Empty (0 x 0) for an unknown handle.
Pixels IconPixels(HICON icon);

// ---- changes ----------------------------------------------------------------------

// A count that grows whenever what the screen shows may have changed: a window made,
// destroyed, shown, hidden, moved, brought forward or retitled, the focus moved, a
// paint or a DC given back, a control's state, the tray, a menu bar, a message box
// opened or answered.
uint64_t ScreenChanges();
// Waits (real time) until the count differs from `seen` or `timeoutMs` pass (0 or
// less: not at all); returns the count. Never counted as a simulated thread's wait,
// and never holds the simulation's lock while it waits.
uint64_t WaitScreenChange(uint64_t seen, int timeoutMs);
// Something a viewer shows beside the screen changed (the keyboard's line, say): the
// count grows as for a change of the screen.
void NoteViewChange();

}  // namespace bench
