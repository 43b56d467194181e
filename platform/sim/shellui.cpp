// The simulated handheld's Pocket PC shell user interface: the menu bar built from a
// module's RCDATA + MENU resources, SHInitDialog, SHFullScreen, LoadImageW for icons,
// and the bench's hands on them (tapping the tray, choosing commands, the Done button).
#include <map>
#include <vector>

#include "bench_shell.h"
#include "core.h"
#include "res_internal.h"
#include "shell_internal.h"

namespace sim {

namespace {

constexpr DWORD kDeviceMenuBarInfoSize = 32;
// The handheld's screen: 240 x 320, a 26-pixel task bar on top, a 26-pixel menu bar below.
constexpr int kScreenWidth = 240;
constexpr int kScreenHeight = 320;
constexpr int kTaskBarHeight = 26;
constexpr int kMenuBarHeight = 26;
constexpr int kIconSize = 32;  // SM_CXICON on the device

constexpr WORD kNoSubMenu = 0xFFFF;
constexpr BYTE kStateEnabled = 0x04;  // TBSTATE_ENABLED
constexpr WORD kMenuGrayed = 0x0001;  // MF_GRAYED
constexpr WORD kMenuPopup = 0x0010;   // MF_POPUP
constexpr WORD kMenuEnd = 0x0080;     // MF_END
constexpr WORD kMenuSeparator = 0x0800;
constexpr int kMaxMenuDepth = 8;
constexpr DWORD kMenuBarFlags = SHCMBF_EMPTYBAR | SHCMBF_HIDDEN | SHCMBF_HIDESIPBUTTON;

const WCHAR kBarClass[] = L"menu_worker";

struct Bar {
  HWND owner = nullptr;
  UINT toolBarId = 0;
  std::vector<bench::MenuButton> buttons;
};

struct ShellUi {
  std::vector<std::pair<HWND, Bar>> bars;  // by bar window, oldest first
  std::map<HWND, DWORD> dialogs;           // SHInitDialog flags
  std::map<HWND, bench::FullScreen> fullScreen;
};

ShellUi& U() {
  static ShellUi* u = new ShellUi;
  return *u;
}

const bool kResetHook = (OnReset([] {
                           U().bars.clear();
                           U().dialogs.clear();
                           U().fullScreen.clear();
                         }),
                         true);

// Little-endian reads that never pass `end`; a short read fails the whole parse.
struct Reader {
  const uint8_t* p;
  const uint8_t* end;
  bool Word(WORD* out) {
    if (end - p < 2) return false;
    *out = (WORD)(p[0] | p[1] << 8);
    p += 2;
    return true;
  }
  bool Text(std::string* out) {
    std::wstring w;
    for (WORD c;;) {
      if (!Word(&c)) return false;
      if (c == 0) break;
      w += (WCHAR)c;
    }
    *out = Narrow(w.c_str());
    return true;
  }
};

// One level of a classic MENU resource, up to the item marked MF_END.
bool ParseMenuItems(Reader* r, int depth, std::vector<bench::MenuItem>* out) {
  if (depth > kMaxMenuDepth) return false;
  for (;;) {
    WORD flags, id = 0;
    if (!r->Word(&flags)) return false;
    if (!(flags & kMenuPopup) && !r->Word(&id)) return false;
    bench::MenuItem item;
    if (!r->Text(&item.text)) return false;
    item.grayed = (flags & kMenuGrayed) != 0;
    if (flags & kMenuPopup) {
      item.popup = true;
      if (!ParseMenuItems(r, depth + 1, &item.items)) return false;
    } else {
      item.command = id;
      // The resource compiler writes a separator as id 0 with no text.
      item.separator = (flags & kMenuSeparator) || (id == 0 && item.text.empty());
    }
    out->push_back(item);
    if (flags & kMenuEnd) return true;
  }
}

// The top-level items of MENU `id`; false with the last error set as FindResourceW sets
// it, or ERROR_RESOURCE_DATA_NOT_FOUND for a malformed (or MENUEX) resource.
bool LoadMenuItems(HMODULE module, WORD id, std::vector<bench::MenuItem>* out) {
  const uint8_t* data;
  DWORD size;
  if (!ResourceData(module, RT_MENU, MAKEINTRESOURCEW(id), &data, &size)) return false;
  Reader r{data, data + size};
  WORD version, headerSize;
  bool ok = r.Word(&version) && r.Word(&headerSize) && version == 0 && headerSize <= size - 4;
  if (ok) {
    r.p += headerSize;
    ok = ParseMenuItems(&r, 0, out);
  }
  if (!ok) SetError(ERROR_RESOURCE_DATA_NOT_FOUND);
  return ok;
}

std::string LoadText(HMODULE module, WORD id) {
  if (id == 0) return std::string();
  WCHAR buf[256];
  int n = LoadStringW(module, id, buf, 256);
  return n > 0 ? Narrow(buf) : std::string();  // a missing string shows as no text
}

// The buttons of bar `id`: the RCDATA header (MENU id, count), then seven words each.
bool LoadBar(HMODULE module, UINT id, std::vector<bench::MenuButton>* out) {
  const uint8_t* data;
  DWORD size;
  if (!ResourceData(module, RT_RCDATA, MAKEINTRESOURCEW(id), &data, &size)) return false;
  Reader r{data, data + size};
  WORD menuId, count;
  if (!r.Word(&menuId) || !r.Word(&count) || (size - 4) / 14 < count) {
    SetError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return false;
  }
  std::vector<bench::MenuItem> popups;
  if (!LoadMenuItems(module, menuId, &popups)) return false;
  for (WORD i = 0; i < count; ++i) {
    WORD image, command, state, style, text, reserved, sub;
    r.Word(&image), r.Word(&command), r.Word(&state), r.Word(&style);
    r.Word(&text), r.Word(&reserved), r.Word(&sub);
    bench::MenuButton b;
    b.text = LoadText(module, text);
    b.command = command;
    b.state = (BYTE)state;
    b.style = (BYTE)style;
    // The sub-menu index, not the dropdown style, decides what a tap does.
    if (sub != kNoSubMenu) {
      if (sub >= popups.size() || !popups[sub].popup) {
        SetError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return false;
      }
      b.dropdown = true;
      b.items = popups[sub].items;
    }
    out->push_back(b);
  }
  return true;
}

bool HoldsCommand(const std::vector<bench::MenuItem>& items, UINT command) {
  for (const bench::MenuItem& it : items) {
    if (it.grayed || it.separator) continue;
    if (it.popup ? HoldsCommand(it.items, command) : it.command == command) return true;
  }
  return false;
}

// The window manager keeps an owned window's rectangle relative to its owner; whatever
// it does, move `hwnd` so that its screen rectangle is `want`.
void PlaceOnScreen(HWND hwnd, const RECT& want) {
  RECT now;
  int w = want.right - want.left, h = want.bottom - want.top;
  HWND parent = GetParent(hwnd);
  RECT origin{};
  if (parent) GetWindowRect(parent, &origin);
  MoveWindow(hwnd, want.left - origin.left, want.top - origin.top, w, h, TRUE);
  if (GetWindowRect(hwnd, &now) && (now.left != want.left || now.top != want.top))
    MoveWindow(hwnd, want.left - origin.left - (now.left - want.left), want.top - origin.top - (now.top - want.top),
               w, h, TRUE);
}

LRESULT CALLBACK BarProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DESTROY) {
    Lock lk(Mu());
    auto& bars = U().bars;
    for (auto it = bars.begin(); it != bars.end(); ++it)
      if (it->first == hwnd) {
        bars.erase(it);
        break;
      }
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

// Windows this part remembers but that are gone (a thread's windows vanish without
// WM_DESTROY). No lock held.
template <class Map>
void DropDead(Map& (*of)()) {
  std::vector<HWND> keys;
  {
    Lock lk(Mu());
    for (auto& kv : of()) keys.push_back(kv.first);
  }
  std::vector<HWND> dead;
  for (HWND h : keys)
    if (!IsWindow(h)) dead.push_back(h);  // handles are never reused: a dead one stays dead
  Lock lk(Mu());
  for (HWND h : dead) of().erase(h);
}

std::map<HWND, DWORD>& Dialogs() { return U().dialogs; }
std::map<HWND, bench::FullScreen>& FullScreens() { return U().fullScreen; }

}  // namespace
}  // namespace sim

using namespace sim;

// ---- menu bar -------------------------------------------------------------------

BOOL WINAPI SHCreateMenuBar(SHMENUBARINFO* info) {
  bool sized = info && (info->cbSize == kDeviceMenuBarInfoSize || info->cbSize == sizeof(SHMENUBARINFO));
  std::string entry = "SHCreateMenuBar(" + (sized ? std::to_string(info->nToolBarId) : std::string()) + ")";
  if (sized) info->hwndMB = nullptr;
  // Of the flags only those this bar can honour; a colour or an HMENU is not simulated.
  if (!sized || !IsWindow(info->hwndParent) || (info->dwFlags & ~kMenuBarFlags)) {
    Record(entry + " -> FALSE");
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<bench::MenuButton> buttons;
  if (!(info->dwFlags & SHCMBF_EMPTYBAR) && !LoadBar(info->hInstRes, info->nToolBarId, &buttons)) {
    DWORD err = GetLastError();
    Record(entry + " -> FALSE");
    SetError(err);
    return FALSE;
  }
  WNDCLASSW wc{};
  wc.lpfnWndProc = BarProc;
  wc.lpszClassName = kBarClass;
  RegisterClassW(&wc);  // once per handheld; later calls find it there
  DWORD style = WS_POPUP | ((info->dwFlags & SHCMBF_HIDDEN) ? 0 : WS_VISIBLE);
  HWND bar = CreateWindowExW(0, kBarClass, L"", style, 0, kScreenHeight - kMenuBarHeight, kScreenWidth,
                             kMenuBarHeight, info->hwndParent, nullptr, nullptr, nullptr);
  if (!bar) {
    DWORD err = GetLastError();
    Record(entry + " -> FALSE");
    SetError(err);
    return FALSE;
  }
  PlaceOnScreen(bar, RECT{0, kScreenHeight - kMenuBarHeight, kScreenWidth, kScreenHeight});
  {
    Lock lk(Mu());
    Bar b;
    b.owner = info->hwndParent;
    b.toolBarId = info->nToolBarId;
    b.buttons = std::move(buttons);
    U().bars.emplace_back(bar, std::move(b));
  }
  Record(entry);
  info->hwndMB = bar;
  return TRUE;
}

// ---- dialogs and full screen ----------------------------------------------------

BOOL WINAPI SHInitDialog(SHINITDLGINFO* info) {
  if (!info || !(info->dwMask & SHIDIM_FLAGS) || !IsWindow(info->hDlg)) {
    Lock lk(Mu());
    Record(info ? "SHInitDialog(" + WindowLabel(info->hDlg) + ", " + Hex(info->dwFlags) + ") -> FALSE"
                : std::string("SHInitDialog() -> FALSE"));
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DropDead(Dialogs);
  HWND dlg = info->hDlg;
  DWORD flags = info->dwFlags;
  {
    Lock lk(Mu());
    Record("SHInitDialog(" + WindowLabel(dlg) + ", " + Hex(flags) + ")");
    U().dialogs[dlg] = flags;
  }
  // The simulated input panel is always down, so sizing for it is sizing to the screen.
  if (flags & (SHIDIF_SIZEDLG | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_FULLSCREENNOMENUBAR)) {
    int bottom = kScreenHeight - ((flags & SHIDIF_FULLSCREENNOMENUBAR) ? 0 : kMenuBarHeight);
    PlaceOnScreen(dlg, RECT{0, kTaskBarHeight, kScreenWidth, bottom});
  }
  return TRUE;
}

BOOL WINAPI SHFullScreen(HWND hwnd, DWORD state) {
  const DWORD kAll = 0x3F;
  bool window = IsWindow(hwnd);
  // Showing and hiding the same thing at once asks for nothing sensible.
  bool contradicts = (state & ~kAll) || ((state & 0x15) & ((state & 0x2A) >> 1));
  if (window) DropDead(FullScreens);
  Lock lk(Mu());
  std::string entry = "SHFullScreen(" + WindowLabel(hwnd) + ", " + Hex(state) + ")";
  if (!window || contradicts) {
    Record(entry + " -> FALSE");
    SetError(window ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  Record(entry);
  bench::FullScreen& fs = U().fullScreen[hwnd];
  fs.known = true;
  fs.lastFlags = state;
  if (state & (SHFS_SHOWTASKBAR | SHFS_HIDETASKBAR)) fs.taskBarHidden = (state & SHFS_HIDETASKBAR) != 0;
  if (state & (SHFS_SHOWSIPBUTTON | SHFS_HIDESIPBUTTON)) fs.sipButtonHidden = (state & SHFS_HIDESIPBUTTON) != 0;
  if (state & (SHFS_SHOWSTARTICON | SHFS_HIDESTARTICON)) fs.startIconHidden = (state & SHFS_HIDESTARTICON) != 0;
  return TRUE;
}

// ---- images ---------------------------------------------------------------------

HANDLE WINAPI LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT flags) {
  // Icons only, from resources: the program loads nothing else this way.
  if (type != IMAGE_ICON || (flags & LR_LOADFROMFILE) || cx < 0 || cy < 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (cx == 0 && (flags & LR_DEFAULTSIZE)) cx = kIconSize;
  Lock lk(Mu());
  return LoadIconSized(instance, name, cx, (flags & LR_SHARED) != 0);
}

// ---- the bench ------------------------------------------------------------------

namespace bench {

bool TapTrayIcon(HWND hwnd, UINT id) {
  TrayIcon icon = GetTrayIcon(hwnd, id);
  if (!icon.present || !(icon.flags & NIF_MESSAGE)) return false;
  PostMessageW(hwnd, icon.callbackMessage, id, WM_LBUTTONDOWN);
  PostMessageW(hwnd, icon.callbackMessage, id, WM_LBUTTONUP);
  return true;
}

MenuBar GetMenuBar(HWND owner) {
  MenuBar view;
  {
    Lock lk(Mu());
    auto& bars = U().bars;
    for (auto it = bars.rbegin(); it != bars.rend(); ++it) {
      if (it->second.owner != owner) continue;
      view.present = true;
      view.hwnd = it->first;
      view.toolBarId = it->second.toolBarId;
      view.buttons = it->second.buttons;
      break;
    }
  }
  // A bar whose thread ended went without WM_DESTROY.
  if (view.present && !GetWindowRect(view.hwnd, &view.rect)) return MenuBar();
  view.visible = view.present && IsWindowVisible(view.hwnd);
  return view;
}

bool ChooseMenuCommand(HWND owner, UINT command) {
  MenuBar bar = GetMenuBar(owner);
  for (const MenuButton& b : bar.buttons) {
    if (!(b.state & kStateEnabled)) continue;
    bool found = b.dropdown ? HoldsCommand(b.items, command) : b.command == command;
    if (found) return PostMessageW(owner, WM_COMMAND, command, 0);
  }
  return false;
}

ShellDialog GetShellDialog(HWND dialog) {
  Lock lk(Mu());
  ShellDialog d;
  auto it = U().dialogs.find(dialog);
  if (it == U().dialogs.end()) return d;
  d.known = true;
  d.flags = it->second;
  d.doneButton = (it->second & SHIDIF_DONEBUTTON) != 0;
  return d;
}

bool PressDoneButton(HWND dialog) {
  if (!GetShellDialog(dialog).doneButton) return false;
  return PostMessageW(dialog, WM_COMMAND, IDOK, 0);  // fails for a dialog that is gone
}

FullScreen GetFullScreen(HWND hwnd) {
  Lock lk(Mu());
  auto it = U().fullScreen.find(hwnd);
  return it == U().fullScreen.end() ? FullScreen() : it->second;
}

}  // namespace bench
