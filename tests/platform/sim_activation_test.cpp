// Bringing a window to the foreground, as the window manager does it: the window stays
// above the others afterwards, and keys typed at once reach the child that had the focus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_ui.h"

namespace {

HWND MakeTopLevel(const wchar_t* title) {
  return CreateWindowExW(0, L"Static", title, WS_VISIBLE | WS_POPUP, 0, 26, 240, 268, nullptr, nullptr, nullptr,
                         nullptr);
}

std::vector<std::string> ZOrder() {
  std::vector<std::string> out;
  for (const bench::TopLevelWindow& w : bench::TopLevelWindows()) out.push_back(w.title);
  return out;
}

TEST(SimActivation, AWindowBroughtForwardStaysAboveTheOthersWhenItLosesTheForeground) {
  ASSERT_TRUE(bench::Reset());
  HWND first = MakeTopLevel(L"first");
  HWND second = MakeTopLevel(L"second");
  ASSERT_TRUE(first && second);
  SetForegroundWindow(first);
  HWND popup = MakeTopLevel(L"popup");
  SetForegroundWindow(popup);
  EXPECT_EQ(ZOrder(), (std::vector<std::string>{"popup", "first", "second"}));
  SetForegroundWindow(second);
  DestroyWindow(popup);
  EXPECT_EQ(ZOrder(), (std::vector<std::string>{"second", "first"}));
  DestroyWindow(first);
  DestroyWindow(second);
}

HWND gFrame, gEdit;

DWORD WINAPI EditorThread(LPVOID) {
  gFrame = CreateWindowExW(0, L"Static", L"editor", WS_VISIBLE | WS_POPUP, 0, 26, 240, 268, nullptr, nullptr, nullptr,
                           nullptr);
  gEdit = CreateWindowExW(0, L"Edit", L"", WS_CHILD | WS_VISIBLE, 0, 0, 240, 20, gFrame, nullptr, nullptr, nullptr);
  SetFocus(gEdit);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  return 0;
}

TEST(SimActivation, KeysTypedRightAfterActivationReachTheChildThatHadTheFocus) {
  ASSERT_TRUE(bench::Reset());
  HANDLE editor = CreateThread(nullptr, 0, EditorThread, nullptr, 0, nullptr);
  bench::Settle();
  HWND other = MakeTopLevel(L"other");
  SetForegroundWindow(other);
  // The editor's thread has not run since: only the window manager decides where 'A' goes.
  SetForegroundWindow(gFrame);
  keybd_event('A', 0, 0, 0);
  keybd_event('A', 0, KEYEVENTF_KEYUP, 0);
  bench::Settle();
  WCHAR text[8] = {};
  GetWindowTextW(gEdit, text, 8);
  EXPECT_EQ(std::wstring(text), L"a");
  PostMessageW(gFrame, WM_QUIT, 0, 0);
  WaitForSingleObject(editor, INFINITE);
  CloseHandle(editor);
  DestroyWindow(other);
}

}  // namespace
