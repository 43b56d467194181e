// The built-in control classes of the simulated handheld: "Button" (push, default
// push, check box, auto check box, group box), "Static" (text, icon) and the
// trackbar "msctls_trackbar32". They are not registered up front: the window manager
// asks BuiltinClass for them on first use, so they are there again after a reset.
#include <map>

#include "bench_shell.h"
#include "core.h"
#include "dlg_internal.h"

namespace sim {
namespace {

struct Control {
  ControlView::Kind kind;
  UINT check = 0;
  bool pressed = false;   // mouse or Space down on a button
  bool tracking = false;  // the trackbar's thumb is held
  HFONT font = nullptr;
  HICON icon = nullptr;
  int min = 0, max = 100, pos = 0, page = 20, line = 1;
};

struct Controls {
  std::map<HWND, Control> byHwnd;
  std::map<HWND, HICON> notedIcons;
};

Controls& C() {
  static Controls* c = [] {
    auto* controls = new Controls;
    OnReset([controls] {
      controls->byHwnd.clear();
      controls->notedIcons.clear();
    });
    return controls;
  }();
  return *c;
}

Control* Ctl(HWND hwnd) {
  auto it = C().byHwnd.find(hwnd);
  return it == C().byHwnd.end() ? nullptr : &it->second;
}

// Thumb centres run from kMargin to the width less kMargin; the thumb is
// 2 * kThumbHalf + 1 pixels wide.
constexpr int kMargin = 8;
constexpr int kThumbHalf = 5;

int Clamp(int v, int lo, int hi) { return v > hi ? (v < lo ? lo : hi) : (v < lo ? lo : v); }

// Rounded a * b / c for c > 0.
long long RoundDiv(long long num, long long den) {
  return num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den);
}

int ChannelWidth(HWND hwnd) {
  RECT r{};
  WindowView v;
  if (ViewWindow(hwnd, &v)) r = v.screen;
  int w = (int)(r.right - r.left) - 2 * kMargin;
  return w < 1 ? 1 : w;
}

int ThumbX(HWND hwnd, const Control& c) {
  int span = c.max - c.min;
  if (span <= 0) return kMargin;
  return kMargin + (int)RoundDiv((long long)(c.pos - c.min) * ChannelWidth(hwnd), span);
}

int PosAt(HWND hwnd, const Control& c, int x) {
  int span = c.max - c.min;
  if (span <= 0) return c.min;
  int width = ChannelWidth(hwnd);
  return Clamp(c.min + (int)RoundDiv((long long)(x - kMargin) * span, width), c.min, c.max);
}

LRESULT Notify(HWND hwnd, UINT msg, WPARAM wp) {
  HWND parent = GetParent(hwnd);
  return parent ? SendMessageW(parent, msg, wp, (LPARAM)hwnd) : 0;
}

void NotifyCommand(HWND hwnd, WORD code) {
  Notify(hwnd, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), code));
}

// Messages every built-in control answers the same way. Returns true when handled.
bool Common(HWND hwnd, UINT msg, WPARAM wp, LRESULT* result) {
  Lock lk(Mu());
  Control* c = Ctl(hwnd);
  if (!c) return false;
  switch (msg) {
    case WM_SETFONT: c->font = (HFONT)wp; *result = 0; return true;
    case WM_GETFONT: *result = (LRESULT)c->font; return true;
    default: return false;
  }
}

void Created(HWND hwnd, ControlView::Kind kind) {
  Lock lk(Mu());
  C().byHwnd[hwnd] = Control{kind};
}

void Destroyed(HWND hwnd) {
  Lock lk(Mu());
  C().byHwnd.erase(hwnd);
  C().notedIcons.erase(hwnd);
}

DWORD Style(HWND hwnd) { return (DWORD)GetWindowLongW(hwnd, GWL_STYLE); }

// ---- Button -------------------------------------------------------------------

bool IsCheckBox(DWORD type) { return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX; }

void ButtonClicked(HWND hwnd) {
  DWORD type = Style(hwnd) & BS_TYPEMASK;
  if (type == BS_AUTOCHECKBOX) {
    Lock lk(Mu());
    if (Control* c = Ctl(hwnd)) c->check = c->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
  }
  NotifyCommand(hwnd, BN_CLICKED);
}

// Ends a press; true when it was one.
bool Release(HWND hwnd) {
  Lock lk(Mu());
  Control* c = Ctl(hwnd);
  bool was = c && c->pressed;
  if (c) c->pressed = false;
  return was;
}

void Press(HWND hwnd, bool down) {
  Lock lk(Mu());
  if (Control* c = Ctl(hwnd)) c->pressed = down;
}

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD type = Style(hwnd) & BS_TYPEMASK;
  LRESULT r = 0;
  switch (msg) {
    case WM_CREATE: Created(hwnd, ControlView::kButton); return 0;
    case WM_NCDESTROY: Destroyed(hwnd); break;
    case WM_GETDLGCODE:
      if (type == BS_GROUPBOX) return DLGC_STATIC;
      if (type == BS_DEFPUSHBUTTON) return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
      if (type == BS_PUSHBUTTON) return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
      return DLGC_BUTTON;
    case BM_GETCHECK: {
      Lock lk(Mu());
      Control* c = Ctl(hwnd);
      return c && IsCheckBox(type) ? c->check : 0;
    }
    case BM_SETCHECK: {
      Lock lk(Mu());
      // A two-state box takes anything but unchecked as checked.
      if (Control* c = Ctl(hwnd); c && IsCheckBox(type)) c->check = wp == BST_UNCHECKED ? BST_UNCHECKED : BST_CHECKED;
      return 0;
    }
    case BM_GETSTATE: {
      Lock lk(Mu());
      Control* c = Ctl(hwnd);
      if (!c) return 0;
      return (IsCheckBox(type) ? c->check : 0) | (c->pressed ? BST_PUSHED : 0) |
             (Self()->focus == hwnd ? BST_FOCUS : 0);
    }
    case BM_SETSTATE: Press(hwnd, wp != 0); return 0;
    case BM_CLICK:
      if (type != BS_GROUPBOX) ButtonClicked(hwnd);
      return 0;
    case WM_LBUTTONDOWN:
      if (type == BS_GROUPBOX) return 0;
      SetFocus(hwnd);
      Press(hwnd, true);
      return 0;
    case WM_LBUTTONUP: {
      RECT rc;
      GetClientRect(hwnd, &rc);
      POINT pt{(SHORT)LOWORD(lp), (SHORT)HIWORD(lp)};
      // Released outside the button: no click, as when the finger slides off.
      if (Release(hwnd) && PtInRect(&rc, pt)) ButtonClicked(hwnd);
      return 0;
    }
    case WM_KEYDOWN:
      if (wp == VK_SPACE && type != BS_GROUPBOX) Press(hwnd, true);
      return 0;
    case WM_KEYUP:
      if (wp == VK_SPACE && Release(hwnd)) ButtonClicked(hwnd);
      return 0;
    case WM_KILLFOCUS: Press(hwnd, false); return 0;
    default:
      if (Common(hwnd, msg, wp, &r)) return r;
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

// ---- Static -------------------------------------------------------------------

LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD style = Style(hwnd);
  bool icon = (style & SS_TYPEMASK) == SS_ICON;
  LRESULT r = 0;
  switch (msg) {
    case WM_CREATE: Created(hwnd, ControlView::kStatic); return 0;
    case WM_NCDESTROY: Destroyed(hwnd); break;
    case WM_GETDLGCODE: return DLGC_STATIC;
    case STM_SETIMAGE:
    case STM_SETICON: {
      HICON next = (HICON)(msg == STM_SETICON ? wp : (WPARAM)lp);
      // Only an icon static takes an icon; any other image type is not one it shows.
      if (!icon || (msg == STM_SETIMAGE && wp != IMAGE_ICON)) return 0;
      Lock lk(Mu());
      Control* c = Ctl(hwnd);
      if (!c) return 0;
      HICON old = c->icon;
      c->icon = next;
      return (LRESULT)old;
    }
    case STM_GETIMAGE:
    case STM_GETICON: {
      if (!icon || (msg == STM_GETIMAGE && wp != IMAGE_ICON)) return 0;
      Lock lk(Mu());
      Control* c = Ctl(hwnd);
      return c ? (LRESULT)c->icon : 0;
    }
    case WM_LBUTTONDOWN:
      // The press, not the release, is the click of a static.
      if (style & SS_NOTIFY) NotifyCommand(hwnd, STN_CLICKED);
      return 0;
    default:
      if (Common(hwnd, msg, wp, &r)) return r;
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

// ---- Trackbar -----------------------------------------------------------------

void Scroll(HWND hwnd, WORD code, int pos) {
  UINT msg = (Style(hwnd) & TBS_VERT) ? WM_VSCROLL : WM_HSCROLL;
  Notify(hwnd, msg, MAKEWPARAM(code, (WORD)pos));
}

// Moves the position by delta as a key or page tap does; false when nothing moved.
bool Step(HWND hwnd, int delta, int* pos) {
  Lock lk(Mu());
  Control* c = Ctl(hwnd);
  if (!c) return false;
  int next = Clamp(c->pos + delta, c->min, c->max);
  bool moved = next != c->pos;
  c->pos = next;
  *pos = next;
  return moved;
}

LRESULT CALLBACK TrackbarProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT r = 0;
  switch (msg) {
    case WM_CREATE: Created(hwnd, ControlView::kTrackbar); return 0;
    case WM_NCDESTROY: Destroyed(hwnd); break;
    case WM_GETDLGCODE: return DLGC_WANTARROWS;
    case TBM_GETPOS:
    case TBM_GETRANGEMIN:
    case TBM_GETRANGEMAX:
    case TBM_GETPAGESIZE:
    case TBM_GETLINESIZE: {
      Lock lk(Mu());
      Control* c = Ctl(hwnd);
      if (!c) return 0;
      switch (msg) {
        case TBM_GETPOS: return c->pos;
        case TBM_GETRANGEMIN: return c->min;
        case TBM_GETRANGEMAX: return c->max;
        case TBM_GETPAGESIZE: return c->page;
        default: return c->line;
      }
    }
    case TBM_SETRANGE:
    case TBM_SETRANGEMIN:
    case TBM_SETRANGEMAX:
    case TBM_SETPOS:
    case TBM_SETPAGESIZE:
    case TBM_SETLINESIZE: {
      Lock lk(Mu());
      Control* c = Ctl(hwnd);
      if (!c) return 0;
      LRESULT old = 0;
      switch (msg) {
        case TBM_SETRANGE:
          c->min = (SHORT)LOWORD(lp);
          c->max = (SHORT)HIWORD(lp);
          c->page = (c->max - c->min) / 5 ? (c->max - c->min) / 5 : 1;
          break;
        case TBM_SETRANGEMIN: c->min = (int)lp; break;
        case TBM_SETRANGEMAX: c->max = (int)lp; break;
        case TBM_SETPOS: c->pos = (int)lp; break;
        case TBM_SETPAGESIZE: old = c->page; c->page = (int)lp; break;
        default: old = c->line; c->line = (int)lp; break;
      }
      // The position always lies within the range; a range upside down pins it to min.
      c->pos = Clamp(c->pos, c->min, c->max < c->min ? c->min : c->max);
      return old;
    }
    case WM_LBUTTONDOWN: {
      SetFocus(hwnd);
      int x = (SHORT)LOWORD(lp), pos = 0, delta = 0;
      {
        Lock lk(Mu());
        Control* c = Ctl(hwnd);
        if (!c) return 0;
        int thumb = ThumbX(hwnd, *c);
        if (x >= thumb - kThumbHalf && x <= thumb + kThumbHalf) c->tracking = true;
        else delta = x < thumb ? -c->page : c->page;
      }
      if (delta && Step(hwnd, delta, &pos)) Scroll(hwnd, delta < 0 ? TB_PAGEUP : TB_PAGEDOWN, pos);
      return 0;
    }
    case WM_MOUSEMOVE: {
      int pos = 0;
      bool moved = false;
      {
        Lock lk(Mu());
        Control* c = Ctl(hwnd);
        if (!c || !c->tracking) return 0;
        pos = PosAt(hwnd, *c, (SHORT)LOWORD(lp));
        moved = pos != c->pos;
        c->pos = pos;
      }
      if (moved) Scroll(hwnd, TB_THUMBTRACK, pos);
      return 0;
    }
    case WM_LBUTTONUP: {
      bool tracked = false;
      int pos = 0;
      {
        Lock lk(Mu());
        Control* c = Ctl(hwnd);
        if (!c) return 0;
        tracked = c->tracking;
        c->tracking = false;
        pos = c->pos;
      }
      if (tracked) Scroll(hwnd, TB_THUMBPOSITION, pos);
      Scroll(hwnd, TB_ENDTRACK, 0);
      return 0;
    }
    case WM_KEYDOWN: {
      int line = 0, page = 0, pos = 0;
      {
        Lock lk(Mu());
        Control* c = Ctl(hwnd);
        if (!c) return 0;
        line = c->line;
        page = c->page;
      }
      WORD code;
      int delta;
      switch (wp) {
        case VK_LEFT: case VK_UP: code = TB_LINEUP; delta = -line; break;
        case VK_RIGHT: case VK_DOWN: code = TB_LINEDOWN; delta = line; break;
        case VK_PRIOR: code = TB_PAGEUP; delta = -page; break;
        case VK_NEXT: code = TB_PAGEDOWN; delta = page; break;
        default: return 0;
      }
      if (Step(hwnd, delta, &pos)) Scroll(hwnd, code, pos);
      return 0;
    }
    case WM_KEYUP:
      if (wp == VK_LEFT || wp == VK_UP || wp == VK_RIGHT || wp == VK_DOWN || wp == VK_PRIOR || wp == VK_NEXT)
        Scroll(hwnd, TB_ENDTRACK, 0);
      return 0;
    default:
      if (Common(hwnd, msg, wp, &r)) return r;
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

bool BuiltinClass(const std::wstring& name, WNDCLASSW* wc) {
  *wc = WNDCLASSW{};
  if (name == L"button") wc->lpfnWndProc = ButtonProc, wc->lpszClassName = L"Button";
  else if (name == L"static") wc->lpfnWndProc = StaticProc, wc->lpszClassName = L"Static";
  else if (name == L"msctls_trackbar32") wc->lpfnWndProc = TrackbarProc, wc->lpszClassName = TRACKBAR_CLASSW;
  // The handheld names its dialog class "Dialog" (the desktop says "#32770").
  else if (name == L"dialog") wc->lpfnWndProc = DefDlgProcW, wc->lpszClassName = L"Dialog";
  else return false;
  return true;
}

bool ViewControl(HWND hwnd, ControlView* out) {
  Control* c = Ctl(hwnd);
  if (!c) return false;
  out->kind = c->kind;
  out->check = c->check;
  out->font = c->font;
  out->icon = c->icon;
  out->min = c->min;
  out->max = c->max;
  out->pos = c->pos;
  return true;
}

bool TrackbarThumbX(HWND hwnd, int pos, int* x) {
  Control* c = Ctl(hwnd);
  if (!c || c->kind != ControlView::kTrackbar) return false;
  Control at = *c;
  at.pos = Clamp(pos, at.min, at.max);
  *x = ThumbX(hwnd, at);
  return true;
}

bool HitTransparent(const WindowView& v) {
  Control* c = Ctl(v.hwnd);
  if (!c) return false;
  if (c->kind == ControlView::kButton) return (v.style & BS_TYPEMASK) == BS_GROUPBOX;
  if (c->kind == ControlView::kStatic) return !(v.style & SS_NOTIFY);
  return false;
}

void NoteControlIcon(HWND control, HICON icon) { C().notedIcons[control] = icon; }

}  // namespace sim

void WINAPI InitCommonControls(void) {}

namespace bench {
using namespace sim;
HICON ControlIcon(HWND control) {
  Lock lk(Mu());
  // A built-in static shows what it holds; a control of the program's own class
  // shows what SendDlgItemMessageW last gave it.
  if (Control* c = Ctl(control); c && c->kind == ControlView::kStatic) return c->icon;
  auto it = C().notedIcons.find(control);
  return it == C().notedIcons.end() ? nullptr : it->second;
}
}  // namespace bench
