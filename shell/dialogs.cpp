#include "shell/dialogs.h"

#include <cstring>

#include "engine/inject.h"
#include "engine/serial.h"
#include "shell/driver.h"
#include "shell/resids.h"
#include "shell/settings.h"
#include "shell/state.h"

BOOL HotkeyRegistered = FALSE;
// Made once per initialisation, kept for the life of the program.
static HFONT DialogFont = nullptr;

// Receive the dialog font, in this order.
static const int kFontControls[] = {IDC_FONT_1047, IDC_FONT_1048, IDC_FONT_1056,
                                    IDC_FONT_1055, IDC_STATUS_TEXT, IDC_FONT_1054};

void OpenHelp() {
  // CreateProcessW may write into the command line: give it a buffer of its own.
  WCHAR commandLine[] = L"tavlo.htc#extkbd_help";
  CreateProcessW(L"PegHelp.exe", commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, nullptr);
}

void ShowAboutBox(HWND parent) {
  HRSRC found = FindResourceW(hResDll, MAKEINTRESOURCEW(IDD_ABOUT), RT_DIALOG);
  HGLOBAL tmpl = found ? LoadResource(hResDll, found) : nullptr;
  // A library without the template shows nothing; the dialog call never sees a null template.
  if (tmpl)
    DialogBoxIndirectParamW(hResDll, static_cast<LPCDLGTEMPLATEW>(tmpl), parent, AboutDlgProc, 0);
}

static void InitDialog(HWND hDlg, DWORD flags) {
  SHINITDLGINFO info;
  memset(&info, 0, sizeof info);
  info.dwMask = SHIDIM_FLAGS;
  info.hDlg = hDlg;
  info.dwFlags = flags;
  SHInitDialog(&info);
}

static void SetDialogFont(HWND hDlg) {
  LOGFONTW font;
  memset(&font, 0, sizeof font);
  font.lfHeight = 12;
  wcscpy(font.lfFaceName, L"Tahoma");
  DialogFont = CreateFontIndirectW(&font);
  for (int id : kFontControls)
    SendMessageW(GetDlgItem(hDlg, id), WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont), 0);
}

static INT_PTR OnSettingsInit(HWND hDlg) {
  InitDialog(hDlg, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN);
  SHSipPreference(hDlg, SIP_FORCEDOWN);
  HANDLE smallIcon = LoadImageW(hInstance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, 16, 16, 0);
  SendMessageW(hDlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
  int language = GetLanguageIndex();
  // Chinese texts keep the template's own font.
  if (language != 6 && language != 7) SetDialogFont(hDlg);
  hSettingsDlg = hDlg;
  SetWindowTextW(hDlg, L"Corvane Tavlo");
  InitDriver();
  DriverState = DRIVER_STOPPED;
  StartDriver();
  HotkeyRegistered = RegisterHotKey(hDlg, CAPS_HOTKEY_ID, 0, VK_CAPITAL);
  if (!HotkeyRegistered) {
    WCHAR text[64];
    wsprintfW(text, L"Hotkey reg failed:%d", static_cast<int>(GetLastError()));
    MessageBoxW(hDlg, text, L"test", MB_OK);
  }
  SendDlgItemMessageW(hDlg, IDC_REPEAT_RATE, TBM_SETRANGE, 1, MAKELONG(1, 30));
  SendDlgItemMessageW(hDlg, IDC_REPEAT_RATE, TBM_SETPOS, 1, static_cast<LPARAM>(RepeatRate.load()));
  SendDlgItemMessageW(hDlg, IDC_INITIAL_DELAY, TBM_SETRANGE, 1, MAKELONG(250, 1000));
  SendDlgItemMessageW(hDlg, IDC_INITIAL_DELAY, TBM_SETPOS, 1, static_cast<LPARAM>(InitialDelay.load()));
  return TRUE;
}

static void AskExit(HWND hDlg) {
  WCHAR caption[RES_STRING_MAX] = {0};
  WCHAR question[RES_STRING_MAX] = {0};
  LoadStringW(hResDll, IDS_MAIN_TITLE, caption, RES_STRING_MAX);
  LoadStringW(hResDll, IDS_EXIT_QUESTION, question, RES_STRING_MAX);
  // Only No keeps the driver; any other answer, a failed box too, exits.
  if (MessageBoxW(hDlg, question, caption, MB_YESNO | MB_ICONEXCLAMATION) == IDNO)
    SetFocus(hDlg);
  else
    DestroyWindow(hMainWnd);
}

static uint32_t StickyChoice(HWND hDlg, int checkBox, LPCWSTR name) {
  uint32_t on = SendDlgItemMessageW(hDlg, checkBox, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
  WriteSetting(SETTINGS_SUBKEY, name, on);
  return on;
}

static INT_PTR OnSettingsCommand(HWND hDlg, WORD id) {
  switch (id) {
    case IDC_START_STOP:
      if (DriverState == DRIVER_STOPPED)
        StartDriver();
      else
        StopDriver();
      return TRUE;
    case IDC_HELP_BUTTON:
      SendMessageW(hDlg, WM_HELP, 0, 0);
      return TRUE;
    case IDC_EXIT_BUTTON:
      AskExit(hDlg);
      return TRUE;
    case IDC_STATUS_ICON:
      ShowAboutBox(hDlg);
      return TRUE;
    case IDC_STICKY_SHIFT:
      PrefShift = StickyChoice(hDlg, IDC_STICKY_SHIFT, L"PrefShift");
      return FALSE;
    case IDC_STICKY_FN:
      PrefFn = StickyChoice(hDlg, IDC_STICKY_FN, L"PrefFn");
      return FALSE;
    default:
      return FALSE;
  }
}

static INT_PTR OnTimer(WPARAM id) {
  switch (id) {
    case REPEAT_TIMER_ID:
      SetEvent(hTouchEvent);
      RepeatTick();
      return TRUE;
    case RESUME_TIMER_ID:
      return OnResumeTimer();
    case WATCHDOG_TIMER_ID:
      return OnWatchdogTimer();
    default:
      return TRUE;
  }
}

static INT_PTR OnTrackbarMoved(HWND hDlg) {
  RepeatRate = static_cast<uint32_t>(SendDlgItemMessageW(hDlg, IDC_REPEAT_RATE, TBM_GETPOS, 0, 0));
  WriteSetting(SETTINGS_SUBKEY, L"RepeatRate", RepeatRate);
  InitialDelay = static_cast<uint32_t>(SendDlgItemMessageW(hDlg, IDC_INITIAL_DELAY, TBM_GETPOS, 0, 0));
  WriteSetting(SETTINGS_SUBKEY, L"InitialDelay", InitialDelay);
  return TRUE;
}

INT_PTR CALLBACK SettingsDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG:
      return OnSettingsInit(hDlg);
    case WM_COMMAND:
      return OnSettingsCommand(hDlg, LOWORD(wParam));
    case WM_HELP:
      OpenHelp();
      return TRUE;
    case WM_TIMER:
      return OnTimer(wParam);
    case WM_HSCROLL:
      return OnTrackbarMoved(hDlg);
    case WM_HOTKEY:
      CapsLockOn = CapsLockOn ? 0 : 1;
      return TRUE;
    case TRAY_NOTIFY_MESSAGE:
      return OnTrayNotify(lParam);
    case WM_PAINT:
      SetFocus(hDlg);
      return FALSE;
    case WM_DESTROY:
      if (HotkeyRegistered) UnregisterHotKey(hDlg, CAPS_HOTKEY_ID);
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK AboutDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG: {
      InitDialog(hDlg, SHIDIF_DONEBUTTON | SHIDIF_SIPDOWN | SHIDIF_FULLSCREENNOMENUBAR);
      SetDlgItemTextW(hDlg, IDC_VERSION, VERSION_TEXT);
      WCHAR stamp[64];
      wsprintfW(stamp, L"%hs @ %hs", __DATE__, __TIME__);
      SetDlgItemTextW(hDlg, IDC_BUILD_STAMP, stamp);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(hDlg, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) SHFullScreen(hDlg, SHFS_HIDESIPBUTTON);
      return FALSE;
    case WM_PAINT:
      SetFocus(hDlg);
      return FALSE;
    default:
      return FALSE;
  }
}
