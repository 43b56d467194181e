// Windows, per-thread message queues, timers and keyboard input of the simulated
// handheld.
#include <algorithm>
#include <cstdarg>
#include <map>

#include "bench.h"
#include "core.h"
#include "dlg_internal.h"
#include "gdi_internal.h"
#include "instance.h"
#include "shell_internal.h"

namespace sim {

struct SentMsg {
  HWND hwnd;
  UINT msg;
  WPARAM wp;
  LPARAM lp;
  LRESULT result = 0;
  bool done = false;
  ThreadRec* sender = nullptr;  // null: nobody waits for the answer
};

struct Timer {
  HWND hwnd;
  UINT_PTR id;
  DWORD tid;
  UINT period;
  TIMERPROC proc;
  uint64_t token = 0;
  bool ready = false;
  uint64_t readySeq = 0;
};

namespace {

struct ClassRec {
  std::wstring name;
  WNDCLASSW wc;
};

struct WindowRec {
  HWND hwnd;
  std::shared_ptr<ClassRec> cls;
  std::wstring title;
  DWORD style = 0, exStyle = 0;
  HWND parent = nullptr;
  DWORD tid = 0;
  RECT rect{};  // relative to the parent's client area (screen for top-level windows)
  bool visible = false;
  bool destroying = false;
  bool needsPaint = false;
  bool needsErase = false;  // the background goes first at the next BeginPaint
  WNDPROC proc = nullptr;
  HINSTANCE inst = nullptr;
  LONG_PTR id = 0;
  std::map<int, LONG_PTR> longs;
  std::vector<HWND> children;
  HICON icons[2] = {};  // ICON_SMALL, ICON_BIG
};

struct HotKey {
  HWND hwnd;
  DWORD tid;
  int id;
  UINT mods;
  UINT vk;
};

struct User {
  std::map<std::wstring, std::shared_ptr<ClassRec>> classes;  // by lower-case name
  std::map<HWND, std::shared_ptr<WindowRec>> windows;
  std::vector<HWND> order;  // creation order, newest last; a window brought forward moves last
  uintptr_t nextHwnd = 0x20000;
  std::vector<std::shared_ptr<Timer>> timers;
  uint64_t readySeq = 0;
  UINT_PTR nextThreadTimer = 0x7FFF0000;
  std::vector<HotKey> hotkeys;
  HWND foreground = nullptr;
  BYTE keys[256] = {};
};

User& U() {
  static User* u = [] {
    auto* user = new User;
    OnReset([user] {
      user->classes.clear();
      user->windows.clear();
      user->order.clear();
      user->timers.clear();
      user->hotkeys.clear();
      user->foreground = nullptr;
      std::fill(std::begin(user->keys), std::end(user->keys), 0);
    });
    return user;
  }();
  return *u;
}

std::wstring Lower(const WCHAR* s) {
  std::wstring out;
  for (; s && *s; ++s) out += (WCHAR)towlower(*s);
  return out;
}

WindowRec* Win(HWND hwnd) {
  auto& w = U().windows;
  auto it = w.find(hwnd);
  return it == w.end() ? nullptr : it->second.get();
}

HWND Root(HWND hwnd) {
  WindowRec* w = Win(hwnd);
  while (w && w->parent && Win(w->parent)) w = Win(w->parent);
  return w ? w->hwnd : nullptr;
}

bool IsSelfOrDescendant(HWND ancestor, HWND hwnd) {
  for (WindowRec* w = Win(hwnd); w; w = w->parent ? Win(w->parent) : nullptr)
    if (w->hwnd == ancestor) return true;
  return false;
}

// Call a window procedure with the lock released.
LRESULT CallProc(Lock& lk, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  WindowRec* w = Win(hwnd);
  if (!w || !w->proc) return 0;
  WNDPROC proc = w->proc;
  lk.unlock();
  LRESULT r = proc(hwnd, msg, wp, lp);
  lk.lock();
  return r;
}

void Complete(const std::shared_ptr<SentMsg>& m, LRESULT result) {
  m->result = result;
  m->done = true;
  Wake(m->sender);
}

// Deliver a message that another thread must process, without waiting for it.
void Notify(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  WindowRec* w = Win(hwnd);
  if (!w) return;
  ThreadRec* t = FindThread(w->tid);
  if (!t) return;
  auto m = std::make_shared<SentMsg>();
  *m = SentMsg{hwnd, msg, wp, lp};
  t->sent.push_back(m);
  Wake(t);
}

// Same thread: a direct call. Another thread: queued without waiting.
void SendOrNotify(Lock& lk, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  WindowRec* w = Win(hwnd);
  if (!w) return;
  if (w->tid == Self()->id) CallProc(lk, hwnd, msg, wp, lp);
  else Notify(hwnd, msg, wp, lp);
}

bool ProcessOneSent(Lock& lk, ThreadRec* t) {
  if (t->sent.empty()) return false;
  auto m = t->sent.front();
  t->sent.pop_front();
  LRESULT r = Win(m->hwnd) ? CallProc(lk, m->hwnd, m->msg, m->wp, m->lp) : 0;
  Complete(m, r);
  return true;
}

bool Matches(const MSG& m, HWND filter, UINT lo, UINT hi) {
  if (filter && !IsSelfOrDescendant(filter, m.hwnd)) return false;
  if (lo == 0 && hi == 0) return true;
  return m.message >= lo && m.message <= hi;
}

bool TakeFrom(std::deque<MSG>& q, MSG* out, HWND filter, UINT lo, UINT hi, bool remove) {
  for (auto it = q.begin(); it != q.end(); ++it) {
    if (!Matches(*it, filter, lo, hi)) continue;
    *out = *it;
    if (remove) q.erase(it);
    return true;
  }
  return false;
}

Timer* ReadyTimer(ThreadRec* t, HWND filter, UINT lo, UINT hi) {
  Timer* best = nullptr;
  for (auto& tm : U().timers) {
    if (!tm->ready || tm->tid != t->id) continue;
    if (!(lo == 0 && hi == 0) && !(WM_TIMER >= lo && WM_TIMER <= hi)) continue;
    if (filter && !(tm->hwnd && IsSelfOrDescendant(filter, tm->hwnd))) continue;
    if (!best || tm->readySeq < best->readySeq) best = tm.get();
  }
  return best;
}

WindowRec* PaintPending(ThreadRec* t, HWND filter) {
  for (HWND h : U().order) {
    WindowRec* w = Win(h);
    if (w && w->tid == t->id && w->needsPaint && w->visible && !w->destroying &&
        (!filter || IsSelfOrDescendant(filter, h)))
      return w;
  }
  return nullptr;
}

bool Pending(ThreadRec* t, HWND filter, UINT lo, UINT hi) {
  MSG m;
  return !t->sent.empty() || t->quit || TakeFrom(t->posted, &m, filter, lo, hi, false) ||
         TakeFrom(t->input, &m, filter, lo, hi, false) ||
         ((lo == 0 && hi == 0) || (WM_PAINT >= lo && WM_PAINT <= hi) ? PaintPending(t, filter) != nullptr
                                                                      : false) ||
         ReadyTimer(t, filter, lo, hi) != nullptr;
}

void ArmTimer(const std::shared_ptr<Timer>& tm, uint64_t when) {
  std::weak_ptr<Timer> weak = tm;
  tm->token = AddDeadline(when, [weak, when] {
    auto t = weak.lock();
    if (!t) return;
    // Coalesced: a timer already waiting to be fetched stays one WM_TIMER.
    if (!t->ready) {
      t->ready = true;
      t->readySeq = ++U().readySeq;
    }
    ArmTimer(t, when + t->period);
    Wake(FindThread(t->tid));
  });
}

void RemoveTimers(const std::function<bool(const Timer&)>& pred) {
  auto& ts = U().timers;
  for (auto it = ts.begin(); it != ts.end();) {
    if (pred(**it)) {
      CancelDeadline((*it)->token);
      it = ts.erase(it);
    } else {
      ++it;
    }
  }
}

// Forget a window whose destruction has finished: its timers, hot keys, pending
// sends, its place among its parent's children.
void Forget(HWND hwnd) {
  User& u = U();
  WindowRec* w = Win(hwnd);
  if (!w) return;
  WithdrawWindow(hwnd);  // other processes stop finding it
  RemoveTimers([hwnd](const Timer& t) { return t.hwnd == hwnd; });
  u.hotkeys.erase(std::remove_if(u.hotkeys.begin(), u.hotkeys.end(),
                                 [hwnd](const HotKey& k) { return k.hwnd == hwnd; }),
                  u.hotkeys.end());
  if (ThreadRec* t = FindThread(w->tid)) {
    for (auto it = t->sent.begin(); it != t->sent.end();) {
      if ((*it)->hwnd == hwnd) {
        Complete(*it, 0);
        it = t->sent.erase(it);
      } else {
        ++it;
      }
    }
    if (t->focus == hwnd) t->focus = nullptr;
  }
  if (WindowRec* p = Win(w->parent)) {
    auto& c = p->children;
    c.erase(std::remove(c.begin(), c.end(), hwnd), c.end());
  }
  if (u.foreground == hwnd) u.foreground = nullptr;
  u.order.erase(std::remove(u.order.begin(), u.order.end(), hwnd), u.order.end());
  u.windows.erase(hwnd);
  ScreenChanged();
}

void CollectTree(HWND hwnd, std::vector<HWND>& out) {
  out.push_back(hwnd);
  if (WindowRec* w = Win(hwnd))
    for (HWND c : w->children) CollectTree(c, out);
}

// Where keyboard input goes: the focus of the foreground window's thread when it lies
// within the foreground window, else the foreground window itself.
HWND InputTarget() {
  User& u = U();
  WindowRec* fg = Win(u.foreground);
  if (!fg) return nullptr;
  ThreadRec* t = FindThread(fg->tid);
  if (t && t->focus && IsSelfOrDescendant(fg->hwnd, t->focus)) return t->focus;
  return fg->hwnd;
}

void PostInput(HWND target, UINT msg, WPARAM wp, LPARAM lp) {
  WindowRec* w = Win(target);
  if (!w) return;
  ThreadRec* t = FindThread(w->tid);
  if (!t) return;
  t->input.push_back(MSG{target, msg, wp, lp, (DWORD)NowLocked(), {0, 0}});
  Wake(t);
}

UINT MessageVk(BYTE vk) {
  switch (vk) {
    case VK_LSHIFT: case VK_RSHIFT: return VK_SHIFT;
    case 0xA2: case 0xA3: return VK_CONTROL;
    case 0xA4: case 0xA5: return VK_MENU;
    default: return vk;
  }
}

bool Down(BYTE vk) { return (U().keys[vk] & 0x80) != 0; }

UINT CurrentMods() {
  UINT m = 0;
  if (Down(VK_SHIFT) || Down(VK_LSHIFT) || Down(VK_RSHIFT)) m |= MOD_SHIFT;
  if (Down(VK_CONTROL)) m |= MOD_CONTROL;
  if (Down(VK_MENU)) m |= MOD_ALT;
  return m;
}

WCHAR CharOf(UINT vk, bool shift, bool caps) {
  static const char kShiftedDigits[] = ")!@#$%^&*(";
  if (vk >= 'A' && vk <= 'Z') return (WCHAR)((shift != caps) ? vk : vk + 32);
  if (vk >= '0' && vk <= '9') return (WCHAR)(shift ? kShiftedDigits[vk - '0'] : vk);
  switch (vk) {
    case VK_SPACE: return L' ';
    case VK_RETURN: return L'\r';
    case VK_TAB: return L'\t';
    case VK_BACK: return L'\b';
    case VK_OEM_COMMA: return shift ? L'<' : L',';
    case VK_OEM_PERIOD: return shift ? L'>' : L'.';
    default: return 0;
  }
}

// One key event from the keyboard hardware or from keybd_event.
void KeyInput(BYTE vk, bool up) {
  User& u = U();
  if (vk == 0) return;
  bool wasDown = Down(vk);
  if (up) {
    u.keys[vk] &= ~0x80;
  } else {
    if (!wasDown) u.keys[vk] ^= 0x01;  // toggle state flips on each new press
    u.keys[vk] |= 0x80;
  }
  if (vk == VK_LSHIFT || vk == VK_RSHIFT)
    u.keys[VK_SHIFT] = (BYTE)((u.keys[VK_SHIFT] & 0x01) | ((Down(VK_LSHIFT) || Down(VK_RSHIFT)) ? 0x80 : 0));
  if (!up) {
    UINT mods = CurrentMods();
    if (vk == VK_SHIFT || vk == VK_LSHIFT || vk == VK_RSHIFT) mods &= ~MOD_SHIFT;
    for (auto& hk : u.hotkeys) {
      if (hk.vk != vk || hk.mods != mods) continue;
      // A hot key's press goes to its window as WM_HOTKEY instead of the focus.
      MSG m{hk.hwnd, WM_HOTKEY, (WPARAM)hk.id, MAKELPARAM(mods, vk), (DWORD)NowLocked(), {0, 0}};
      if (ThreadRec* t = FindThread(hk.tid)) {
        t->posted.push_back(m);
        Wake(t);
      }
      return;
    }
  }
  LPARAM lp = 1 | (wasDown ? (1 << 30) : 0);
  if (up) lp = (LPARAM)(1u | (1u << 30) | (1u << 31));
  HWND target = InputTarget();
  PostInput(target, up ? WM_KEYUP : WM_KEYDOWN, MessageVk(vk), lp);
  // As on the handheld, the keyboard driver makes the character, not TranslateMessage.
  if (!up)
    if (WCHAR c = CharOf(vk, Down(VK_SHIFT), (u.keys[VK_CAPITAL] & 0x01) != 0)) PostInput(target, WM_CHAR, c, lp);
}

}  // namespace

std::string WindowLabel(HWND hwnd) {
  if (hwnd == (HWND)(LONG_PTR)-1) return "-1";
  if (!hwnd) return "null";
  WindowRec* w = Win(hwnd);
  if (!w) return "[?]";
  return "[" + Narrow(w->cls->name.c_str()) + "]";
}

HWND ChildById(HWND parent, LONG_PTR id) {
  WindowRec* p = Win(parent);
  if (!p) return nullptr;
  for (HWND c : p->children)
    if (WindowRec* w = Win(c); w && w->id == id) return c;
  return nullptr;
}

bool TakePaint(HWND hwnd, bool* erase) {
  WindowRec* w = Win(hwnd);
  if (!w) return false;
  *erase = w->needsErase;
  w->needsPaint = w->needsErase = false;
  return true;
}

bool ViewWindow(HWND hwnd, WindowView* out) {
  WindowRec* w = Win(hwnd);
  if (!w || !out) return false;
  out->hwnd = hwnd;
  out->cls = w->cls->name;
  out->title = w->title;
  out->style = w->style;
  out->exStyle = w->exStyle;
  out->parent = w->parent;
  out->tid = w->tid;
  out->id = w->id;
  RECT r = w->rect;
  bool visible = w->visible && !w->destroying;
  out->shown = visible;
  for (WindowRec* p = Win(w->parent); p; p = Win(p->parent)) {
    r.left += p->rect.left;
    r.right += p->rect.left;
    r.top += p->rect.top;
    r.bottom += p->rect.top;
    visible = visible && p->visible;
  }
  out->screen = r;
  out->visible = visible;
  out->enabled = !(w->style & WS_DISABLED);
  out->icons[0] = w->icons[0];
  out->icons[1] = w->icons[1];
  return true;
}

std::vector<HWND> TopLevelZOrder() {
  User& u = U();
  std::vector<HWND> out;
  if (WindowRec* fg = Win(u.foreground); fg && !fg->parent) out.push_back(fg->hwnd);
  for (auto it = u.order.rbegin(); it != u.order.rend(); ++it) {
    WindowRec* w = Win(*it);
    if (w && !w->parent && *it != u.foreground) out.push_back(*it);
  }
  return out;
}

std::vector<HWND> ChildrenOf(HWND parent) {
  WindowRec* w = Win(parent);
  return w ? w->children : std::vector<HWND>{};
}

void PostInputTo(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) { PostInput(hwnd, msg, wp, lp); }

bool SetWindowTitle(HWND hwnd, const std::wstring& text) {
  WindowRec* w = Win(hwnd);
  if (!w) return false;
  w->title = text;
  if (!w->parent) RetitleWindow(hwnd, w->cls->name, w->title);
  ScreenChanged();
  return true;
}

bool ProcessSentMessage(Lock& lk) { return ProcessOneSent(lk, Self()); }

bool MessageWaiting(ThreadRec* t) { return Pending(t, nullptr, 0, 0); }

void ThreadExiting(ThreadRec* t) {
  User& u = U();
  std::vector<HWND> mine;
  for (HWND h : u.order)
    if (Win(h) && Win(h)->tid == t->id) mine.push_back(h);
  for (auto it = mine.rbegin(); it != mine.rend(); ++it) Forget(*it);
  RemoveTimers([t](const Timer& tm) { return tm.tid == t->id; });
  for (auto& m : t->sent) Complete(m, 0);
  t->sent.clear();
}

}  // namespace sim

using namespace sim;

// ---- classes and windows ------------------------------------------------------

ATOM WINAPI RegisterClassW(const WNDCLASSW* wc) {
  Lock lk(Mu());
  if (!wc || !wc->lpszClassName || !*wc->lpszClassName) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Record("RegisterClass(" + Narrow(wc->lpszClassName) + ")");
  auto& classes = U().classes;
  std::wstring key = Lower(wc->lpszClassName);
  if (classes.count(key)) {
    SetError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  auto c = std::make_shared<ClassRec>();
  c->name = wc->lpszClassName;
  c->wc = *wc;
  c->wc.lpszClassName = nullptr;
  c->wc.lpszMenuName = nullptr;
  classes[key] = c;
  return (ATOM)(0xC000 + classes.size());
}

BOOL WINAPI UnregisterClassW(LPCWSTR className, HINSTANCE) {
  Lock lk(Mu());
  if (!className || !U().classes.erase(Lower(className))) {
    SetError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  return TRUE;
}

HWND WINAPI CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu, HINSTANCE inst,
                            LPVOID param) {
  Lock lk(Mu());
  User& u = U();
  auto cit = className ? u.classes.find(Lower(className)) : u.classes.end();
  WNDCLASSW builtin{};
  if (cit == u.classes.end() && className && BuiltinClass(Lower(className), &builtin)) {
    // Built-in classes come back on first use after a reset; a program's own class
    // of the same name takes precedence.
    auto c = std::make_shared<ClassRec>();
    c->name = builtin.lpszClassName;
    c->wc = builtin;
    c->wc.lpszClassName = nullptr;
    cit = u.classes.emplace(Lower(className), c).first;
  }
  if (cit == u.classes.end()) {
    SetError(1407);  // ERROR_CANNOT_FIND_WND_CLASS
    return nullptr;
  }
  if (parent && !Win(parent)) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  // Top-level windows only: controls would drown the program's own steps.
  if (!(style & WS_CHILD))
    Record("CreateWindowEx([" + Narrow(cit->second->name.c_str()) + "], " + Narrow(windowName) + ")");
  auto w = std::make_shared<WindowRec>();
  w->hwnd = (HWND)u.nextHwnd;
  u.nextHwnd += 4;
  w->cls = cit->second;
  w->title = windowName ? windowName : L"";
  w->style = style;
  w->exStyle = exStyle;
  w->parent = (style & WS_CHILD) || parent ? parent : nullptr;
  w->tid = Self()->id;
  w->proc = cit->second->wc.lpfnWndProc;
  w->inst = inst;
  w->id = (style & WS_CHILD) ? (LONG_PTR)menu : 0;
  // The handheld's screen is 240 x 320 with a 26-pixel task bar at the top.
  if (x == CW_USEDEFAULT) x = 0, y = w->parent ? 0 : 26;
  if (width == CW_USEDEFAULT) width = 240, height = w->parent ? 0 : 294;
  w->rect = RECT{x, y, x + width, y + height};
  w->visible = (style & WS_VISIBLE) != 0;
  w->needsPaint = true;
  w->needsErase = true;
  HWND hwnd = w->hwnd;
  u.windows[hwnd] = w;
  u.order.push_back(hwnd);
  if (WindowRec* p = Win(w->parent)) p->children.push_back(hwnd);
  ScreenChanged();

  CREATESTRUCTW cs{param, inst, menu, parent, height, width, y, x, (LONG)style, windowName, className, exStyle};
  LRESULT r = CallProc(lk, hwnd, WM_CREATE, 0, (LPARAM)&cs);
  if (r == -1) {
    lk.unlock();
    DestroyWindow(hwnd);
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!Win(hwnd)) return nullptr;
  if (!Win(hwnd)->parent) PublishWindow(hwnd, Win(hwnd)->cls->name, Win(hwnd)->title);
  return hwnd;
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
  Lock lk(Mu());
  WindowRec* w = Win(hwnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (w->tid != Self()->id) {
    SetError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (w->destroying) return TRUE;
  std::vector<HWND> tree;
  CollectTree(hwnd, tree);
  for (HWND h : tree) {
    if (WindowRec* x = Win(h)) {
      x->destroying = true;
      x->visible = false;
    }
    if (U().foreground == h) U().foreground = nullptr;
  }
  ScreenChanged();
  // WM_DESTROY goes to the window first, then to each child; WM_NCDESTROY the other way.
  for (HWND h : tree)
    if (Win(h)) CallProc(lk, h, WM_DESTROY, 0, 0);
  for (auto it = tree.rbegin(); it != tree.rend(); ++it)
    if (Win(*it)) CallProc(lk, *it, WM_NCDESTROY, 0, 0);
  for (auto it = tree.rbegin(); it != tree.rend(); ++it) Forget(*it);
  return TRUE;
}

LRESULT WINAPI DefWindowProcW(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SETICON: {
      Lock lk(Mu());
      WindowRec* w = Win(hwnd);
      if (!w || wp > ICON_BIG) return 0;
      HICON old = w->icons[wp];
      w->icons[wp] = (HICON)lp;
      ScreenChanged();
      return (LRESULT)old;
    }
    case WM_GETICON: {
      Lock lk(Mu());
      WindowRec* w = Win(hwnd);
      return w && wp <= ICON_BIG ? (LRESULT)w->icons[wp] : 0;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      if (BeginPaint(hwnd, &ps)) EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND: {
      HBRUSH brush;
      {
        Lock lk(Mu());
        WindowRec* w = Win(hwnd);
        brush = w ? w->cls->wc.hbrBackground : nullptr;
      }
      RECT rc;
      if (!brush || !GetClientRect(hwnd, &rc)) return 0;
      return FillRect((HDC)wp, &rc, brush) ? 1 : 0;
    }
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    // The title is the window's text, as Windows keeps it.
    case WM_SETTEXT:
      return SetWindowTextW(hwnd, (LPCWSTR)lp);
    case WM_GETTEXT:
      return GetWindowTextW(hwnd, (LPWSTR)lp, (int)wp);
    case WM_GETTEXTLENGTH: {
      Lock lk(Mu());
      WindowRec* w = Win(hwnd);
      return w ? (LRESULT)w->title.size() : 0;
    }
    default:
      return 0;
  }
}

LRESULT WINAPI CallWindowProcW(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return proc ? proc(hwnd, msg, wp, lp) : 0;
}

HWND WINAPI FindWindowW(LPCWSTR className, LPCWSTR windowName) {
  Lock lk(Mu());
  User& u = U();
  std::wstring cls = className ? Lower(className) : L"";
  for (auto it = u.order.rbegin(); it != u.order.rend(); ++it) {
    WindowRec* w = Win(*it);
    if (!w || w->parent || w->destroying) continue;
    if (className && Lower(w->cls->name.c_str()) != cls) continue;
    if (windowName && w->title != windowName) continue;
    return w->hwnd;
  }
  if (HWND other = FindSharedWindow(className, windowName)) return other;  // another process's
  SetError(ERROR_SUCCESS);
  return nullptr;
}

BOOL WINAPI IsWindow(HWND hwnd) {
  Lock lk(Mu());
  return Win(hwnd) != nullptr;
}

BOOL WINAPI IsWindowVisible(HWND hwnd) {
  Lock lk(Mu());
  for (WindowRec* w = Win(hwnd); w; w = Win(w->parent))
    if (!w->visible) return FALSE;
  return Win(hwnd) != nullptr;
}

BOOL WINAPI IsChild(HWND parent, HWND hwnd) {
  Lock lk(Mu());
  return parent != hwnd && Win(parent) && IsSelfOrDescendant(parent, hwnd);
}

// Enabled state is the WS_DISABLED style bit, as on Windows. A window that loses it
// loses the keyboard focus too.
BOOL WINAPI EnableWindow(HWND hwnd, BOOL enable) {
  Lock lk(Mu());
  WindowRec* w = Win(hwnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  BOOL wasDisabled = (w->style & WS_DISABLED) != 0;
  if (wasDisabled == !enable) return wasDisabled;
  if (enable) {
    w->style &= ~WS_DISABLED;
  } else {
    w->style |= WS_DISABLED;
    ThreadRec* t = FindThread(w->tid);
    if (t && t->focus && IsSelfOrDescendant(hwnd, t->focus)) {
      HWND old = t->focus;
      t->focus = nullptr;
      if (t == Self()) CallProc(lk, old, WM_KILLFOCUS, 0, 0);
    }
  }
  ScreenChanged();
  SendOrNotify(lk, hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
  return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND hwnd) {
  Lock lk(Mu());
  WindowRec* w = Win(hwnd);
  return w && !(w->style & WS_DISABLED);
}

BOOL WINAPI ShowWindow(HWND hwnd, int cmd) {
  Lock lk(Mu());
  WindowRec* w = Win(hwnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  BOOL was = w->visible;
  w->visible = cmd != SW_HIDE;
  if (w->visible != (was != 0)) ScreenChanged();
  if (w->visible && !was) {
    w->needsPaint = true;
    w->needsErase = true;
    Wake(FindThread(w->tid));
  }
  return was;
}

BOOL WINAPI UpdateWindow(HWND hwnd) {
  Lock lk(Mu());
  WindowRec* w = Win(hwnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (w->needsPaint && w->visible) {
    if (w->tid == Self()->id) CallProc(lk, hwnd, WM_PAINT, 0, 0);
  }
  return TRUE;
}

BOOL WINAPI InvalidateRect(HWND hwnd, const RECT*, BOOL erase) {
  Lock lk(Mu());
  WindowRec* w = Win(hwnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  w->needsPaint = true;
  w->needsErase = w->needsErase || erase;
  Wake(FindThread(w->tid));
  return TRUE;
}

BOOL WINAPI SetForegroundWindow(HWND hwnd) {
  Lock lk(Mu());
  User& u = U();
  if (!Win(hwnd)) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  HWND top = Root(hwnd);
  // Bringing a window forward gives its thread's focus back to the child that had it,
  // as activation does; keys typed at once then reach that child, not the frame.
  if (WindowRec* w = Win(hwnd))
    if (ThreadRec* t = FindThread(w->tid))
      if (hwnd != top || !t->focus || !Win(t->focus) || !IsSelfOrDescendant(top, t->focus)) t->focus = hwnd;
  HWND old = u.foreground;
  ScreenChanged();  // the focus may have moved even when the foreground stays
  if (old == top) return TRUE;
  u.foreground = top;
  // It stays above the others when it loses the foreground later.
  u.order.erase(std::remove(u.order.begin(), u.order.end(), top), u.order.end());
  u.order.push_back(top);
  if (Win(old)) SendOrNotify(lk, old, WM_ACTIVATE, WA_INACTIVE, (LPARAM)top);
  if (Win(top)) SendOrNotify(lk, top, WM_ACTIVATE, WA_ACTIVE, (LPARAM)old);
  return TRUE;
}

HWND WINAPI GetForegroundWindow(void) {
  Lock lk(Mu());
  return U().foreground;
}

HWND WINAPI SetFocus(HWND hwnd) {
  Lock lk(Mu());
  ThreadRec* self = Self();
  HWND old = self->focus;
  if (hwnd) {
    WindowRec* w = Win(hwnd);
    if (!w) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    if (w->tid != self->id) {
      SetError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
  }
  if (old == hwnd) return old;
  self->focus = hwnd;
  ScreenChanged();
  if (Win(old)) CallProc(lk, old, WM_KILLFOCUS, (WPARAM)hwnd, 0);
  if (Win(hwnd)) CallProc(lk, hwnd, WM_SETFOCUS, (WPARAM)old, 0);
  return old;
}

HWND WINAPI GetFocus(void) {
  Lock lk(Mu());
  return Self()->focus;
}

HWND WINAPI GetParent(HWND hwnd) {
  Lock lk(Mu());
  WindowRec* w = Win(hwnd);
  return w ? w->parent : nullptr;
}

BOOL WINAPI MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL) {
  Lock lk(Mu());
  WindowRec* w = Win(hwnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  w->rect = RECT{x, y, x + width, y + height};
  w->needsPaint = true;
  w->needsErase = true;
  ScreenChanged();
  if (w->tid == Self()->id) CallProc(lk, hwnd, WM_SIZE, 0, MAKELPARAM(width, height));
  return TRUE;
}

BOOL WINAPI GetWindowRect(HWND hwnd, LPRECT rect) {
  Lock lk(Mu());
  WindowRec* w = Win(hwnd);
  if (!w || !rect) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  RECT r = w->rect;
  for (WindowRec* p = Win(w->parent); p; p = Win(p->parent)) {
    r.left += p->rect.left;
    r.right += p->rect.left;
    r.top += p->rect.top;
    r.bottom += p->rect.top;
  }
  *rect = r;
  return TRUE;
}

BOOL WINAPI GetClientRect(HWND hwnd, LPRECT rect) {
  Lock lk(Mu());
  WindowRec* w = Win(hwnd);
  if (!w || !rect) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  *rect = RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  return TRUE;
}

BOOL WINAPI SetWindowTextW(HWND hwnd, LPCWSTR text) {
  Lock lk(Mu());
  WindowRec* w = Win(hwnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  w->title = text ? text : L"";
  if (!w->parent) RetitleWindow(hwnd, w->cls->name, w->title);
  ControlTextSet(hwnd);
  ScreenChanged();
  return TRUE;
}

static int CopyOut(const std::wstring& s, LPWSTR buf, int max) {
  if (!buf || max <= 0) return 0;
  int n = std::min<int>((int)s.size(), max - 1);
  std::copy(s.begin(), s.begin() + n, buf);
  buf[n] = 0;
  return n;
}

int WINAPI GetWindowTextW(HWND hwnd, LPWSTR buf, int max) {
  Lock lk(Mu());
  WindowRec* w = Win(hwnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    CopyOut(L"", buf, max);
    return 0;
  }
  return CopyOut(w->title, buf, max);
}

int WINAPI GetClassNameW(HWND hwnd, LPWSTR buf, int max) {
  Lock lk(Mu());
  WindowRec* w = Win(hwnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return CopyOut(w->cls->name, buf, max);
}

DWORD WINAPI GetWindowThreadProcessId(HWND hwnd, LPDWORD processId) {
  Lock lk(Mu());
  WindowRec* w = Win(hwnd);
  if (!w) return 0;
  if (processId) *processId = 1;
  return w->tid;
}

LONG_PTR WINAPI GetWindowLongPtrW(HWND hwnd, int index) {
  Lock lk(Mu());
  WindowRec* w = Win(hwnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  switch (index) {
    case GWLP_WNDPROC: return (LONG_PTR)w->proc;
    case GWLP_HINSTANCE: return (LONG_PTR)w->inst;
    case GWLP_HWNDPARENT: return (LONG_PTR)w->parent;
    case GWLP_ID: return w->id;
    case GWL_STYLE: return (LONG_PTR)(LONG)w->style;
    case GWL_EXSTYLE: return (LONG_PTR)(LONG)w->exStyle;
    default: {
      auto it = w->longs.find(index);
      return it == w->longs.end() ? 0 : it->second;
    }
  }
}

LONG_PTR WINAPI SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value) {
  Lock lk(Mu());
  WindowRec* w = Win(hwnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  LONG_PTR old;
  switch (index) {
    case GWLP_WNDPROC: old = (LONG_PTR)w->proc; w->proc = (WNDPROC)value; return old;
    case GWLP_ID: old = w->id; w->id = value; return old;
    case GWL_STYLE: old = (LONG)w->style; w->style = (DWORD)value; ScreenChanged(); return old;
    case GWL_EXSTYLE: old = (LONG)w->exStyle; w->exStyle = (DWORD)value; return old;
    default: old = w->longs[index]; w->longs[index] = value; return old;
  }
}

LONG WINAPI GetWindowLongW(HWND hwnd, int index) { return (LONG)GetWindowLongPtrW(hwnd, index); }
LONG WINAPI SetWindowLongW(HWND hwnd, int index, LONG value) {
  return (LONG)SetWindowLongPtrW(hwnd, index, value);
}

BOOL WINAPI PtInRect(const RECT* r, POINT pt) {
  return r && pt.x >= r->left && pt.x < r->right && pt.y >= r->top && pt.y < r->bottom;
}

// ---- messages -----------------------------------------------------------------

BOOL WINAPI PostMessageW(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (IsSharedWindowProxy(hwnd)) return PostToSharedWindow(hwnd, msg, wp, lp);
  Lock lk(Mu());
  ThreadRec* t;
  if (!hwnd) {
    t = Self();
  } else if (hwnd == HWND_BROADCAST) {
    return TRUE;
  } else {
    WindowRec* w = Win(hwnd);
    t = w ? FindThread(w->tid) : nullptr;
    if (!t) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
  }
  t->posted.push_back(MSG{hwnd, msg, wp, lp, (DWORD)NowLocked(), {0, 0}});
  Wake(t);
  return TRUE;
}

BOOL WINAPI PostThreadMessageW(DWORD threadId, UINT msg, WPARAM wp, LPARAM lp) {
  Lock lk(Mu());
  ThreadRec* t = FindThread(threadId);
  if (!t) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  t->posted.push_back(MSG{nullptr, msg, wp, lp, (DWORD)NowLocked(), {0, 0}});
  Wake(t);
  return TRUE;
}

LRESULT WINAPI SendMessageW(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Lock lk(Mu());
  WindowRec* w = Win(hwnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  ThreadRec* self = Self();
  if (w->tid == self->id) return CallProc(lk, hwnd, msg, wp, lp);
  ThreadRec* target = FindThread(w->tid);
  if (!target) return 0;
  auto m = std::make_shared<SentMsg>();
  *m = SentMsg{hwnd, msg, wp, lp};
  m->sender = self;
  target->sent.push_back(m);
  Wake(target);
  // While waiting for the answer, messages sent to this thread are still processed,
  // so two threads sending to each other do not deadlock.
  for (;;) {
    Block(lk, [&] { return m->done || !self->sent.empty(); }, 0, "SendMessageW");
    if (m->done) return m->result;
    ProcessOneSent(lk, self);
  }
}

static BOOL Fetch(LPMSG out, HWND filter, UINT lo, UINT hi, UINT remove, bool wait) {
  Lock lk(Mu());
  ThreadRec* t = Self();
  for (;;) {
    while (ProcessOneSent(lk, t)) {
    }
    if (filter && (!Win(filter) || Win(filter)->destroying)) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return wait ? -1 : FALSE;
    }
    MSG m;
    bool rm = (remove & PM_REMOVE) != 0;
    if (TakeFrom(t->posted, &m, filter, lo, hi, rm)) {
      *out = m;
      return m.message != WM_QUIT || !wait;
    }
    if (t->quit) {
      if (rm) t->quit = false;
      *out = MSG{nullptr, WM_QUIT, (WPARAM)t->quitCode, 0, (DWORD)NowLocked(), {0, 0}};
      return wait ? FALSE : TRUE;
    }
    if (TakeFrom(t->input, &m, filter, lo, hi, rm)) {
      *out = m;
      return TRUE;
    }
    if ((lo == 0 && hi == 0) || (WM_PAINT >= lo && WM_PAINT <= hi)) {
      if (WindowRec* w = PaintPending(t, filter)) {
        *out = MSG{w->hwnd, WM_PAINT, 0, 0, (DWORD)NowLocked(), {0, 0}};
        return TRUE;
      }
    }
    if (Timer* tm = ReadyTimer(t, filter, lo, hi)) {
      *out = MSG{tm->hwnd, WM_TIMER, tm->id, (LPARAM)tm->proc, (DWORD)NowLocked(), {0, 0}};
      if (rm) tm->ready = false;
      return TRUE;
    }
    if (!wait) return FALSE;
    Block(lk, [&] { return Pending(t, filter, lo, hi) || (filter && !Win(filter)); }, 0, "GetMessageW");
  }
}

BOOL WINAPI GetMessageW(LPMSG msg, HWND hwnd, UINT lo, UINT hi) {
  if (!msg) {
    SetError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  return Fetch(msg, hwnd, lo, hi, PM_REMOVE, true);
}

BOOL WINAPI PeekMessageW(LPMSG msg, HWND hwnd, UINT lo, UINT hi, UINT remove) {
  if (!msg) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return Fetch(msg, hwnd, lo, hi, remove, false);
}

// The handheld's keyboard driver has already made the characters (see KeyInput and
// PostKeybdMessage); translating again would type them twice.
BOOL WINAPI TranslateMessage(const MSG* msg) {
  return msg && (msg->message == WM_KEYDOWN || msg->message == WM_KEYUP);
}

LRESULT WINAPI DispatchMessageW(const MSG* msg) {
  if (!msg) return 0;
  if (msg->message == WM_TIMER && msg->lParam) {
    ((TIMERPROC)msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
    return 0;
  }
  Lock lk(Mu());
  WindowRec* w = Win(msg->hwnd);
  if (!w || w->tid != Self()->id) return 0;
  return CallProc(lk, msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void WINAPI PostQuitMessage(int exitCode) {
  Lock lk(Mu());
  ThreadRec* t = Self();
  t->quit = true;
  t->quitCode = exitCode;
}

// ---- timers -------------------------------------------------------------------

UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC proc) {
  Lock lk(Mu());
  User& u = U();
  Record("SetTimer(" + WindowLabel(hwnd) + ", " + std::to_string(id) + ", " + std::to_string(ms) + ")");
  DWORD tid;
  if (hwnd) {
    WindowRec* w = Win(hwnd);
    if (!w) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    tid = w->tid;  // the timer belongs to the window's thread, whoever sets it
  } else {
    tid = Self()->id;
    id = u.nextThreadTimer++;
  }
  // As on Windows: periods below 10 ms are raised to 10, above 0x7FFFFFFF lowered.
  UINT period = std::min<UINT>(std::max<UINT>(ms, 10), 0x7FFFFFFF);
  std::shared_ptr<Timer> tm;
  for (auto& t : u.timers)
    if (hwnd && t->hwnd == hwnd && t->id == id) tm = t;
  if (tm) {
    CancelDeadline(tm->token);  // replaced: the new period starts now
    tm->ready = false;
  } else {
    tm = std::make_shared<Timer>();
    tm->hwnd = hwnd;
    tm->id = id;
    u.timers.push_back(tm);
  }
  tm->tid = tid;
  tm->period = period;
  tm->proc = proc;
  ArmTimer(tm, NowLocked() + period);
  return hwnd ? (id ? id : 1) : id;
}

BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id) {
  Lock lk(Mu());
  Record("KillTimer(" + WindowLabel(hwnd) + ", " + std::to_string(id) + ")");
  bool found = false;
  RemoveTimers([&](const Timer& t) {
    bool hit = t.hwnd == hwnd && t.id == id;
    found = found || hit;
    return hit;
  });
  if (!found) {
    SetError(1402);  // ERROR_INVALID_TIMER_ID
    return FALSE;
  }
  return TRUE;
}

UINT WINAPI GetDoubleClickTime(void) { return 500; }

// ---- waiting for objects and messages together ----------------------------------

static DWORD WaitAny(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms, DWORD wakeMask,
                     bool messages) {
  Lock lk(Mu());
  if (count > MAXIMUM_WAIT_OBJECTS || (count && !handles) || (count == 0 && !messages)) {
    SetError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<KObject>> objs;
  for (DWORD i = 0; i < count; ++i) {
    auto o = GetObject(handles[i]);
    if (!o) {
      SetError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    objs.push_back(o);
  }
  ThreadRec* t = Self();
  auto queueReady = [&] {
    if (!messages) return false;
    if ((wakeMask & QS_SENDMESSAGE) && !t->sent.empty()) return true;
    if ((wakeMask & (QS_POSTMESSAGE | QS_HOTKEY)) && (!t->posted.empty() || t->quit)) return true;
    if ((wakeMask & QS_KEY) && !t->input.empty()) return true;
    if ((wakeMask & QS_TIMER) && ReadyTimer(t, nullptr, 0, 0)) return true;
    if ((wakeMask & QS_PAINT) && PaintPending(t, nullptr)) return true;
    return false;
  };
  auto ready = [&]() -> int {
    if (waitAll && count) {
      bool all = true;
      for (auto& o : objs) all = all && o->Signaled();
      if (all) return 0;
    } else {
      for (DWORD i = 0; i < count; ++i)
        if (objs[i]->Signaled()) return (int)i;
    }
    return queueReady() ? (int)count : -1;
  };
  if (ready() < 0 && ms != 0) {
    for (auto& o : objs) o->waiters.push_back(t);
    t->where = messages ? "MsgWaitForMultipleObjects" : "WaitForMultipleObjects";
    TimedWait(lk, [&] { return ready() >= 0; }, ms == INFINITE ? 0 : NowLocked() + ms);
    for (auto& o : objs) o->waiters.erase(std::find(o->waiters.begin(), o->waiters.end(), t));
  }
  int r = ready();
  if (r < 0) return WAIT_TIMEOUT;
  if (r < (int)count) {
    if (waitAll)
      for (auto& o : objs) o->Acquire();
    else
      objs[r]->Acquire();
  }
  return WAIT_OBJECT_0 + (DWORD)r;
}

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms) {
  return WaitAny(count, handles, waitAll, ms, 0, false);
}

DWORD WINAPI MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms,
                                       DWORD wakeMask) {
  return WaitAny(count, handles, waitAll, ms, wakeMask, true);
}

// ---- keyboard -----------------------------------------------------------------

void WINAPI keybd_event(BYTE vk, BYTE, DWORD flags, ULONG_PTR) {
  Lock lk(Mu());
  Record("keybd_event(" + Hex(vk, 2) + ", " + Hex(flags) + ")");
  KeyInput(vk, (flags & KEYEVENTF_KEYUP) != 0);
}

BOOL WINAPI PostKeybdMessage(HWND hwnd, UINT vk, UINT flags, UINT count, UINT* shiftStates, UINT* chars) {
  Lock lk(Mu());
  if (count && (!shiftStates || !chars)) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string e = "PostKeybdMessage(" + WindowLabel(hwnd) + ", " + Hex(vk, 2) + ", " + Hex(flags) + ", [";
  for (UINT i = 0; i < count; ++i) e += (i ? ", " : "") + Hex(shiftStates[i]);
  e += "], [";
  for (UINT i = 0; i < count; ++i) {
    char buf[16];
    snprintf(buf, sizeof buf, "U+%04X", chars[i]);
    e += (i ? ", " : "") + std::string(buf);
  }
  Record(e + "])");
  HWND target = hwnd == (HWND)(LONG_PTR)-1 ? InputTarget() : hwnd;
  bool down = (flags & 0x80) != 0;
  if (vk) PostInput(target, down ? WM_KEYDOWN : WM_KEYUP, vk, down ? 1 : (LPARAM)(1u | (3u << 30)));
  if (down || vk == 0)
    for (UINT i = 0; i < count; ++i) PostInput(target, WM_CHAR, chars[i], 1);
  return TRUE;
}

SHORT WINAPI GetKeyState(int vk) {
  Lock lk(Mu());
  BYTE s = U().keys[vk & 0xFF];
  return (SHORT)(((s & 0x80) ? 0x8000 : 0) | (s & 0x01));
}

SHORT WINAPI GetAsyncKeyState(int vk) {
  Lock lk(Mu());
  return (SHORT)((U().keys[vk & 0xFF] & 0x80) ? 0x8000 : 0);
}

BOOL WINAPI RegisterHotKey(HWND hwnd, int id, UINT mods, UINT vk) {
  Lock lk(Mu());
  User& u = U();
  Record("RegisterHotKey(" + WindowLabel(hwnd) + ", " + std::to_string(id) + ", " + Hex(mods) + ", " +
         Hex(vk, 2) + ")");
  if (hwnd && !Win(hwnd)) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  for (auto& hk : u.hotkeys)
    if (hk.vk == (vk & 0xFF) && hk.mods == (mods & 0x0F)) {
      SetError(ERROR_HOTKEY_ALREADY_REGISTERED);
      return FALSE;
    }
  DWORD tid = hwnd ? Win(hwnd)->tid : Self()->id;
  u.hotkeys.push_back(HotKey{hwnd, tid, id, mods & 0x0F, vk & 0xFF});
  return TRUE;
}

BOOL WINAPI UnregisterHotKey(HWND hwnd, int id) {
  Lock lk(Mu());
  auto& hks = U().hotkeys;
  Record("UnregisterHotKey(" + WindowLabel(hwnd) + ", " + std::to_string(id) + ")");
  for (auto it = hks.begin(); it != hks.end(); ++it)
    if (it->hwnd == hwnd && it->id == id) {
      hks.erase(it);
      return TRUE;
    }
  SetError(ERROR_HOTKEY_NOT_REGISTERED);
  return FALSE;
}

BOOL WINAPI SHSipPreference(HWND hwnd, SIPSTATE st) {
  Lock lk(Mu());
  Record("SHSipPreference(" + WindowLabel(hwnd) + ", " + std::to_string((int)st) + ")");
  return TRUE;
}

// ---- formatting ---------------------------------------------------------------

// Windows' wsprintfW: %s is a wide string, %hs a narrow one; at most 1024 characters.
int WINAPI wsprintfW(LPWSTR buf, LPCWSTR fmt, ...) {
  if (!buf || !fmt) return 0;
  va_list ap;
  va_start(ap, fmt);
  std::wstring out;
  for (const WCHAR* p = fmt; *p; ++p) {
    if (*p != L'%') {
      out += *p;
      continue;
    }
    ++p;
    bool zero = false, left = false;
    for (; *p == L'0' || *p == L'-'; ++p) (*p == L'0' ? zero : left) = true;
    int width = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) width = width * 10 + (*p - L'0');
    bool narrow = false, wide = false, lng = false;
    for (; *p == L'h' || *p == L'l'; ++p) (*p == L'h' ? narrow : (wide = lng = true)) = true;
    std::wstring piece;
    switch (*p) {
      case L'd': case L'i': {
        long v = lng ? va_arg(ap, long) : va_arg(ap, int);
        piece = std::to_wstring(v);
        break;
      }
      case L'u': piece = std::to_wstring(lng ? va_arg(ap, unsigned long) : va_arg(ap, unsigned)); break;
      case L'x': case L'X': {
        unsigned long v = lng ? va_arg(ap, unsigned long) : va_arg(ap, unsigned);
        char tmp[32];
        snprintf(tmp, sizeof tmp, *p == L'x' ? "%lx" : "%lX", v);
        for (char* c = tmp; *c; ++c) piece += (WCHAR)*c;
        break;
      }
      case L'c': piece = (WCHAR)va_arg(ap, int); break;
      case L's':
        if (narrow) {
          const char* s = va_arg(ap, const char*);
          for (; s && *s; ++s) piece += (WCHAR)(unsigned char)*s;
        } else {
          const WCHAR* s = va_arg(ap, const WCHAR*);
          piece = s ? s : L"(null)";
        }
        break;
      case L'%': piece = L"%"; break;
      case 0: --p; break;
      default: piece = *p; break;
    }
    (void)wide;
    if ((int)piece.size() < width)
      piece = left ? piece + std::wstring(width - piece.size(), L' ')
                   : std::wstring(width - piece.size(), zero ? L'0' : L' ') + piece;
    out += piece;
  }
  va_end(ap);
  if (out.size() > 1024) out.resize(1024);
  std::copy(out.begin(), out.end(), buf);
  buf[out.size()] = 0;
  return (int)out.size();
}

// ---- the bench's user ---------------------------------------------------------

namespace bench {
void PressCapsLock() {
  Lock lk(Mu());
  KeyInput(VK_CAPITAL, false);
  KeyInput(VK_CAPITAL, true);
}
}  // namespace bench
