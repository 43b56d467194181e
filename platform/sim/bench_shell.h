// The bench's view of the simulated shell: the tray, loaded icons, controls' images.
// Host builds only.
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

}  // namespace bench
