// Describes the message box whose caption is the argument, for the Wine tests: one line
// per part ("caption=", "text=", "button=", "icon"). Exit code 1 when there is none.
#include <windows.h>

#include <stdio.h>
#include <string.h>

static BOOL CALLBACK Child(HWND child, LPARAM) {
  char cls[64] = "";
  char text[512] = "";
  GetClassNameA(child, cls, sizeof cls);
  GetWindowTextA(child, text, sizeof text);
  LONG style = GetWindowLongA(child, GWL_STYLE);
  if (lstrcmpiA(cls, "Button") == 0) {
    if (style & WS_VISIBLE) printf("button=%s\n", text);
  } else if (lstrcmpiA(cls, "Static") == 0) {
    if ((style & SS_TYPEMASK) == SS_ICON) {
      if (style & WS_VISIBLE) printf("icon\n");
    } else if (text[0]) {
      printf("text=%s\n", text);
    }
  }
  return TRUE;
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  HWND box = FindWindowA("#32770", argv[1]);
  if (!box) return 1;
  char caption[512] = "";
  GetWindowTextA(box, caption, sizeof caption);
  printf("caption=%s\n", caption);
  EnumChildWindows(box, Child, 0);
  return 0;
}
