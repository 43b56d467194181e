#include "shell/mainwnd.h"

#include <cstring>

#include "shell/dialogs.h"
#include "shell/driver.h"
#include "shell/picker.h"
#include "shell/resids.h"
#include "shell/state.h"

// The identity of a running driver: strings 1 and 2 of the resource library.
static WCHAR ClassName[RES_STRING_MAX];
static WCHAR WindowTitle[RES_STRING_MAX];

static void CreateMenuBar(HWND hwnd) {
  SHMENUBARINFO info;
  memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;  // 32 on the handheld
  info.hwndParent = hwnd;
  info.nToolBarId = IDR_MENUBAR;
  info.hInstRes = hResDll;
  SHCreateMenuBar(&info);
  hMenuBar = info.hwndMB;
}

static void CreateSettingsDialog(HWND hwnd) {
  RECT client;
  GetClientRect(hwnd, &client);
  HRSRC found = FindResourceW(hResDll, MAKEINTRESOURCEW(IDD_SETTINGS), RT_DIALOG);
  HGLOBAL tmpl = found ? LoadResource(hResDll, found) : nullptr;
  // Without the template the window stays empty and the driver is not started.
  if (!tmpl) return;
  HWND dialog = CreateDialogIndirectParamW(hResDll, static_cast<LPCDLGTEMPLATEW>(tmpl), hwnd, SettingsDlgProc, 0);
  // Recorded by the dialog itself already; the reader thread reads it from then on.
  if (hSettingsDlg != dialog) hSettingsDlg = dialog;
  if (!dialog) return;
  MoveWindow(dialog, client.left, client.top, client.right - client.left, client.bottom - client.top, TRUE);
  ShowWindow(dialog, SW_SHOW);
  SetForegroundWindow(dialog);
  UpdateWindow(dialog);
}

static void BringToFront(HWND hwnd) {
  ShowWindow(hwnd, SW_SHOW);
  SetForegroundWindow(hwnd);
  ShowWindow(hSettingsDlg, SW_SHOW);
  SetForegroundWindow(hSettingsDlg);
  SetFocus(hSettingsDlg);
}

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE:
      CreateMenuBar(hwnd);
      CreateSettingsDialog(hwnd);
      return 0;
    case WM_DESTROY:
      // The driver first: with its reader gone nothing opens another picker.
      ShutdownDriver();
      EndPicker();
      PostQuitMessage(0);
      return 0;
    case WM_HELP:
      OpenHelp();
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDM_BRING_TO_FRONT:
          BringToFront(hwnd);
          return 0;
        case IDM_ABOUT:
          ShowAboutBox(hwnd);
          return 0;
        case IDM_EXIT:
          PostMessageW(hSettingsDlg, WM_COMMAND, IDC_EXIT_BUTTON, 0);
          return 0;
        case IDM_HELP:
          PostMessageW(hSettingsDlg, WM_HELP, 0, 0);
          return 0;
        default:
          return DefWindowProcW(hwnd, msg, wParam, lParam);
      }
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

static BOOL CreateMainWindow(HINSTANCE instance, int showCommand) {
  hInstance = instance;
  WNDCLASSW wc;
  memset(&wc, 0, sizeof wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = MainWndProc;
  wc.hInstance = hInstance;
  wc.hIcon = LoadIconW(hInstance, MAKEINTRESOURCEW(IDI_APP));
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = ClassName;
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowExW(0, ClassName, WindowTitle, WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, nullptr, nullptr, hInstance, nullptr);
  hMainWnd = hwnd;
  if (!hwnd) return FALSE;
  RECT rect;
  GetWindowRect(hwnd, &rect);
  rect.bottom -= MENU_BAR_HEIGHT;
  // The window starts at the screen's left edge, so its width is the right coordinate.
  if (hMenuBar) MoveWindow(hwnd, rect.left, rect.top, rect.right, rect.bottom - rect.top, TRUE);
  ShowWindow(hwnd, showCommand);
  UpdateWindow(hwnd);
  return TRUE;
}

extern "C" int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand) {
  hResDll = LoadLibraryW(L"brindleres.dll");
  if (!hResDll) {
    MessageBoxW(nullptr, L"Resource file (brindleres.dll) not found!", L"brindle.exe", MB_OK | MB_ICONEXCLAMATION);
    return 1;
  }
  LoadStringW(hResDll, IDS_MAIN_CLASS, ClassName, RES_STRING_MAX);
  LoadStringW(hResDll, IDS_MAIN_TITLE, WindowTitle, RES_STRING_MAX);
  HWND running = FindWindowW(ClassName, WindowTitle);
  if (running) {
    PostMessageW(running, WM_COMMAND, IDM_BRING_TO_FRONT, 0);
    FreeLibrary(hResDll);
    return 0;
  }
  if (!CreateMainWindow(instance, showCommand)) {
    FreeLibrary(hResDll);
    return 0;
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0)) {
    // Every message of the thread passes the dialog's keyboard navigation first.
    if (!IsDialogMessageW(hSettingsDlg, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  FreeLibrary(hResDll);
  return static_cast<int>(msg.wParam);
}
