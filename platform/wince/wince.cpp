// The Pocket PC calls on desktop Windows.
#include "platform/platform.h"

// From here on keybd_event is the desktop call again.
#undef keybd_event

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

BOOL WINAPI VirtualCopy(LPVOID, LPVOID, DWORD, DWORD) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

BOOL WINAPI SHSipPreference(HWND, SIPSTATE) {
  return TRUE;
}

BOOL WINAPI SHCreateMenuBar(SHMENUBARINFO* info) {
  if (info == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  info->hwndMB = nullptr;
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

BOOL WINAPI SHInitDialog(SHINITDLGINFO* info) {
  if (info == nullptr || !IsWindow(info->hDlg)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI SHFullScreen(HWND, DWORD) {
  return TRUE;
}
