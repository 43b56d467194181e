// The simulated shell: the program's icons from brindle_icons.dll, the tray, programs
// started, and the item calls on a dialog's controls.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_shell.h"

namespace {

using Strings = std::vector<std::string>;

class SimShell : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(bench::Reset()); }
  void TearDown() override { EXPECT_TRUE(bench::Reset()); }
};

TEST_F(SimShell, ProgramIconsLoadByResourceId) {
  struct Case {
    int id, size;
  };
  const Case cases[] = {{108, 32}, {111, 16}, {112, 16}, {113, 16}, {145, 32}, {151, 32}, {152, 32}};
  HINSTANCE self = GetModuleHandleW(nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    HICON icon = LoadIconW(self, MAKEINTRESOURCEW(c.id));
    ASSERT_NE(icon, nullptr);
    bench::IconInfo info = bench::DescribeIcon(icon);
    EXPECT_TRUE(info.known);
    EXPECT_EQ(info.id, c.id);
    EXPECT_EQ(info.width, c.size);
    EXPECT_EQ(info.height, c.size);
    EXPECT_EQ(info.bitCount, 8);  // 256 colours
    EXPECT_EQ(LoadIconW(self, MAKEINTRESOURCEW(c.id)), icon);  // one shared handle
  }
  EXPECT_NE(LoadIconW(self, MAKEINTRESOURCEW(111)), LoadIconW(self, MAKEINTRESOURCEW(112)));
}

TEST_F(SimShell, ApplicationIconHoldsBothSizes) {
  // The program's module finds brindle_icons.dll when the first icon is loaded.
  ASSERT_NE(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(108)), nullptr);
  HRSRC group = FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(108), RT_GROUP_ICON);
  ASSERT_NE(group, nullptr);
  const auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(nullptr, group)));
  ASSERT_EQ(SizeofResource(nullptr, group), 6u + 2 * 14);
  EXPECT_EQ(bytes[4], 2);      // two images
  EXPECT_EQ(bytes[6], 32);     // 32x32 ...
  EXPECT_EQ(bytes[6 + 14], 16);  // ... and 16x16
  EXPECT_EQ(bytes[6 + 6], 8);    // 8 bits per pixel
}

TEST_F(SimShell, MissingIconsGiveNull) {
  HINSTANCE self = GetModuleHandleW(nullptr);
  EXPECT_EQ(LoadIconW(self, MAKEINTRESOURCEW(999)), nullptr);
  EXPECT_EQ(LoadIconW(self, L"NOSUCHICON"), nullptr);
  EXPECT_EQ(LoadIconW(nullptr, MAKEINTRESOURCEW(108)), nullptr);
  EXPECT_EQ(LoadIconW(self, nullptr), nullptr);
  EXPECT_FALSE(bench::DescribeIcon(nullptr).known);
}

LRESULT CALLBACK PlainProc(HWND h, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(h, m, wp, lp); }

HWND MakeWindow(HWND parent, int id) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = PlainProc;
  wc.lpszClassName = L"ShellTestWindow";
  RegisterClassW(&wc);
  return CreateWindowExW(0, L"ShellTestWindow", L"", parent ? WS_CHILD : WS_OVERLAPPED, 0, 0, 10, 10, parent,
                         (HMENU)(intptr_t)id, nullptr, nullptr);
}

TEST_F(SimShell, IconsOfAFreedModuleGoWithIt) {
  HMODULE icons = LoadLibraryW(L"brindle_icons.dll");
  ASSERT_NE(icons, nullptr);
  HICON status = LoadIconW(icons, MAKEINTRESOURCEW(145));
  ASSERT_NE(status, nullptr);
  EXPECT_TRUE(bench::DescribeIcon(status).known);
  HMODULE again = LoadLibraryW(L"brindle_icons.dll");
  ASSERT_EQ(again, icons);
  EXPECT_TRUE(FreeLibrary(again));
  EXPECT_TRUE(bench::DescribeIcon(status).known);  // still loaded once
  EXPECT_TRUE(FreeLibrary(icons));
  EXPECT_FALSE(bench::DescribeIcon(status).known);
  EXPECT_EQ(LoadIconW(icons, MAKEINTRESOURCEW(145)), nullptr);  // a stale module gives nothing
}

TEST_F(SimShell, TrayIconAddModifyDelete) {
  HWND dlg = MakeWindow(nullptr, 0);
  ASSERT_NE(dlg, nullptr);
  HINSTANCE self = GetModuleHandleW(nullptr);
  NOTIFYICONDATA nid{};
  nid.cbSize = 152;  // the device's record
  nid.hWnd = dlg;
  nid.uID = 1;
  nid.uFlags = NIF_MESSAGE | NIF_ICON;
  nid.uCallbackMessage = WM_APP + 1;
  nid.hIcon = LoadIconW(self, MAKEINTRESOURCEW(111));
  EXPECT_FALSE(Shell_NotifyIcon(NIM_MODIFY, &nid));  // nothing to modify yet
  EXPECT_TRUE(Shell_NotifyIcon(NIM_ADD, &nid));
  EXPECT_FALSE(Shell_NotifyIcon(NIM_ADD, &nid));  // uID 1 is there already
  nid.hIcon = LoadIconW(self, MAKEINTRESOURCEW(113));
  EXPECT_TRUE(Shell_NotifyIcon(NIM_MODIFY, &nid));
  bench::TrayIcon shown = bench::GetTrayIcon(dlg, 1);
  EXPECT_TRUE(shown.present);
  EXPECT_EQ(shown.iconId, 113);
  EXPECT_EQ(shown.callbackMessage, (UINT)(WM_APP + 1));
  EXPECT_EQ(shown.flags, (UINT)(NIF_MESSAGE | NIF_ICON));
  EXPECT_EQ(bench::TrayIconCount(), 1);

  NOTIFYICONDATA del{};
  del.cbSize = 152;
  del.hWnd = dlg;
  del.uID = 1;
  EXPECT_TRUE(Shell_NotifyIcon(NIM_DELETE, &del));
  EXPECT_FALSE(Shell_NotifyIcon(NIM_DELETE, &del));
  EXPECT_EQ(bench::TrayIconCount(), 0);
  del.cbSize = 10;
  EXPECT_FALSE(Shell_NotifyIcon(NIM_DELETE, &del));
  EXPECT_FALSE(Shell_NotifyIcon(NIM_ADD, nullptr));
  EXPECT_EQ(bench::Trace({"Shell_NotifyIcon"}),
            (Strings{"Shell_NotifyIcon(NIM_MODIFY, 1, icon=111) -> FALSE", "Shell_NotifyIcon(NIM_ADD, 1, icon=111)",
                     "Shell_NotifyIcon(NIM_ADD, 1, icon=111) -> FALSE", "Shell_NotifyIcon(NIM_MODIFY, 1, icon=113)",
                     "Shell_NotifyIcon(NIM_DELETE, 1)", "Shell_NotifyIcon(NIM_DELETE, 1) -> FALSE",
                     "Shell_NotifyIcon(2) -> FALSE", "Shell_NotifyIcon(0) -> FALSE"}));
  DestroyWindow(dlg);
}

TEST_F(SimShell, ProgramsStartedAreRecorded) {
  SHELLEXECUTEINFO sei;
  memset(&sei, 0, sizeof sei);
  sei.cbSize = 60;
  sei.lpFile = L"repllog.exe";
  EXPECT_TRUE(ShellExecuteEx(&sei));
  sei.cbSize = 0;
  EXPECT_FALSE(ShellExecuteEx(&sei));
  WCHAR cmd[] = L"tavlo.htc#extkbd_help";
  EXPECT_TRUE(CreateProcessW(L"PegHelp.exe", cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, nullptr));
  EXPECT_FALSE(CreateProcessW(nullptr, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(bench::Trace({"ShellExecuteEx", "CreateProcess"}),
            (Strings{"ShellExecuteEx(repllog.exe)", "CreateProcess(PegHelp.exe, tavlo.htc#extkbd_help)"}));
  EXPECT_EQ(bench::StartedPrograms(), (Strings{"repllog.exe", "PegHelp.exe tavlo.htc#extkbd_help"}));
}

TEST_F(SimShell, ItemCallsAreRecorded) {
  HWND dlg = MakeWindow(nullptr, 0);
  ASSERT_NE(dlg, nullptr);
  HICON running = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(145));
  SendDlgItemMessageW(dlg, 1026, STM_SETIMAGE, IMAGE_ICON, (LPARAM)running);
  SetDlgItemTextW(dlg, 1040, L"Running");
  SendDlgItemMessageW(dlg, 1041, 0x00F1, 1, 0);
  EXPECT_EQ(bench::Trace({"SendDlgItemMessage", "SetDlgItemText"}),
            (Strings{"SendDlgItemMessage(1026, STM_SETIMAGE, icon=145)", "SetDlgItemText(1040, Running)",
                     "SendDlgItemMessage(1041, 0x00F1, 0x1, 0x0)"}));
  DestroyWindow(dlg);
}

TEST_F(SimShell, ItemCallsReachChildControlsById) {
  HWND dlg = MakeWindow(nullptr, 0);
  HWND icon = MakeWindow(dlg, 1026);
  HWND text = MakeWindow(dlg, 1040);
  ASSERT_NE(icon, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(GetDlgItem(dlg, 1026), icon);
  EXPECT_EQ(GetDlgItem(dlg, 1040), text);
  EXPECT_EQ(GetDlgItem(dlg, 999), nullptr);
  HICON paused = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(152));
  SendDlgItemMessageW(dlg, 1026, STM_SETIMAGE, IMAGE_ICON, (LPARAM)paused);
  EXPECT_EQ(bench::ControlIcon(icon), paused);
  EXPECT_TRUE(SetDlgItemTextW(dlg, 1040, L"Paused"));
  WCHAR buf[32] = {};
  GetWindowTextW(text, buf, 32);
  EXPECT_EQ(std::wstring(buf), L"Paused");
  EXPECT_FALSE(SetDlgItemTextW(dlg, 999, L"x"));
  DestroyWindow(dlg);
}

}  // namespace
