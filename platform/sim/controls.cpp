// The built-in control classes of the simulated handheld: "Button" (push, default
// push, check box, auto check box, group box), "Static" (text, icon), the trackbar
// "msctls_trackbar32" and "Edit" (single and multi-line text, no pixels). They are not registered up front: the window manager
// asks BuiltinClass for them on first use, so they are there again after a reset.
#include <algorithm>
#include <functional>
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
  int caret = 0, anchor = 0;  // edit: the caret and the selection's other end, UTF-16 units
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
    case WM_SETFONT: c->font = (HFONT)wp; *result = 0; ScreenChanged(); return true;
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
    ScreenChanged();
  }
  NotifyCommand(hwnd, BN_CLICKED);
}

// Ends a press; true when it was one.
bool Release(HWND hwnd) {
  Lock lk(Mu());
  Control* c = Ctl(hwnd);
  bool was = c && c->pressed;
  if (c) c->pressed = false;
  if (was) ScreenChanged();
  return was;
}

void Press(HWND hwnd, bool down) {
  Lock lk(Mu());
  if (Control* c = Ctl(hwnd); c && c->pressed != down) {
    c->pressed = down;
    ScreenChanged();
  }
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
      ScreenChanged();
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
      ScreenChanged();
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
  if (moved) ScreenChanged();
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
      ScreenChanged();
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
        if (moved) ScreenChanged();
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


// ---- Edit -----------------------------------------------------------------------
//
// The text lives in the window's title (what GetWindowTextW, WM_GETTEXT and the bench
// read); caret and selection count UTF-16 units, as EM_GETSEL does on Windows, so the
// numbers agree with a Windows build whatever the width of WCHAR.

std::u16string ToUtf16(const std::wstring& w) {
  std::u16string out;
  for (WCHAR ch : w) {
    uint32_t c = (uint32_t)ch;
    if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      out += (char16_t)(0xD800 | (c >> 10));
      out += (char16_t)(0xDC00 | (c & 0x3FF));
    } else {
      out += (char16_t)(c > 0x10FFFF ? 0xFFFD : c);
    }
  }
  return out;
}

bool High(char16_t c) { return c >= 0xD800 && c < 0xDC00; }
bool Low(char16_t c) { return c >= 0xDC00 && c < 0xE000; }

// Pairs become one character again; a lone surrogate stays as it is.
std::wstring FromUtf16(const std::u16string& u) {
  std::wstring out;
  for (size_t i = 0; i < u.size(); ++i) {
    if (sizeof(WCHAR) > 2 && High(u[i]) && i + 1 < u.size() && Low(u[i + 1])) {
      out += (WCHAR)(0x10000 + ((u[i] - 0xD800) << 10) + (u[i + 1] - 0xDC00));
      ++i;
    } else {
      out += (WCHAR)u[i];
    }
  }
  return out;
}

// A line break "\r\n" and a surrogate pair are each one step of the caret.
bool Pair(const std::u16string& t, int i) {
  return i >= 0 && i + 1 < (int)t.size() && ((t[i] == u'\r' && t[i + 1] == u'\n') || (High(t[i]) && Low(t[i + 1])));
}
int Before(const std::u16string& t, int i) { return i <= 0 ? 0 : Pair(t, i - 2) ? i - 2 : i - 1; }
int After(const std::u16string& t, int i) {
  int n = (int)t.size();
  return i >= n ? n : Pair(t, i) ? i + 2 : i + 1;
}
int LineStart(const std::u16string& t, int i) {
  while (i > 0 && !(t[i - 1] == u'\n' && i >= 2 && t[i - 2] == u'\r')) --i;
  return i;
}
int LineEnd(const std::u16string& t, int i) {
  int n = (int)t.size();
  while (i < n && !(t[i] == u'\r' && i + 1 < n && t[i + 1] == u'\n')) ++i;
  return i;
}
// Keeps a caret that a column or EM_SETSEL put inside a pair at its start.
int Snap(const std::u16string& t, int i) {
  int n = (int)t.size();
  i = Clamp(i, 0, n);
  return i > 0 && Pair(t, i - 1) ? i - 1 : i;
}

struct EditState {
  std::u16string text;
  int caret = 0, anchor = 0;
  bool multiline = false;
  int Start() const { return caret < anchor ? caret : anchor; }
  int End() const { return caret < anchor ? anchor : caret; }
  void Replace(const std::u16string& with) {
    int at = Start();
    text.replace((size_t)at, (size_t)(End() - at), with);
    caret = anchor = at + (int)with.size();
  }
};

// Runs op on the edit's text and caret under the lock and stores what it left; true
// when the text changed.
bool EditOp(HWND hwnd, const std::function<void(EditState&)>& op) {
  Lock lk(Mu());
  Control* c = Ctl(hwnd);
  WindowView v;
  if (!c || c->kind != ControlView::kEdit || !ViewWindow(hwnd, &v)) return false;
  EditState e;
  e.text = ToUtf16(v.title);
  e.caret = Clamp(c->caret, 0, (int)e.text.size());
  e.anchor = Clamp(c->anchor, 0, (int)e.text.size());
  e.multiline = (v.style & ES_MULTILINE) != 0;
  std::u16string before = e.text;
  op(e);
  bool changed = e.text != before;
  if (changed) SetWindowTitle(hwnd, FromUtf16(e.text));
  if (changed || e.caret != c->caret || e.anchor != c->anchor) ScreenChanged();
  c->caret = e.caret;
  c->anchor = e.anchor;
  return changed;
}

void Changed(HWND hwnd) { NotifyCommand(hwnd, EN_CHANGE); }

void TypeChar(EditState& e, WPARAM wp) {
  uint32_t ch = (uint32_t)wp;
  if (ch == '\b') {
    if (e.caret == e.anchor) e.anchor = Before(e.text, e.caret);
    e.Replace(u"");
  } else if (ch == '\r') {
    if (e.multiline) e.Replace(u"\r\n");  // a single line has no room for a break
  } else if (ch == '\t' || (ch >= 0x20 && ch <= 0x10FFFF)) {
    e.Replace(ToUtf16(std::wstring(1, (WCHAR)ch)));
  }
  // Other control characters (Ctrl+letters, '\n' alone) type nothing.
}

void KeyDown(EditState& e, WPARAM vk, bool shift) {
  const std::u16string& t = e.text;
  int to = e.caret;
  bool collapse = !shift && e.caret != e.anchor;
  switch (vk) {
    case VK_DELETE:
      if (e.caret == e.anchor) e.anchor = After(t, e.caret);
      e.Replace(u"");
      return;
    // Without Shift an arrow over a selection lands on its near end.
    case VK_LEFT: to = collapse ? e.Start() : Before(t, e.caret); break;
    case VK_RIGHT: to = collapse ? e.End() : After(t, e.caret); break;
    case VK_HOME: to = LineStart(t, e.caret); break;
    case VK_END: to = LineEnd(t, e.caret); break;
    case VK_UP:
    case VK_DOWN: {
      if (!e.multiline) return;
      int start = LineStart(t, e.caret), column = e.caret - start;
      if (vk == VK_UP) {
        if (start == 0) return;
        int prev = LineStart(t, start - 2);
        to = Snap(t, prev + std::min(column, start - 2 - prev));
      } else {
        int end = LineEnd(t, e.caret);
        if (end == (int)t.size()) return;
        int next = end + 2;
        to = Snap(t, next + std::min(column, LineEnd(t, next) - next));
      }
      break;
    }
    default: return;
  }
  e.caret = to;
  if (!shift) e.anchor = to;
}

LRESULT CALLBACK EditProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD style = Style(hwnd);
  LRESULT r = 0;
  switch (msg) {
    case WM_CREATE: Created(hwnd, ControlView::kEdit); return 0;
    case WM_NCDESTROY: Destroyed(hwnd); break;
    case WM_GETDLGCODE:
      return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS | ((style & ES_MULTILINE) ? DLGC_WANTALLKEYS : 0);
    case WM_SETTEXT: {
      BOOL ok = SetWindowTextW(hwnd, (LPCWSTR)lp);  // caret back to the start
      // As on Windows: a multi-line edit does not report text set through WM_SETTEXT.
      if (ok && !(style & ES_MULTILINE)) Changed(hwnd);
      return ok;
    }
    case EM_GETSEL: {
      int start = 0, end = 0;
      EditOp(hwnd, [&](EditState& e) { start = e.Start(), end = e.End(); });
      if (wp) *(DWORD*)wp = (DWORD)start;
      if (lp) *(DWORD*)lp = (DWORD)end;
      return start > 0xFFFF || end > 0xFFFF ? -1 : (LRESULT)(DWORD)MAKELONG(start, end);
    }
    case EM_SETSEL:
      EditOp(hwnd, [&](EditState& e) {
        int n = (int)e.text.size();
        int start = (int)(INT_PTR)wp, end = (int)(INT_PTR)lp;
        if (start < 0) {  // -1: drop the selection, caret where it is
          e.anchor = e.caret;
          return;
        }
        e.anchor = Snap(e.text, std::min(start, n));
        e.caret = end < 0 ? n : Snap(e.text, std::min(end, n));
      });
      return 0;
    case EM_REPLACESEL: {
      std::u16string with = ToUtf16(lp ? (LPCWSTR)lp : L"");
      if (EditOp(hwnd, [&](EditState& e) { e.Replace(with); })) Changed(hwnd);
      return 0;
    }
    case WM_CHAR:
      if (style & ES_READONLY) return 0;
      if (EditOp(hwnd, [&](EditState& e) { TypeChar(e, wp); })) Changed(hwnd);
      return 0;
    case WM_KEYDOWN: {
      if (wp == VK_DELETE && (style & ES_READONLY)) return 0;
      bool shift = GetKeyState(VK_SHIFT) < 0;
      if (EditOp(hwnd, [&](EditState& e) { KeyDown(e, wp, shift); })) Changed(hwnd);
      return 0;
    }
    case WM_LBUTTONDOWN: SetFocus(hwnd); return 0;
    case WM_SETFOCUS: NotifyCommand(hwnd, EN_SETFOCUS); return 0;
    case WM_KILLFOCUS: NotifyCommand(hwnd, EN_KILLFOCUS); return 0;
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
  else if (name == L"edit") wc->lpfnWndProc = EditProc, wc->lpszClassName = L"Edit";
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
  out->caret = c->caret;
  out->anchor = c->anchor;
  return true;
}

void ControlTextSet(HWND hwnd) {
  if (Control* c = Ctl(hwnd); c && c->kind == ControlView::kEdit) c->caret = c->anchor = 0;
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
