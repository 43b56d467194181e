// The bench's view of the simulated shell: the tray, loaded icons, controls' images,
// menu bars, shell dialogs and full-screen windows. Host builds only.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace bench {

// The resource id an icon handle was loaded from (0 for null or an unknown handle),
// its size and colour depth as found in the module's RT_ICON resource.
struct IconInfo {
  bool known = false;
  int id = 0;
  int width = 0;
  int height = 0;
  int bitCount = 0;
};
IconInfo DescribeIcon(HICON icon);

// Tray icons shown now.
int TrayIconCount();
struct TrayIcon {
  bool present = false;
  UINT flags = 0;
  UINT callbackMessage = 0;
  int iconId = 0;  // resource id of its icon (0: none)
};
TrayIcon GetTrayIcon(HWND hwnd, UINT id);

// The icon last given to a control with STM_SETIMAGE / STM_SETICON (null if none).
HICON ControlIcon(HWND control);

// Programs started through ShellExecuteEx / CreateProcessW, as "name" or "name args".
std::vector<std::string> StartedPrograms();

// Taps a tray icon: its callback message goes to its window twice, posted, with the
// icon's id and WM_LBUTTONDOWN then WM_LBUTTONUP. False, and nothing sent, when there is
// no such icon or it has no callback message.
bool TapTrayIcon(HWND hwnd, UINT id);

// A menu bar as the user sees it.
struct MenuItem {
  std::string text;  // UTF-8, as in the MENU resource ("&About"); empty for a separator
  UINT command = 0;  // 0 for a separator and a nested pop-up
  bool separator = false;
  bool grayed = false;
  bool popup = false;           // a nested pop-up, holding `items`
  std::vector<MenuItem> items;
};
struct MenuButton {
  std::string text;  // from the string table; empty when the button has none
  UINT command = 0;
  BYTE state = 0;    // 4: enabled
  BYTE style = 0;    // 0x08 dropdown, 0x10 autosize
  bool dropdown = false;  // it opens a pop-up of the MENU rather than sending its command
  std::vector<MenuItem> items;
};
struct MenuBar {
  bool present = false;
  HWND hwnd = nullptr;  // the bar's window, class "menu_worker"
  RECT rect{};          // on the screen
  bool visible = false;
  UINT toolBarId = 0;
  std::vector<MenuButton> buttons;
};
// The newest bar of `owner` still in place (present false when none).
MenuBar GetMenuBar(HWND owner);
// The user picks `command` on owner's bar: from the dropdown that holds it, or the button
// that sends it. WM_COMMAND (command, 0) is posted to the owner. False, and nothing sent,
// when the bar has no such command or it is greyed or on a disabled button.
bool ChooseMenuCommand(HWND owner, UINT command);

// What SHInitDialog was told about a dialog (known false when it never was).
struct ShellDialog {
  bool known = false;
  DWORD flags = 0;
  bool doneButton = false;
};
ShellDialog GetShellDialog(HWND dialog);
// Presses the Done button SHInitDialog gave the dialog: WM_COMMAND IDOK posted to it.
// False, and nothing sent, when it has no Done button or is gone.
bool PressDoneButton(HWND dialog);

// What SHFullScreen left for a window (known false when never called for it).
struct FullScreen {
  bool known = false;
  bool taskBarHidden = false;
  bool sipButtonHidden = false;
  bool startIconHidden = false;
  DWORD lastFlags = 0;
};
FullScreen GetFullScreen(HWND hwnd);

}  // namespace bench
