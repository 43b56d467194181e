// The notes program: what a person types into on the handheld.
#include "hosts/web/notes.h"

#include <atomic>

namespace web {
namespace {

constexpr int kEditId = 100;
std::atomic<HWND> notesWindow{nullptr};
std::atomic<HWND> notesEdit{nullptr};

void FitEdit(HWND hwnd) {
  RECT r;
  GetClientRect(hwnd, &r);
  MoveWindow(GetDlgItem(hwnd, kEditId), 0, 0, r.right, r.bottom, TRUE);
}

LRESULT CALLBACK NotesProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE: {
      HWND edit = CreateWindowExW(0, L"Edit", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 0, 0, 0, 0,
                                  hwnd, (HMENU)(INT_PTR)kEditId, nullptr, nullptr);
      if (!edit) return -1;
      notesEdit = edit;
      FitEdit(hwnd);
      return 0;
    }
    case WM_SIZE:
      FitEdit(hwnd);
      return 0;
    // Coming to the front gives the typing back to the text.
    case WM_ACTIVATE:
      if (LOWORD(wp) != WA_INACTIVE) SetFocus(GetDlgItem(hwnd, kEditId));
      return 0;
    case WM_SETFOCUS:
      SetFocus(GetDlgItem(hwnd, kEditId));
      return 0;
    // Notes keeps running for the handheld's life, as on the device.
    case WM_CLOSE:
      return 0;
    case WM_DESTROY:
      notesWindow = nullptr;
      notesEdit = nullptr;
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

DWORD WINAPI NotesThread(LPVOID) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = NotesProc;
  wc.lpszClassName = L"Notes";
  wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
  if (!RegisterClassW(&wc)) return 1;
  // Below the 26-pixel taskbar down to the screen's foot: notes has no menu bar, and
  // in front it covers the one of the program behind it.
  HWND hwnd = CreateWindowExW(0, L"Notes", L"Notes", WS_VISIBLE, 0, 26, 240, 294, nullptr, nullptr, nullptr, nullptr);
  if (!hwnd) return 1;
  notesWindow = hwnd;
  SetForegroundWindow(hwnd);
  SetFocus(GetDlgItem(hwnd, kEditId));
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  return 0;
}

}  // namespace

HANDLE StartNotes() { return CreateThread(nullptr, 0, NotesThread, nullptr, 0, nullptr); }
HWND NotesWindow() { return notesWindow; }
HWND NotesEdit() { return notesEdit; }

}  // namespace web
