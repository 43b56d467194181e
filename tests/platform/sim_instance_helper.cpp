// The other process of the single-instance tests (sim_instance_test.cpp):
//
//   sim_instance_helper serve CLASS TITLE           a shared top-level window; prints
//                                                   "ready", then "command W L" for each
//                                                   WM_COMMAND; WM_COMMAND 9 ends it
//   sim_instance_helper serve-unshared CLASS TITLE  the same without sharing
//   sim_instance_helper find CLASS|- TITLE|- W      FindWindowW (- = null), then
//                                                   PostMessageW(found, WM_COMMAND, W, 0);
//                                                   exit 0 posted, 1 not found, 3 post failed
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/sim/instance.h"

namespace {

std::wstring Wide(const char* s) {
  std::wstring w;
  for (; *s; ++s) w += (wchar_t)(unsigned char)*s;
  return w;
}

LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      printf("command %lu %ld\n", (unsigned long)wp, (long)lp);
      fflush(stdout);
      if (wp == 9) DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

int Serve(const char* cls, const char* title, bool shared) {
  if (shared) sim::ShareWindowsAcrossProcesses(true);
  std::wstring c = Wide(cls), t = Wide(title);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = Proc;
  wc.lpszClassName = c.c_str();
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowExW(0, c.c_str(), t.c_str(), WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  if (!hwnd) return 4;
  printf("ready\n");
  fflush(stdout);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  return 0;
}

int Find(const char* cls, const char* title, const char* wp) {
  sim::ShareWindowsAcrossProcesses(true);
  std::wstring c = Wide(cls), t = Wide(title);
  HWND found = FindWindowW(strcmp(cls, "-") ? c.c_str() : nullptr, strcmp(title, "-") ? t.c_str() : nullptr);
  if (!found) return 1;
  return PostMessageW(found, WM_COMMAND, (WPARAM)strtoul(wp, nullptr, 10), 0) ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && !strcmp(argv[1], "serve")) return Serve(argv[2], argv[3], true);
  if (argc == 4 && !strcmp(argv[1], "serve-unshared")) return Serve(argv[2], argv[3], false);
  if (argc == 5 && !strcmp(argv[1], "find")) return Find(argv[2], argv[3], argv[4]);
  fprintf(stderr, "usage: sim_instance_helper serve|serve-unshared CLASS TITLE | find CLASS TITLE WPARAM\n");
  return 2;
}
