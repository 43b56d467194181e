// The Pocket PC calls on desktop Windows.
#include "platform/platform.h"

#include <commctrl.h>
#include <string.h>

// From here on these are the desktop calls again.
#undef keybd_event
#undef SetForegroundWindow
#undef RegCreateKeyExW
#undef RegOpenKeyExW

// The settings dialog has trackbars, whose class desktop Windows registers only once
// the common controls are initialised; the handheld's shell has done that before any
// program starts. Every program using this layer links this file, so it is done here,
// before main and so before any dialog.
static bool InitControls() {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES};
  return InitCommonControlsEx(&icc) != FALSE;
}
[[maybe_unused]] static const bool g_controlsReady = InitControls();

// Wine activates a window of another thread only when that thread next reads its
// messages, and drops keyboard input that comes before: the picker's character, typed
// right after it gives the user's window back, was lost now and then. So the call
// returns once that thread has taken the activation, or has not answered for a second.
BOOL WINAPI brindle_SetForegroundWindow(HWND hwnd) {
  if (!SetForegroundWindow(hwnd)) return FALSE;
  DWORD thread = GetWindowThreadProcessId(hwnd, nullptr);
  if (thread != 0 && thread != GetCurrentThreadId()) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored);
  }
  return TRUE;
}

void WINAPI brindle_keybd_event(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR extra) {
  keybd_event(vk, scan, flags & ~static_cast<DWORD>(KEYEVENTF_SILENT), extra);
}

static void KeyInput(INPUT* in, WORD vk, WORD scan, DWORD flags) {
  ZeroMemory(in, sizeof *in);
  in->type = INPUT_KEYBOARD;
  in->ki.wVk = vk;
  in->ki.wScan = scan;
  in->ki.dwFlags = flags;
}

// A character is typed by a press and a release of itself; the desktop makes the
// WM_CHAR from the press.
static BOOL TypeCharacter(HWND hwnd, UINT ch) {
  if (hwnd == nullptr || hwnd == reinterpret_cast<HWND>(-1)) {
    INPUT in[2];
    KeyInput(&in[0], 0, static_cast<WORD>(ch), KEYEVENTF_UNICODE);
    KeyInput(&in[1], 0, static_cast<WORD>(ch), KEYEVENTF_UNICODE | KEYEVENTF_KEYUP);
    return SendInput(2, in, sizeof in[0]) == 2;
  }
  return PostMessageW(hwnd, WM_CHAR, static_cast<WPARAM>(ch), 1);
}

static BOOL MoveKey(HWND hwnd, UINT vk, bool down) {
  if (hwnd == nullptr || hwnd == reinterpret_cast<HWND>(-1)) {
    INPUT in;
    KeyInput(&in, static_cast<WORD>(vk), 0, down ? 0 : KEYEVENTF_KEYUP);
    return SendInput(1, &in, sizeof in) == 1;
  }
  // lParam as the desktop builds it: repeat count 1; a release was down before.
  LPARAM lParam = down ? 1 : static_cast<LPARAM>(0xC0000001u);
  return PostMessageW(hwnd, down ? WM_KEYDOWN : WM_KEYUP, static_cast<WPARAM>(vk), lParam);
}

BOOL WINAPI PostKeybdMessage(HWND hwnd, UINT vk, KEY_STATE_FLAGS keyStateFlags, UINT cCharacters,
                             UINT* pShiftStateBuffer, UINT* pCharacterBuffer) {
  if (cCharacters > 0 && pCharacterBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (vk > 0xFF) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // On the handheld the key message and the characters arrive together. Injecting
  // both here would type a key such as Enter twice (once from the key, once from the
  // character), so the characters carry the input when there are any.
  BOOL ok = TRUE;
  bool typed = false;
  for (UINT i = 0; i < cCharacters; ++i) {
    UINT shift = pShiftStateBuffer != nullptr ? pShiftStateBuffer[i] : keyStateFlags;
    if (shift & KeyShiftNoCharacterFlag) continue;
    if (pCharacterBuffer[i] > 0xFFFF) {
      SetLastError(ERROR_INVALID_PARAMETER);
      ok = FALSE;
      continue;
    }
    if (!TypeCharacter(hwnd, pCharacterBuffer[i])) ok = FALSE;
    typed = true;
  }
  if (!typed && vk != 0) {
    if (!MoveKey(hwnd, vk, (keyStateFlags & KeyStateDownFlag) != 0)) ok = FALSE;
  }
  return ok;
}

// What the handheld takes access 0 to mean.
static REGSAM HandheldAccess(REGSAM access) {
  return access == 0 ? KEY_ALL_ACCESS : access;
}

LONG WINAPI brindle_RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR cls, DWORD options,
                                    REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                                    LPDWORD disposition) {
  return RegCreateKeyExW(key, subKey, reserved, cls, options, HandheldAccess(access), security, result,
                         disposition);
}

LONG WINAPI brindle_RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  return RegOpenKeyExW(key, subKey, options, HandheldAccess(access), result);
}

BOOL WINAPI EventModify(HANDLE event, DWORD func) {
  switch (func) {
    case EVENT_PULSE:
      return PulseEvent(event);
    case EVENT_RESET:
      return ResetEvent(event);
    case EVENT_SET:
      return SetEvent(event);
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

BOOL WINAPI VirtualCopy(LPVOID dest, LPVOID, DWORD size, DWORD) {
  if (dest == nullptr || size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Committing fails with the desktop's own error where dest is not reserved.
  return VirtualAlloc(dest, size, MEM_COMMIT, PAGE_READWRITE) != nullptr;
}

// No input panel on a desktop.
BOOL WINAPI SHSipPreference(HWND, SIPSTATE) {
  return TRUE;
}

// ---- menu bar -------------------------------------------------------------------

static const wchar_t kMenuBarClass[] = L"BrindleMenuBar";
static const WORD kNoSubMenu = 0xFFFF;
static const size_t kHeaderWords = 2;
static const size_t kButtonWords = 7;
enum { kImage, kCommand, kState, kStyle, kText, kReserved, kSubMenu };

// The handheld's bar is a window; here it stands for the desktop menu it put on its
// parent, so destroying it (by itself or with the parent) takes that menu away again.
static LRESULT CALLBACK MenuBarProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_DESTROY: {
      HMENU bar = reinterpret_cast<HMENU>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
      HWND parent = GetParent(hwnd);
      // Still on the parent and it cannot be taken off: the parent destroys it itself.
      if (bar != nullptr && (GetMenu(parent) != bar || SetMenu(parent, nullptr))) DestroyMenu(bar);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      return 0;
    }
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

static HINSTANCE LayerModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&MenuBarProc), &module);
  return module;
}

static bool RegisterMenuBarClass() {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = MenuBarProc;
  wc.hInstance = LayerModule();
  wc.lpszClassName = kMenuBarClass;
  return RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// Sub-menu `index` of MENU resource `menuId`, taken out of a fresh copy of that menu,
// so each button owns its own popup even when two name the same one.
static HMENU TakeSubMenu(HINSTANCE res, WORD menuId, WORD index) {
  HMENU whole = LoadMenuW(res, MAKEINTRESOURCEW(menuId));
  if (whole == nullptr) return nullptr;
  HMENU sub = GetSubMenu(whole, index);
  if (sub != nullptr && !RemoveMenu(whole, index, MF_BYPOSITION)) sub = nullptr;
  DestroyMenu(whole);
  return sub;
}

static bool AddButton(HMENU bar, HINSTANCE res, WORD menuId, const WORD* button) {
  if (button[kState] & TBSTATE_HIDDEN) return true;
  // A desktop menu item has no picture, so its text is what the user finds it by: a
  // button without one is a bad resource here.
  wchar_t text[80];
  if (LoadStringW(res, button[kText], text, 80) <= 0) return false;
  UINT flags = MF_STRING;
  if (!(button[kState] & TBSTATE_ENABLED)) flags |= MF_GRAYED;
  if (button[kSubMenu] == kNoSubMenu) return AppendMenuW(bar, flags, button[kCommand], text) != FALSE;
  HMENU sub = TakeSubMenu(res, menuId, button[kSubMenu]);
  if (sub == nullptr) return false;
  if (AppendMenuW(bar, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), text)) return true;
  DestroyMenu(sub);
  return false;
}

// The bar's desktop menu from the RCDATA menu-bar resource, or nullptr. Nothing past
// the resource's own size is read.
static HMENU BuildMenuBar(HINSTANCE res, UINT id) {
  HRSRC found = FindResourceW(res, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (found == nullptr) return nullptr;
  DWORD bytes = SizeofResource(res, found);
  HGLOBAL loaded = LoadResource(res, found);
  const BYTE* data = loaded != nullptr ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  if (data == nullptr || bytes < kHeaderWords * sizeof(WORD)) return nullptr;
  WORD header[kHeaderWords];
  memcpy(header, data, sizeof header);
  size_t count = header[1];
  if ((bytes - sizeof header) / (kButtonWords * sizeof(WORD)) < count) return nullptr;
  HMENU bar = CreateMenu();
  if (bar == nullptr) return nullptr;
  for (size_t i = 0; i < count; ++i) {
    WORD button[kButtonWords];
    memcpy(button, data + sizeof header + i * sizeof button, sizeof button);
    if (!AddButton(bar, res, header[0], button)) {
      DestroyMenu(bar);
      return nullptr;
    }
  }
  return bar;
}

// Builds the bar as a desktop menu on hwndParent (a top-level window): a button with a
// sub-menu becomes a popup holding that sub-menu of the MENU resource; any other a menu
// item sending its command as WM_COMMAND to hwndParent. SHCMBF_HMENU: nToolBarId is a
// MENU resource, set as it is. SHCMBF_EMPTYBAR: an empty bar. hwndMB is a hidden child
// window of hwndParent that owns the desktop menu: destroying it takes the menu off
// hwndParent again. A bad or missing resource: FALSE, hwndMB 0,
// ERROR_RESOURCE_DATA_NOT_FOUND.
BOOL WINAPI SHCreateMenuBar(SHMENUBARINFO* info) {
  if (info == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  info->hwndMB = nullptr;
  HWND parent = info->hwndParent;
  if (!IsWindow(parent) || (GetWindowLongW(parent, GWL_STYLE) & WS_CHILD)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  HMENU bar;
  if (info->dwFlags & SHCMBF_EMPTYBAR) {
    bar = CreateMenu();
  } else if (info->dwFlags & SHCMBF_HMENU) {
    bar = LoadMenuW(info->hInstRes, MAKEINTRESOURCEW(info->nToolBarId));
  } else {
    bar = BuildMenuBar(info->hInstRes, info->nToolBarId);
  }
  if (bar == nullptr) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return FALSE;
  }
  HWND mb = nullptr;
  if (RegisterMenuBarClass())
    mb = CreateWindowExW(0, kMenuBarClass, L"", WS_CHILD, 0, 0, 0, 0, parent, nullptr, LayerModule(), nullptr);
  if (mb == nullptr) {
    DestroyMenu(bar);
    return FALSE;
  }
  SetWindowLongPtrW(mb, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(bar));
  if (!SetMenu(parent, bar)) {
    DWORD error = GetLastError();
    DestroyWindow(mb);  // the menu is not on the parent, so this destroys it
    SetLastError(error);
    return FALSE;
  }
  DrawMenuBar(parent);
  info->hwndMB = mb;
  return TRUE;
}

// No Done button on a desktop. A pop-up dialog asked to fill the screen fills the work
// area, as on the handheld; a child dialog keeps its size (its parent places it).
BOOL WINAPI SHInitDialog(SHINITDLGINFO* info) {
  if (info == nullptr || !IsWindow(info->hDlg)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD fill = SHIDIF_SIZEDLG | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_FULLSCREENNOMENUBAR;
  bool child = (GetWindowLongW(info->hDlg, GWL_STYLE) & WS_CHILD) != 0;
  RECT work;
  if ((info->dwMask & SHIDIM_FLAGS) && (info->dwFlags & fill) && !child &&
      SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
    MoveWindow(info->hDlg, work.left, work.top, work.right - work.left, work.bottom - work.top, TRUE);
  return TRUE;
}

#undef CreateWindowExW
HWND WINAPI brindle_CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                                    int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                                    LPVOID param) {
  RECT work;
  if (!(style & WS_CHILD) && x == CW_USEDEFAULT && width == CW_USEDEFAULT &&
      SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) {
    x = work.left;
    y = work.top;
    width = work.right - work.left;
    height = work.bottom - work.top;
  }
  return CreateWindowExW(exStyle, className, windowName, style, x, y, width, height, parent, menu, instance, param);
}

#undef CreateProcessW
BOOL WINAPI brindle_CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                   LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD flags,
                                   LPVOID environment, LPCWSTR directory, LPSTARTUPINFOW startupInfo,
                                   LPPROCESS_INFORMATION processInformation) {
  STARTUPINFOW start;
  if (startupInfo == nullptr) {
    memset(&start, 0, sizeof start);
    start.cb = sizeof start;
    startupInfo = &start;
  }
  PROCESS_INFORMATION unasked;
  bool close = processInformation == nullptr;
  if (close) processInformation = &unasked;
  BOOL ok = CreateProcessW(application, commandLine, processAttributes, threadAttributes, inheritHandles, flags,
                           environment, directory, startupInfo, processInformation);
  if (ok && close) {
    CloseHandle(unasked.hThread);
    CloseHandle(unasked.hProcess);
  }
  return ok;
}

// No task bar or input panel button to hide on a desktop.
BOOL WINAPI SHFullScreen(HWND, DWORD) {
  return TRUE;
}
