// The dialog manager of the simulated handheld: dialogs from in-memory DLGTEMPLATE
// records, dialog units, the dialog procedure, keyboard navigation, modal dialogs, and
// the item calls on a dialog's controls.
#include <map>

#include "core.h"
#include "dlg_internal.h"
#include "res_internal.h"
#include "shell_internal.h"

namespace sim {
namespace {

struct Dlg {
  HFONT font = nullptr;     // WM_SETFONT / WM_GETFONT
  HFONT ownFont = nullptr;  // made from DS_SETFONT; deleted with the dialog
  int baseX = 8, baseY = 16;
  WORD defId = IDOK;  // with no default push button, Enter means OK
  bool modal = false;
  bool ended = false;
  INT_PTR result = 0;
  HWND owner = nullptr;
  bool ownerDisabled = false;  // by us, to be enabled again at the end
};

std::map<HWND, Dlg>& Dialogs() {
  static auto* d = [] {
    auto* dialogs = new std::map<HWND, Dlg>;
    OnReset([dialogs] { dialogs->clear(); });
    return dialogs;
  }();
  return *d;
}

Dlg* Find(HWND hwnd) {
  auto it = Dialogs().find(hwnd);
  return it == Dialogs().end() ? nullptr : &it->second;
}

int MulDiv(int a, int b, int c) {
  long long n = (long long)a * b;
  return (int)(n >= 0 ? (n + c / 2) / c : -((-n + c / 2) / c));
}

// ---- reading a template -----------------------------------------------------------

// A template carries no size of its own. One inside a module's resources is read no
// further than that resource: a damaged library gives a refused dialog, not a read past
// the file. Elsewhere (the caller's own memory) end is null and nothing bounds it.
struct Reader {
  const uint8_t* p;
  const uint8_t* end = nullptr;
  bool bad = false;
  bool Has(size_t n) {
    if (end && (p > end || (size_t)(end - p) < n)) bad = true;
    return !bad;
  }
  WORD Word() {
    if (!Has(2)) return 0;
    WORD w = (WORD)(p[0] | p[1] << 8);
    p += 2;
    return w;
  }
  DWORD Dword() {
    DWORD lo = Word();
    return lo | (DWORD)Word() << 16;
  }
  // A string of 16-bit characters, widened.
  std::wstring Text() {
    std::wstring s;
    for (WORD c; (c = Word()) != 0;) s += (WCHAR)c;
    return s;
  }
  // 0: nothing; 0xFFFF: an ordinal follows; else a string.
  void NameOrOrdinal(std::wstring* name, WORD* ordinal) {
    *ordinal = 0;
    name->clear();
    if (!Has(2)) return;
    WORD first = (WORD)(p[0] | p[1] << 8);
    if (first == 0) {
      p += 2;
    } else if (first == 0xFFFF) {
      p += 2;
      *ordinal = Word();
    } else {
      *name = Text();
    }
  }
  void Skip(size_t n) {
    if (Has(n)) p += n;
  }
  void AlignDword() { p = (const uint8_t*)(((uintptr_t)p + 3) & ~(uintptr_t)3); }
};

struct Item {
  DWORD style, exStyle;
  short x, y, cx, cy;
  WORD id;
  std::wstring cls, title;
  WORD titleOrdinal = 0;
};

struct Template {
  DWORD style, exStyle;
  short x, y, cx, cy;
  std::wstring cls, title, face;
  WORD points = 0;
  std::vector<Item> items;
};

const WCHAR* const kPredefined[] = {L"Button", L"Edit", L"Static", L"ListBox", L"ScrollBar", L"ComboBox"};

bool Parse(LPCDLGTEMPLATEW tmpl, Template* t) {
  Reader r{(const uint8_t*)tmpl};
  ResourceEnd(tmpl, &r.end);
  t->style = r.Dword();
  t->exStyle = r.Dword();
  // A DLGTEMPLATEEX starts with version 1 and 0xFFFF: this manager reads the plain form only.
  if ((t->style & 0xFFFF) == 1 && (t->style >> 16) == 0xFFFF) return false;
  WORD count = r.Word();
  t->x = (short)r.Word();
  t->y = (short)r.Word();
  t->cx = (short)r.Word();
  t->cy = (short)r.Word();
  std::wstring menu;
  WORD ordinal;
  r.NameOrOrdinal(&menu, &ordinal);
  r.NameOrOrdinal(&t->cls, &ordinal);
  if (r.bad || ordinal) return false;  // a class atom: none are known here
  t->title = r.Text();
  if (t->style & DS_SETFONT) {
    t->points = r.Word();
    t->face = r.Text();
  }
  for (WORD i = 0; i < count; ++i) {
    r.AlignDword();
    Item it;
    it.style = r.Dword();
    it.exStyle = r.Dword();
    it.x = (short)r.Word();
    it.y = (short)r.Word();
    it.cx = (short)r.Word();
    it.cy = (short)r.Word();
    it.id = r.Word();
    r.NameOrOrdinal(&it.cls, &ordinal);
    if (ordinal) {
      if (ordinal < 0x80 || ordinal > 0x85) return false;
      it.cls = kPredefined[ordinal - 0x80];
    }
    r.NameOrOrdinal(&it.title, &it.titleOrdinal);
    WORD extra = r.Word();
    r.Skip(extra);
    if (r.bad) return false;
    t->items.push_back(it);
  }
  return !r.bad;
}

// Base units of a dialog font: a character cell as tall as the font's pixel height
// (96 dots per inch) plus two for leading, and an average width of 6/13 of that.
// Without a font, the system font's 8 x 16.
void BaseUnits(WORD points, int* x, int* y) {
  if (!points) {
    *x = 8;
    *y = 16;
    return;
  }
  *y = MulDiv(points, 96, 72) + 2;
  *x = MulDiv(*y, 6, 13);
}

// ---- focus order --------------------------------------------------------------------

bool TabStop(HWND h) {
  WindowView v;
  return ViewWindow(h, &v) && v.shown && v.enabled && (v.style & WS_TABSTOP);
}

HWND NextTab(HWND dialog, HWND from, bool previous) {
  std::vector<HWND> stops;
  {
    Lock lk(Mu());
    for (HWND c : ChildrenOf(dialog))
      if (TabStop(c)) stops.push_back(c);
  }
  if (stops.empty()) return nullptr;
  size_t n = stops.size(), at = n;
  for (size_t i = 0; i < n; ++i)
    if (stops[i] == from) at = i;
  if (at == n) return previous ? stops[n - 1] : stops[0];
  return stops[previous ? (at + n - 1) % n : (at + 1) % n];
}

void Show(HWND dialog) {
  ShowWindow(dialog, SW_SHOWNORMAL);
  if (GetParent(dialog)) return;
  // Showing a top-level dialog brings it to the front, as it would be activated; the
  // control that has the focus keeps it.
  HWND focus = GetFocus();
  SetForegroundWindow(dialog);
  if (IsChild(dialog, focus)) SetFocus(focus);
}

HWND Create(HINSTANCE inst, LPCDLGTEMPLATEW tmpl, HWND parent, DLGPROC proc, LPARAM param, bool modal) {
  Template t;
  if (!tmpl || !Parse(tmpl, &t)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (parent && !IsWindow(parent)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  Dlg d;
  BaseUnits(t.points, &d.baseX, &d.baseY);
  d.modal = modal;
  bool child = (t.style & WS_CHILD) != 0;
  // An owned dialog is a top-level window of its own here: the owner is kept in the
  // dialog's record, not as a parent, so it lists, hit-tests and moves as top-level.
  d.owner = child ? nullptr : parent;
  if (d.owner)
    while (HWND up = GetParent(d.owner)) d.owner = up;
  int x = MulDiv(t.x, d.baseX, 4), y = MulDiv(t.y, d.baseY, 8);
  int cx = MulDiv(t.cx, d.baseX, 4), cy = MulDiv(t.cy, d.baseY, 8);
  if (!child) {
    RECT o{0, 0, 0, 0};
    if (d.owner) GetWindowRect(d.owner, &o);
    x += o.left;
    y += o.top;
    if (t.style & DS_CENTER) x = (240 - cx) / 2, y = (320 - cy) / 2;
  }
  std::wstring cls = t.cls.empty() ? L"Dialog" : t.cls;
  HWND hwnd = CreateWindowExW(t.exStyle, cls.c_str(), t.title.c_str(), t.style & ~WS_VISIBLE, x, y, cx, cy,
                              child ? parent : nullptr, nullptr, inst, nullptr);
  if (!hwnd) return nullptr;
  if (t.style & DS_SETFONT) {
    LOGFONTW lf{};
    lf.lfHeight = -MulDiv(t.points, 96, 72);
    lf.lfWeight = FW_NORMAL;
    wcsncpy(lf.lfFaceName, t.face.c_str(), LF_FACESIZE - 1);
    d.ownFont = CreateFontIndirectW(&lf);
  }
  {
    Lock lk(Mu());
    Dialogs()[hwnd] = d;
  }
  SetWindowLongPtrW(hwnd, DWLP_DLGPROC, (LONG_PTR)proc);
  if (d.ownFont) SendMessageW(hwnd, WM_SETFONT, (WPARAM)d.ownFont, 0);
  for (const Item& it : t.items) {
    HWND c = CreateWindowExW(it.exStyle, it.cls.c_str(), it.titleOrdinal ? L"" : it.title.c_str(),
                             it.style | WS_CHILD, MulDiv(it.x, d.baseX, 4), MulDiv(it.y, d.baseY, 8),
                             MulDiv(it.cx, d.baseX, 4), MulDiv(it.cy, d.baseY, 8), hwnd,
                             (HMENU)(uintptr_t)it.id, inst, nullptr);
    if (!c) {
      // A control that cannot be made fails the whole dialog.
      DestroyWindow(hwnd);
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    if (d.ownFont) SendMessageW(c, WM_SETFONT, (WPARAM)d.ownFont, 0);
    if (it.titleOrdinal && (it.style & SS_TYPEMASK) == SS_ICON && it.cls == L"Static")
      if (HICON icon = LoadIconW(inst, MAKEINTRESOURCEW(it.titleOrdinal))) SendMessageW(c, STM_SETICON, (WPARAM)icon, 0);
    if (it.cls == L"Button" && (it.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
      Lock lk(Mu());
      if (Dlg* dd = Find(hwnd)) dd->defId = it.id;
    }
  }
  HWND focus = NextTab(hwnd, nullptr, false);
  // TRUE from WM_INITDIALOG asks for the default focus: the first tab stop, found
  // again since the procedure may have changed the controls.
  if (SendMessageW(hwnd, WM_INITDIALOG, (WPARAM)focus, param) && IsWindow(hwnd))
    if (HWND first = NextTab(hwnd, nullptr, false)) SetFocus(first);
  if (!IsWindow(hwnd)) return nullptr;
  if (t.style & WS_VISIBLE) Show(hwnd);
  return hwnd;
}

bool Ended(HWND dialog, INT_PTR* result) {
  Lock lk(Mu());
  Dlg* d = Find(dialog);
  if (!d) return true;
  *result = d->result;
  return d->ended;
}

// Messages whose answer is the dialog procedure's own return value, not DWLP_MSGRESULT.
bool DirectResult(UINT msg) {
  return msg == WM_INITDIALOG || msg == 0x0039 /* WM_COMPAREITEM */ || msg == 0x002E /* WM_VKEYTOITEM */ ||
         msg == 0x002F /* WM_CHARTOITEM */ || msg == 0x0037 /* WM_QUERYDRAGICON */ ||
         (msg >= 0x0132 && msg <= 0x0138) /* WM_CTLCOLOR* */;
}

}  // namespace
}  // namespace sim

using namespace sim;

LRESULT WINAPI DefDlgProcW(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  DLGPROC proc = (DLGPROC)GetWindowLongPtrW(hwnd, DWLP_DLGPROC);
  if (proc) {
    SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, 0);
    INT_PTR r = proc(hwnd, msg, wp, lp);
    if (r || !IsWindow(hwnd)) return DirectResult(msg) ? r : GetWindowLongPtrW(hwnd, DWLP_MSGRESULT);
  }
  switch (msg) {
    case WM_SETFONT: {
      Lock lk(Mu());
      if (Dlg* d = Find(hwnd)) d->font = (HFONT)wp;
      return 0;
    }
    case WM_GETFONT: {
      Lock lk(Mu());
      Dlg* d = Find(hwnd);
      return d ? (LRESULT)d->font : 0;
    }
    case DM_GETDEFID: {
      Lock lk(Mu());
      Dlg* d = Find(hwnd);
      return d ? MAKELONG(d->defId, DC_HASDEFID) : 0;
    }
    case DM_SETDEFID: {
      Lock lk(Mu());
      if (Dlg* d = Find(hwnd)) d->defId = (WORD)wp;
      return TRUE;
    }
    case WM_NEXTDLGCTL: {
      HWND next;
      if (LOWORD(lp)) {
        next = (HWND)wp;
      } else {
        HWND focus = GetFocus();
        next = NextTab(hwnd, IsChild(hwnd, focus) ? focus : nullptr, wp != 0);
      }
      if (next) SetFocus(next);
      return 0;
    }
    case WM_CLOSE:
      PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(hwnd, IDCANCEL));
      return 0;
    case WM_NCDESTROY: {
      HFONT own = nullptr;
      {
        Lock lk(Mu());
        if (Dlg* d = Find(hwnd)) own = d->ownFont;
        Dialogs().erase(hwnd);
      }
      if (own) DeleteObject(own);
      break;
    }
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

HWND WINAPI CreateDialogIndirectParamW(HINSTANCE inst, LPCDLGTEMPLATEW tmpl, HWND parent, DLGPROC proc,
                                       LPARAM param) {
  return Create(inst, tmpl, parent, proc, param, false);
}

INT_PTR WINAPI DialogBoxIndirectParamW(HINSTANCE inst, LPCDLGTEMPLATEW tmpl, HWND parent, DLGPROC proc,
                                       LPARAM param) {
  if (parent && !IsWindow(parent)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  HWND dlg = Create(inst, tmpl, parent, proc, param, true);
  if (!dlg) return -1;
  HWND owner = nullptr;
  {
    Lock lk(Mu());
    if (Dlg* d = Find(dlg)) owner = d->owner;
  }
  // The owner takes no input while the dialog is up.
  if (owner && IsWindowEnabled(owner)) {
    EnableWindow(owner, FALSE);
    Lock lk(Mu());
    if (Dlg* d = Find(dlg)) d->ownerDisabled = true;
  }
  INT_PTR result = -1;
  if (!Ended(dlg, &result) && !IsWindowVisible(dlg)) Show(dlg);
  // Every message of the thread is still dispatched: other windows' timers and posts
  // go on while the dialog is up.
  while (IsWindow(dlg) && !Ended(dlg, &result)) {
    MSG m;
    BOOL got = GetMessageW(&m, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage((int)m.wParam);  // the loop outside must see it too
      break;
    }
    if (got == -1) break;
    if (!IsDialogMessageW(dlg, &m)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  }
  bool reenable = false;
  {
    Lock lk(Mu());
    if (Dlg* d = Find(dlg)) {
      reenable = d->ownerDisabled;
      d->ownerDisabled = false;
      if (!d->ended) result = -1;
    }
  }
  if (reenable) EnableWindow(owner, TRUE);
  if (IsWindow(dlg)) DestroyWindow(dlg);
  if (owner && IsWindow(owner)) SetForegroundWindow(owner);
  return result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
  bool reenable = false;
  HWND owner = nullptr;
  {
    Lock lk(Mu());
    Dlg* d = Find(dialog);
    if (!d) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    d->ended = true;
    d->result = result;
    reenable = d->ownerDisabled;
    d->ownerDisabled = false;
    owner = d->owner;
  }
  // The owner takes input again at once; the dialog goes when its loop next looks.
  if (reenable) EnableWindow(owner, TRUE);
  ShowWindow(dialog, SW_HIDE);
  PostMessageW(dialog, WM_NULL, 0, 0);
  return TRUE;
}

BOOL WINAPI IsDialogMessageW(HWND dialog, LPMSG msg) {
  if (!dialog || !msg || !IsWindow(dialog)) return FALSE;
  if (msg->hwnd != dialog && !IsChild(dialog, msg->hwnd)) return FALSE;
  if (msg->message == WM_KEYDOWN) {
    LRESULT code = SendMessageW(msg->hwnd, WM_GETDLGCODE, msg->wParam, (LPARAM)msg);
    switch (msg->wParam) {
      case VK_TAB:
        if (code & (DLGC_WANTTAB | DLGC_WANTALLKEYS)) break;
        SendMessageW(dialog, WM_NEXTDLGCTL, GetKeyState(VK_SHIFT) < 0 ? 1 : 0, 0);
        return TRUE;
      case VK_RETURN: {
        if (code & DLGC_WANTALLKEYS) break;
        HWND focus = GetFocus();
        if (IsChild(dialog, focus) && (SendMessageW(focus, WM_GETDLGCODE, 0, 0) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON))) {
          SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(focus), BN_CLICKED), (LPARAM)focus);
          return TRUE;
        }
        LRESULT def = SendMessageW(dialog, DM_GETDEFID, 0, 0);
        if (HIWORD(def) == DC_HASDEFID) {
          HWND button = GetDlgItem(dialog, LOWORD(def));
          if (!button || IsWindowEnabled(button))
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(LOWORD(def), BN_CLICKED), (LPARAM)button);
        } else {
          SendMessageW(dialog, WM_COMMAND, IDOK, (LPARAM)GetDlgItem(dialog, IDOK));
        }
        return TRUE;
      }
      case VK_ESCAPE:
        if (code & DLGC_WANTALLKEYS) break;
        SendMessageW(dialog, WM_COMMAND, IDCANCEL, (LPARAM)GetDlgItem(dialog, IDCANCEL));
        return TRUE;
    }
  }
  TranslateMessage(msg);
  DispatchMessageW(msg);
  return TRUE;
}

BOOL WINAPI MapDialogRect(HWND dialog, LPRECT rect) {
  Lock lk(Mu());
  Dlg* d = Find(dialog);
  if (!d || !rect) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  rect->left = MulDiv(rect->left, d->baseX, 4);
  rect->right = MulDiv(rect->right, d->baseX, 4);
  rect->top = MulDiv(rect->top, d->baseY, 8);
  rect->bottom = MulDiv(rect->bottom, d->baseY, 8);
  return TRUE;
}

HWND WINAPI GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) {
  if (!IsWindow(dialog)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return NextTab(dialog, control, previous != FALSE);
}

int WINAPI GetDlgCtrlID(HWND hwnd) { return IsWindow(hwnd) ? (int)GetWindowLongPtrW(hwnd, GWLP_ID) : 0; }

// ---- controls by id -------------------------------------------------------------

HWND WINAPI GetDlgItem(HWND dialog, int id) {
  bool window = IsWindow(dialog);
  Lock lk(Mu());
  HWND h = window ? ChildById(dialog, id) : nullptr;
  if (!h) SetError(window ? ERROR_CONTROL_ID_NOT_FOUND : ERROR_INVALID_WINDOW_HANDLE);
  return h;
}

LRESULT WINAPI SendDlgItemMessageW(HWND dialog, int id, UINT msg, WPARAM wp, LPARAM lp) {
  HWND control;
  bool window = IsWindow(dialog);
  {
    Lock lk(Mu());
    std::string entry = "SendDlgItemMessage(" + std::to_string(id) + ", ";
    if ((msg == STM_SETIMAGE && wp == IMAGE_ICON) || msg == STM_SETICON) {
      HICON icon = (HICON)(msg == STM_SETICON ? wp : (WPARAM)lp);
      entry += std::string(msg == STM_SETICON ? "STM_SETICON" : "STM_SETIMAGE") + ", icon=" + IconLabel(icon) + ")";
    } else {
      entry += Hex(msg, 4) + ", " + Hex((unsigned)wp) + ", " + Hex((unsigned)lp) + ")";
    }
    Record(entry);
    control = window ? ChildById(dialog, id) : nullptr;
    if (!control) {
      SetError(ERROR_CONTROL_ID_NOT_FOUND);
      return 0;
    }
    if (msg == STM_SETIMAGE && wp == IMAGE_ICON) NoteControlIcon(control, (HICON)lp);
    if (msg == STM_SETICON) NoteControlIcon(control, (HICON)wp);
  }
  return SendMessageW(control, msg, wp, lp);
}

BOOL WINAPI SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
  HWND control;
  bool window = IsWindow(dialog);
  {
    Lock lk(Mu());
    Record("SetDlgItemText(" + std::to_string(id) + ", " + (text ? Narrow(text) : std::string()) + ")");
    control = window ? ChildById(dialog, id) : nullptr;
    if (!control) {
      SetError(ERROR_CONTROL_ID_NOT_FOUND);
      return FALSE;
    }
  }
  return SetWindowTextW(control, text ? text : L"");
}

UINT WINAPI GetDlgItemTextW(HWND dialog, int id, LPWSTR buf, int max) {
  HWND control = GetDlgItem(dialog, id);
  if (!control) {
    if (buf && max > 0) buf[0] = 0;
    return 0;
  }
  return (UINT)GetWindowTextW(control, buf, max);
}
