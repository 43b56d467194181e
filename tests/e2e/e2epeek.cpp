// Reports what another program shows, for the end-to-end script: where a window or
// control is on the screen (so the script can click it as a user would), and what
// a control holds. One line per fact; exit code 1 when the window is not there.
//
//   e2epeek win CLASS TITLE        rect=, client= and menu=0|1 of a top-level window
//   e2epeek ctl CLASS TITLE ID     rect=, text=, and check= or pos= of a control in it
//   e2epeek box CAPTION            caption=, text= and button=TEXT L T R B of a dialog box
//
// Rectangles are screen coordinates: left top right bottom. CLASS "-" matches any.
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void PrintRect(const char* name, const RECT& r) {
  printf("%s=%ld %ld %ld %ld\n", name, r.left, r.top, r.right, r.bottom);
}

static HWND TopLevel(const char* cls, const char* title) {
  return FindWindowA(strcmp(cls, "-") == 0 ? nullptr : cls, title);
}

struct Search {
  int id;
  HWND found;
};

static BOOL CALLBACK FindId(HWND child, LPARAM param) {
  Search* s = reinterpret_cast<Search*>(param);
  if (GetDlgCtrlID(child) != s->id) return TRUE;
  s->found = child;
  return FALSE;
}

static int Window(HWND w) {
  RECT r;
  GetWindowRect(w, &r);
  PrintRect("rect", r);
  RECT c;
  GetClientRect(w, &c);
  MapWindowPoints(w, nullptr, reinterpret_cast<POINT*>(&c), 2);
  PrintRect("client", c);
  printf("menu=%d\n", GetMenu(w) != nullptr ? 1 : 0);
  return 0;
}

static int Control(HWND w, int id) {
  Search s = {id, nullptr};
  EnumChildWindows(w, FindId, reinterpret_cast<LPARAM>(&s));
  if (!s.found) return 1;
  RECT r;
  GetWindowRect(s.found, &r);
  PrintRect("rect", r);
  char cls[64] = "", text[256] = "";
  GetClassNameA(s.found, cls, sizeof cls);
  GetWindowTextA(s.found, text, sizeof text);
  printf("class=%s\ntext=%s\n", cls, text);
  if (lstrcmpiA(cls, "Button") == 0) {
    printf("check=%d\n", static_cast<int>(SendMessageA(s.found, BM_GETCHECK, 0, 0)));
  } else if (lstrcmpiA(cls, TRACKBAR_CLASSA) == 0) {
    printf("pos=%d\n", static_cast<int>(SendMessageA(s.found, TBM_GETPOS, 0, 0)));
    printf("range=%d %d\n", static_cast<int>(SendMessageA(s.found, TBM_GETRANGEMIN, 0, 0)),
           static_cast<int>(SendMessageA(s.found, TBM_GETRANGEMAX, 0, 0)));
  }
  return 0;
}

static BOOL CALLBACK BoxPart(HWND child, LPARAM) {
  char cls[64] = "", text[512] = "";
  GetClassNameA(child, cls, sizeof cls);
  GetWindowTextA(child, text, sizeof text);
  LONG style = GetWindowLongA(child, GWL_STYLE);
  if (!(style & WS_VISIBLE)) return TRUE;
  if (lstrcmpiA(cls, "Button") == 0) {
    RECT r;
    GetWindowRect(child, &r);
    printf("button=%s %ld %ld %ld %ld\n", text, r.left, r.top, r.right, r.bottom);
  } else if (lstrcmpiA(cls, "Static") == 0 && (style & SS_TYPEMASK) != SS_ICON && text[0]) {
    printf("text=%s\n", text);
  }
  return TRUE;
}

static int Box(const char* caption) {
  HWND box = FindWindowA("#32770", caption);
  if (!box) return 1;
  char text[512] = "";
  GetWindowTextA(box, text, sizeof text);
  printf("caption=%s\n", text);
  RECT r;
  GetWindowRect(box, &r);
  PrintRect("rect", r);
  EnumChildWindows(box, BoxPart, 0);
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "win") == 0) {
    HWND w = TopLevel(argv[2], argv[3]);
    return w ? Window(w) : 1;
  }
  if (argc == 5 && strcmp(argv[1], "ctl") == 0) {
    HWND w = TopLevel(argv[2], argv[3]);
    return w ? Control(w, atoi(argv[4])) : 1;
  }
  if (argc == 3 && strcmp(argv[1], "box") == 0) return Box(argv[2]);
  fprintf(stderr, "usage: e2epeek win CLASS TITLE | ctl CLASS TITLE ID | box CAPTION\n");
  return 2;
}
