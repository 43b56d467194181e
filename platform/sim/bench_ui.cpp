// The bench's screen: taps and the stylus routed as the window manager would route
// them, and readers of what windows and controls show.
#include "bench_ui.h"

#include "bench_view.h"
#include "core.h"
#include "dlg_internal.h"
#include "gdi_internal.h"
#include "shell_internal.h"

using namespace sim;

namespace {

bool Contains(const RECT& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

// The window a tap at (x, y) reaches; null when none does. Lock held.
HWND HitTest(int x, int y) {
  for (HWND top : TopLevelZOrder()) {
    WindowView v;
    if (!ViewWindow(top, &v) || !v.visible || !Contains(v.screen, x, y)) continue;
    if (!v.enabled) return nullptr;
    HWND at = top;
    for (bool deeper = true; deeper;) {
      deeper = false;
      for (HWND c : ChildrenOf(at)) {
        WindowView cv;
        if (!ViewWindow(c, &cv) || !cv.visible || !cv.enabled || !Contains(cv.screen, x, y) || HitTransparent(cv))
          continue;
        at = c;
        deeper = true;
        break;
      }
    }
    return at;
  }
  return nullptr;
}

HWND RootOf(HWND h) {
  WindowView v;
  while (ViewWindow(h, &v) && v.parent) h = v.parent;
  return h;
}

LPARAM ClientPoint(HWND h, int x, int y) {
  WindowView v;
  ViewWindow(h, &v);
  return MAKELPARAM(x - v.screen.left, y - v.screen.top);
}

// Brings the tapped window's top-level window forward, as a tap activates it.
void Activate(HWND target) {
  HWND root;
  {
    Lock lk(Mu());
    root = RootOf(target);
  }
  if (root && GetForegroundWindow() != root) SetForegroundWindow(root);
}

HWND Control(HWND dialog, int id) {
  WindowView v;
  if (!ViewWindow(dialog, &v)) return nullptr;
  return ChildById(dialog, id);
}

bool ControlCentre(HWND dialog, int id, HWND* control, int* x, int* y) {
  Lock lk(Mu());
  *control = Control(dialog, id);
  WindowView v;
  if (!*control || !ViewWindow(*control, &v)) return false;
  *x = (int)(v.screen.left + v.screen.right) / 2;
  *y = (int)(v.screen.top + v.screen.bottom) / 2;
  return true;
}

bool View(HWND dialog, int id, ControlView* out) {
  HWND c = Control(dialog, id);
  return c && ViewControl(c, out);
}

// The stylus, while it touches the screen: the window it pressed keeps it (capture).
struct Stylus {
  HWND pressed = nullptr;
  int x = 0, y = 0;  // where it was last, on the screen
};

Stylus& Pen() {
  static Stylus* s = [] {
    auto* stylus = new Stylus;
    OnReset([stylus] { *stylus = Stylus{}; });
    return stylus;
  }();
  return *s;
}

// Sends a captured stylus event to the pressed window; false (and the stylus let go)
// when that window is gone. Lock held.
bool ToPressed(UINT msg, WPARAM wp, int x, int y) {
  Stylus& s = Pen();
  WindowView v;
  if (!s.pressed || !ViewWindow(s.pressed, &v)) {
    s.pressed = nullptr;
    return false;
  }
  PostInputTo(s.pressed, msg, wp, ClientPoint(s.pressed, x, y));
  s.x = x, s.y = y;
  return true;
}

void AddChildren(HWND parent, std::vector<bench::ChildView>* out) {
  for (HWND h : ChildrenOf(parent)) {
    WindowView v;
    if (!ViewWindow(h, &v)) continue;
    bench::ChildView c;
    c.hwnd = h;
    c.id = (int)v.id;
    c.cls = Narrow(v.cls.c_str());
    c.text = Narrow(v.title.c_str());
    c.style = v.style;
    c.rect = v.screen;
    c.visible = v.visible;
    c.enabled = v.enabled;
    ThreadRec* t = FindThread(v.tid);
    c.focused = t && t->focus == h;
    ControlView cv;
    if (ViewControl(h, &cv)) {
      DWORD type = v.style & BS_TYPEMASK;
      if (cv.kind == ControlView::kButton && (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX)) c.check = (int)cv.check;
      int x = 0;
      if (cv.kind == ControlView::kTrackbar && TrackbarThumbX(h, cv.pos, &x)) {
        c.pos = cv.pos, c.min = cv.min, c.max = cv.max;
        c.thumbX = (int)v.screen.left + x;
      }
      if (cv.kind == ControlView::kStatic) c.iconId = IconResourceId(cv.icon);
      std::wstring face;
      LONG height = 0;
      if (cv.font && FontFace(cv.font, &face, &height)) c.fontFace = Narrow(face.c_str()), c.fontHeight = height;
      if (cv.kind == ControlView::kEdit) c.caret = cv.caret, c.selEnd = cv.anchor;
    }
    out->push_back(c);
    AddChildren(h, out);
  }
}

}  // namespace

namespace bench {

HWND Tap(int x, int y) {
  HWND target;
  {
    Lock lk(Mu());
    target = HitTest(x, y);
  }
  if (!target) return nullptr;
  Activate(target);
  Lock lk(Mu());
  WindowView still;
  if (!ViewWindow(target, &still)) return nullptr;  // gone while it came forward
  LPARAM at = ClientPoint(target, x, y);
  PostInputTo(target, WM_LBUTTONDOWN, 0x0001 /* MK_LBUTTON */, at);
  PostInputTo(target, WM_LBUTTONUP, 0, at);
  return target;
}

HWND TapControl(HWND dialog, int id) {
  HWND control;
  int x, y;
  if (!ControlCentre(dialog, id, &control, &x, &y)) return nullptr;
  HWND got = Tap(x, y);
  return got == control ? got : nullptr;
}

HWND ToggleCheckBox(HWND dialog, int id) {
  {
    Lock lk(Mu());
    ControlView cv;
    if (!View(dialog, id, &cv) || cv.kind != ControlView::kButton) return nullptr;
  }
  return TapControl(dialog, id);
}

bool DragTrackbar(HWND dialog, int id, int pos) {
  HWND control;
  int x, y;
  if (!ControlCentre(dialog, id, &control, &x, &y)) return false;
  Lock lk(Mu());
  WindowView v;
  ControlView cv;
  int from, to;
  if (!ViewControl(control, &cv) || cv.kind != ControlView::kTrackbar || !ViewWindow(control, &v) ||
      !TrackbarThumbX(control, cv.pos, &from) || !TrackbarThumbX(control, pos, &to))
    return false;
  if (HitTest((int)v.screen.left + from, y) != control) return false;
  LPARAM down = MAKELPARAM(from, y - v.screen.top), up = MAKELPARAM(to, y - v.screen.top);
  PostInputTo(control, WM_LBUTTONDOWN, 0x0001, down);
  PostInputTo(control, WM_MOUSEMOVE, 0x0001, up);
  PostInputTo(control, WM_LBUTTONUP, 0, up);
  return true;
}

std::string ControlText(HWND dialog, int id) {
  Lock lk(Mu());
  WindowView v;
  HWND c = Control(dialog, id);
  return c && ViewWindow(c, &v) ? Narrow(v.title.c_str()) : std::string();
}

int CheckState(HWND dialog, int id) {
  Lock lk(Mu());
  ControlView cv;
  WindowView v;
  if (!View(dialog, id, &cv) || cv.kind != ControlView::kButton || !ViewWindow(Control(dialog, id), &v))
    return -1;
  DWORD type = v.style & BS_TYPEMASK;
  return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX ? (int)cv.check : -1;
}

int TrackbarPos(HWND dialog, int id) {
  Lock lk(Mu());
  ControlView cv;
  return View(dialog, id, &cv) && cv.kind == ControlView::kTrackbar ? cv.pos : -1;
}

Range TrackbarRange(HWND dialog, int id) {
  Lock lk(Mu());
  ControlView cv;
  Range r;
  if (View(dialog, id, &cv) && cv.kind == ControlView::kTrackbar) r.min = cv.min, r.max = cv.max;
  return r;
}

FontView ControlFont(HWND dialog, int id) {
  Lock lk(Mu());
  ControlView cv;
  FontView f;
  std::wstring face;
  LONG height = 0;
  if (View(dialog, id, &cv) && cv.font && FontFace(cv.font, &face, &height)) {
    f.present = true;
    f.face = Narrow(face.c_str());
    f.height = height;
  }
  return f;
}

HICON WindowIcon(HWND hwnd, int which) {
  Lock lk(Mu());
  WindowView v;
  return ViewWindow(hwnd, &v) && (which == ICON_SMALL || which == ICON_BIG) ? v.icons[which] : nullptr;
}

bool IsEnabled(HWND hwnd) {
  Lock lk(Mu());
  WindowView v;
  return ViewWindow(hwnd, &v) && v.enabled;
}

std::vector<TopLevelWindow> TopLevelWindows() {
  Lock lk(Mu());
  std::vector<TopLevelWindow> out;
  for (HWND h : TopLevelZOrder()) {
    WindowView v;
    if (!ViewWindow(h, &v)) continue;
    out.push_back(TopLevelWindow{h, Narrow(v.cls.c_str()), Narrow(v.title.c_str()), v.screen, v.visible, v.enabled});
  }
  return out;
}

// ---- the stylus ----

HWND StylusDown(int x, int y) {
  {
    Lock lk(Mu());
    Stylus& s = Pen();
    // A second press without a lift: lift where it was first.
    if (s.pressed) ToPressed(WM_LBUTTONUP, 0, s.x, s.y);
    s.pressed = nullptr;
  }
  HWND target;
  {
    Lock lk(Mu());
    target = HitTest(x, y);
  }
  if (!target) return nullptr;
  Activate(target);
  Lock lk(Mu());
  WindowView still;
  if (!ViewWindow(target, &still)) return nullptr;  // gone while it came forward
  Stylus& s = Pen();
  s.pressed = target;
  ToPressed(WM_LBUTTONDOWN, MK_LBUTTON, x, y);
  return target;
}

void StylusMove(int x, int y) {
  Lock lk(Mu());
  ToPressed(WM_MOUSEMOVE, MK_LBUTTON, x, y);
}

void StylusUp(int x, int y) {
  Lock lk(Mu());
  ToPressed(WM_LBUTTONUP, 0, x, y);
  Pen().pressed = nullptr;
}

std::vector<ChildView> ChildWindows(HWND parent) {
  Lock lk(Mu());
  std::vector<ChildView> out;
  AddChildren(parent, &out);
  return out;
}

void NoteViewChange() { ScreenChanged(); }

}  // namespace bench
