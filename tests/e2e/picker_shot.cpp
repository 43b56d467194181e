// Opens the special-character picker of one national brindleres.dll through the
// engine, as the folding keyboard would, and types a character from it into a real
// edit control, for the end-to-end script:
//
//   picker_shot LIBRARY SCAN [shift]
//
// LIBRARY is a brindleres.dll; SCAN (hex) the key that picks a cell, with Shift held
// when "shift" follows. The program loads the library and its settings as the driver
// does, shows a "notes" window whose edit control has the focus, and feeds Fn and Tab
// to the translator on a thread of its own (the driver's reader thread does that).
// Once the picker is in front it prints
//
//   picker=L T R B            the picker window, screen coordinates
//
// and waits for a line on standard input (the script takes its screenshot meanwhile).
// With "shift" it then presses Shift, which shows the shifted picture, prints
//
//   shift=1
//
// and waits for another line. Then it feeds the picking key (and lifts Shift) and
// prints what the edit control holds:
//
//   text=U+00E1               each UTF-16 unit of the edit control's text
//   picker_closed=1|0
//   foreground=notes|none|other   the foreground window then, for a failure's reader
//
// Exit code 0 when both steps ran (whether the right character arrived is for the
// script to judge), 1 when a step failed (its reason on standard error), 2 for bad
// arguments.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "engine/translator.h"
#include "platform/platform.h"
#include "shell/resids.h"
#include "shell/settings.h"
#include "shell/state.h"

// Key bytes of the folding keyboard (press; the release has bit 7 set).
static const uint8_t kFn = 0x77;
static const uint8_t kTab = 0x2B;
static const uint8_t kShift = 0x74;
static const uint8_t kRelease = 0x80;

// Another process (Wine's X driver, the picker thread) does what is waited for, so the
// waits look again every 20 ms, up to a limit.
static const DWORD kPollMs = 20;
static const DWORD kWaitMs = 10000;

static HWND g_notes = nullptr;
static HWND g_edit = nullptr;
static uint8_t g_pickScan = 0;
static bool g_pickShifted = false;
static WCHAR g_pickerClass[RES_STRING_MAX];
static WCHAR g_pickerTitle[RES_STRING_MAX];

static void Feed(uint8_t keyByte) { TranslateKeyByte(keyByte); }

static void PrintRect(const char* name, const RECT& r) {
  printf("%s=%ld %ld %ld %ld\n", name, r.left, r.top, r.right, r.bottom);
  fflush(stdout);
}

// Waits until test() holds or kWaitMs have passed; true when it held.
template <typename Test>
static bool WaitFor(Test test) {
  for (DWORD waited = 0; waited < kWaitMs; waited += kPollMs) {
    if (test()) return true;
    Sleep(kPollMs);
  }
  return test();
}

// The script's go-ahead: one line on standard input. An ended input goes ahead too.
static void WaitLine() {
  char line[64];
  if (fgets(line, sizeof line, stdin) == nullptr) fprintf(stderr, "standard input ended early\n");
}

static HWND FindPicker() { return FindWindowW(g_pickerClass, g_pickerTitle); }

// The edit control's text, read by WM_GETTEXT as any other program would.
static int ReadNotes(WCHAR* text, int size) {
  return static_cast<int>(SendMessageW(g_edit, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(text)));
}

// The keyboard's side: open the picker, report it, pick, report what was typed.
static DWORD WINAPI Keyboard(LPVOID) {
  DWORD result = 1;
  HWND picker = nullptr;
  if (!WaitFor([] { return GetForegroundWindow() == g_notes; })) {
    fprintf(stderr, "the notes window did not come to the front\n");
  } else {
    Feed(kFn);
    Feed(kTab);
    Feed(kTab | kRelease);
    Feed(kFn | kRelease);
    // The picker has its window painted before it takes the foreground.
    if (!WaitFor([&picker] {
          picker = FindPicker();
          return picker != nullptr && GetForegroundWindow() == picker;
        })) {
      fprintf(stderr, picker ? "the picker did not come to the front\n" : "no picker window\n");
    } else {
      RECT r;
      GetWindowRect(picker, &r);
      PrintRect("picker", r);
      WaitLine();
      if (g_pickShifted) {
        Feed(kShift);
        printf("shift=1\n");
        fflush(stdout);
        WaitLine();
      }
      Feed(g_pickScan);
      // The keys are lifted once the picker has taken the press, as a typist's would
      // be: the picker reads Shift when its thread gets to the key, not when the key
      // was pressed, so a Shift lifted at once would pick the plain character.
      bool closed = WaitFor([] { return FindPicker() == nullptr; });
      Feed(static_cast<uint8_t>(g_pickScan | kRelease));
      if (g_pickShifted) Feed(kShift | kRelease);
      // The character comes through the input system after the picker closes; an
      // empty edit control after the wait is reported as it is, not made up.
      WCHAR text[64] = {0};
      WaitFor([&text] { return ReadNotes(text, 64) > 0; });
      int length = ReadNotes(text, 64);
      printf("text=");
      for (int i = 0; i < length; ++i) printf("%sU+%04X", i ? " " : "", static_cast<unsigned>(text[i]));
      printf("\npicker_closed=%d\n", closed ? 1 : 0);
      // Where the character would have gone: the foreground window then.
      HWND front = GetForegroundWindow();
      printf("foreground=%s\n", front == g_notes ? "notes" : front == nullptr ? "none" : "other");
      fflush(stdout);
      result = 0;
    }
  }
  PostMessageW(g_notes, WM_CLOSE, 0, 0);
  return result;
}

static LRESULT CALLBACK NotesProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SIZE:
      if (g_edit) MoveWindow(g_edit, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    case WM_SETFOCUS:
      // As a text editor does: the window's focus is its edit control's, also when the
      // foreground comes back from the picker.
      if (g_edit) SetFocus(g_edit);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4 || (argc == 4 && strcmp(argv[3], "shift") != 0)) {
    fprintf(stderr, "usage: picker_shot LIBRARY SCAN [shift]\n");
    return 2;
  }
  char* end = nullptr;
  unsigned long scan = strtoul(argv[2], &end, 16);
  if (*argv[2] == '\0' || *end != '\0' || scan == 0 || scan > 0x7F) {
    fprintf(stderr, "SCAN must be a key byte 1..7F in hex\n");
    return 2;
  }
  g_pickScan = static_cast<uint8_t>(scan);
  g_pickShifted = argc == 4;

  hResDll = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (hResDll == nullptr) {
    fprintf(stderr, "cannot load %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  hInstance = GetModuleHandleW(nullptr);
  if (LoadStringW(hResDll, IDS_PICKER_CLASS, g_pickerClass, RES_STRING_MAX) <= 0 ||
      LoadStringW(hResDll, IDS_PICKER_TITLE, g_pickerTitle, RES_STRING_MAX) <= 0) {
    fprintf(stderr, "%s has no picker class or title (strings 3, 4)\n", argv[1]);
    return 1;
  }
  // No settings window: the stored sticky-key flags must be 0 (the script clears
  // them), since a set one would check a box of that window.
  LoadSettings();
  printf("language=%d\n", GetLanguageIndex());

  WNDCLASSW wc;
  memset(&wc, 0, sizeof wc);
  wc.lpfnWndProc = NotesProc;
  wc.hInstance = hInstance;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"PickerShotNotes";
  RegisterClassW(&wc);
  // Above the picker, which covers the lower part of the 240 x 320 screen.
  g_notes = CreateWindowExW(0, wc.lpszClassName, L"Notes", WS_OVERLAPPEDWINDOW, 0, 0, 240, 170, nullptr, nullptr,
                            hInstance, nullptr);
  if (g_notes == nullptr) {
    fprintf(stderr, "cannot create the notes window (no display?)\n");
    return 1;
  }
  RECT client;
  GetClientRect(g_notes, &client);
  g_edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 0, 0, client.right, client.bottom,
                           g_notes, nullptr, hInstance, nullptr);
  if (g_edit == nullptr) {
    fprintf(stderr, "cannot create the edit control\n");
    return 1;
  }
  ShowWindow(g_notes, SW_SHOW);
  UpdateWindow(g_notes);
  SetForegroundWindow(g_notes);
  SetFocus(g_edit);

  HANDLE keyboard = CreateThread(nullptr, 0, Keyboard, nullptr, 0, nullptr);
  if (keyboard == nullptr) {
    fprintf(stderr, "cannot start the keyboard thread\n");
    return 1;
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  WaitForSingleObject(keyboard, INFINITE);
  DWORD result = 1;
  GetExitCodeThread(keyboard, &result);
  CloseHandle(keyboard);
  return static_cast<int>(result);
}
