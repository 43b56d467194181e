// The simulated shell: the program's icons from brindle_icons.dll, the tray, programs
// started, the item calls on a dialog's controls, the menu bar, shell dialogs, full
// screen and message boxes that fail.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_shell.h"
#include "platform/sim/bench_user.h"

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

// ---- LoadImageW ------------------------------------------------------------------

TEST_F(SimShell, LoadImageTakesTheIconNearestTheAskedSize) {
  // Icon 108 holds a 32x32 and a 16x16 image, in that order.
  struct Case {
    int cx;
    UINT flags;
    int size;
  };
  const Case cases[] = {{16, 0, 16},  {32, 0, 32},  {20, 0, 16}, {24, 0, 32} /* a tie: the larger */,
                        {48, 0, 32},  {1, 0, 16},   {0, 0, 32} /* the first image */,
                        {0, LR_DEFAULTSIZE, 32},    {16, LR_SHARED, 16}};
  HINSTANCE self = GetModuleHandleW(nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cx);
    HICON icon = (HICON)LoadImageW(self, MAKEINTRESOURCEW(108), IMAGE_ICON, c.cx, c.cx, c.flags);
    ASSERT_NE(icon, nullptr);
    bench::IconInfo info = bench::DescribeIcon(icon);
    EXPECT_TRUE(info.known);
    EXPECT_EQ(info.id, 108);
    EXPECT_EQ(info.width, c.size);
    EXPECT_EQ(info.height, c.size);
  }
  // LoadIconW still takes the 32-pixel image.
  EXPECT_EQ(bench::DescribeIcon(LoadIconW(self, MAKEINTRESOURCEW(108))).width, 32);
}

TEST_F(SimShell, LoadImageHandlesAreTheCallersUnlessShared) {
  HINSTANCE self = GetModuleHandleW(nullptr);
  HICON a = (HICON)LoadImageW(self, MAKEINTRESOURCEW(108), IMAGE_ICON, 16, 16, 0);
  HICON b = (HICON)LoadImageW(self, MAKEINTRESOURCEW(108), IMAGE_ICON, 16, 16, 0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_TRUE(DestroyIcon(a));
  EXPECT_FALSE(bench::DescribeIcon(a).known);
  EXPECT_FALSE(DestroyIcon(a));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
  EXPECT_TRUE(bench::DescribeIcon(b).known);
  EXPECT_TRUE(DestroyIcon(b));

  HICON s1 = (HICON)LoadImageW(self, MAKEINTRESOURCEW(108), IMAGE_ICON, 16, 16, LR_SHARED);
  HICON s2 = (HICON)LoadImageW(self, MAKEINTRESOURCEW(108), IMAGE_ICON, 16, 16, LR_SHARED);
  HICON big = (HICON)LoadImageW(self, MAKEINTRESOURCEW(108), IMAGE_ICON, 32, 32, LR_SHARED);
  EXPECT_EQ(s1, s2);
  EXPECT_NE(s1, big);
  EXPECT_TRUE(DestroyIcon(s1));
  EXPECT_TRUE(bench::DescribeIcon(s1).known);  // shared icons stay loaded
}

TEST_F(SimShell, LoadImageRefusesWhatItCannotLoad) {
  HINSTANCE self = GetModuleHandleW(nullptr);
  struct Case {
    const char* what;
    LPCWSTR name;
    UINT type;
    int cx;
    UINT flags;
    DWORD error;
  };
  const Case cases[] = {
      {"bitmap", MAKEINTRESOURCEW(108), IMAGE_BITMAP, 16, 0, ERROR_INVALID_PARAMETER},
      {"cursor", MAKEINTRESOURCEW(108), IMAGE_CURSOR, 16, 0, ERROR_INVALID_PARAMETER},
      {"from a file", L"icon.ico", IMAGE_ICON, 16, LR_LOADFROMFILE, ERROR_INVALID_PARAMETER},
      {"negative size", MAKEINTRESOURCEW(108), IMAGE_ICON, -16, 0, ERROR_INVALID_PARAMETER},
      {"no such icon", MAKEINTRESOURCEW(999), IMAGE_ICON, 16, 0, ERROR_RESOURCE_NAME_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(0);
    EXPECT_EQ(LoadImageW(self, c.name, c.type, c.cx, c.cx, c.flags), nullptr);
    EXPECT_EQ(GetLastError(), c.error);
  }
}

// ---- the menu bar ----------------------------------------------------------------

std::string HexOf(unsigned v, int width = 0) {
  char buf[16];
  snprintf(buf, sizeof buf, "0x%0*X", width, v);
  return buf;
}

// Messages that reached the calling thread's queue, as "msg wParam lParam"; paints are
// dispatched, not listed.
Strings Drain() {
  Strings out;
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
    if (m.message == WM_PAINT) DispatchMessageW(&m);
    else out.push_back(HexOf(m.message, 4) + " " + std::to_string(m.wParam) + " " + std::to_string(m.lParam));
  return out;
}

class SimMenuBar : public SimShell {
 protected:
  void SetUp() override {
    SimShell::SetUp();
    res = LoadLibraryW(L"shelltest_res.dll");
    ASSERT_NE(res, nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = PlainProc;
    wc.lpszClassName = L"MenuOwner";
    RegisterClassW(&wc);
    owner = CreateWindowExW(0, L"MenuOwner", L"", WS_OVERLAPPED | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
  }
  void TearDown() override {
    if (IsWindow(owner)) DestroyWindow(owner);
    Drain();
    if (res) FreeLibrary(res);
    SimShell::TearDown();
  }
  SHMENUBARINFO Info(UINT id, DWORD size = 32) {
    SHMENUBARINFO mbi;
    memset(&mbi, 0, sizeof mbi);
    mbi.cbSize = size;
    mbi.hwndParent = owner;
    mbi.nToolBarId = id;
    mbi.hInstRes = res;
    mbi.hwndMB = (HWND)(uintptr_t)0x1234;  // must be cleared on failure
    return mbi;
  }
  HMODULE res = nullptr;
  HWND owner = nullptr;
};

std::string Texts(const std::vector<bench::MenuItem>& items) {
  std::string out;
  for (const bench::MenuItem& it : items) {
    if (!out.empty()) out += "|";
    if (it.separator) out += "-";
    else if (it.popup) out += it.text + "[" + Texts(it.items) + "]";
    else out += it.text + "=" + std::to_string(it.command) + (it.grayed ? "(grey)" : "");
  }
  return out;
}

TEST_F(SimMenuBar, BuiltFromTheResourceAtTheBottomOfTheScreen) {
  SHMENUBARINFO mbi = Info(131);
  ASSERT_TRUE(SHCreateMenuBar(&mbi));
  HWND bar = mbi.hwndMB;
  ASSERT_NE(bar, nullptr);
  ASSERT_TRUE(IsWindow(bar));
  WCHAR cls[32] = {};
  GetClassNameW(bar, cls, 32);
  EXPECT_EQ(std::wstring(cls), L"menu_worker");
  EXPECT_EQ(GetParent(bar), owner);  // an owned pop-up: GetParent names the owner
  RECT r;
  ASSERT_TRUE(GetWindowRect(bar, &r));
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 294);
  EXPECT_EQ(r.right, 240);
  EXPECT_EQ(r.bottom, 320);
  EXPECT_TRUE(IsWindowVisible(bar));
  EXPECT_EQ(bench::Trace({"SHCreateMenuBar"}), (Strings{"SHCreateMenuBar(131)"}));

  bench::MenuBar seen = bench::GetMenuBar(owner);
  ASSERT_TRUE(seen.present);
  EXPECT_EQ(seen.hwnd, bar);
  EXPECT_EQ(seen.toolBarId, 131u);
  EXPECT_EQ(seen.rect.top, 294);
  EXPECT_EQ(seen.rect.bottom, 320);
  EXPECT_TRUE(seen.visible);
  ASSERT_EQ(seen.buttons.size(), 3u);
  const bench::MenuButton& tools = seen.buttons[0];
  EXPECT_EQ(tools.text, "Tools");
  EXPECT_EQ(tools.command, 40001u);
  EXPECT_EQ(tools.state, 4);
  EXPECT_EQ(tools.style, 0x18);
  EXPECT_TRUE(tools.dropdown);
  EXPECT_EQ(Texts(tools.items), "&Settings\u2026=40002|-|Greyed=40004(grey)|More[Deep=40005]|&About=40003");
  const bench::MenuButton& help = seen.buttons[1];
  EXPECT_EQ(help.text, "Help");
  EXPECT_EQ(help.command, 40009u);
  EXPECT_EQ(help.style, 0x10);
  EXPECT_FALSE(help.dropdown);
  EXPECT_TRUE(help.items.empty());
  const bench::MenuButton& edit = seen.buttons[2];
  EXPECT_EQ(edit.text, "Edit");
  EXPECT_EQ(edit.state, 0);
  EXPECT_EQ(Texts(edit.items), "Undo=40021");
  EXPECT_FALSE(bench::GetMenuBar(bar).present);  // the bar is no owner
}

TEST_F(SimMenuBar, ChoosingACommandPostsItToTheOwner) {
  SHMENUBARINFO mbi = Info(131);
  ASSERT_TRUE(SHCreateMenuBar(&mbi));
  Drain();
  struct Case {
    UINT command;
    bool chosen;
  };
  const Case cases[] = {
      {40002, true},  {40003, true},   // dropdown items
      {40005, true},                   // in a nested pop-up
      {40009, true},                   // a plain button sends its own command
      {40001, false},                  // a dropdown button only opens its pop-up
      {40004, false},                  // greyed
      {40021, false},                  // on a disabled button
      {0, false},                      // the separator's id
      {12345, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(bench::ChooseMenuCommand(owner, c.command), c.chosen);
    Strings want;
    if (c.chosen) want.push_back("0x0111 " + std::to_string(c.command) + " 0");
    EXPECT_EQ(Drain(), want);
  }
  HWND other = MakeWindow(nullptr, 0);
  EXPECT_FALSE(bench::ChooseMenuCommand(other, 40002));  // no bar there
  EXPECT_EQ(Drain(), Strings{});
  DestroyWindow(other);
}

TEST_F(SimMenuBar, GoesAwayWithItsOwner) {
  SHMENUBARINFO mbi = Info(131);
  ASSERT_TRUE(SHCreateMenuBar(&mbi));
  ASSERT_TRUE(IsWindow(mbi.hwndMB));
  EXPECT_TRUE(DestroyWindow(owner));
  EXPECT_FALSE(IsWindow(mbi.hwndMB));
  EXPECT_FALSE(bench::GetMenuBar(owner).present);
  EXPECT_FALSE(bench::ChooseMenuCommand(owner, 40002));
}

TEST_F(SimMenuBar, TheNewestBarOfAnOwnerIsTheOneShown) {
  SHMENUBARINFO first = Info(131), second = Info(138);
  ASSERT_TRUE(SHCreateMenuBar(&first));
  ASSERT_TRUE(SHCreateMenuBar(&second));
  bench::MenuBar seen = bench::GetMenuBar(owner);
  EXPECT_EQ(seen.hwnd, second.hwndMB);
  ASSERT_EQ(seen.buttons.size(), 1u);
  EXPECT_EQ(seen.buttons[0].text, "");  // string id 0: no text
  EXPECT_EQ(seen.buttons[0].command, 40040u);
  EXPECT_TRUE(DestroyWindow(second.hwndMB));
  EXPECT_EQ(bench::GetMenuBar(owner).hwnd, first.hwndMB);
}

TEST_F(SimMenuBar, BrokenResourcesFailTheCall) {
  HMODULE icons = LoadLibraryW(L"brindle_icons.dll");
  ASSERT_NE(icons, nullptr);
  struct Case {
    const char* what;
    UINT id;
    bool iconsModule;
    DWORD error;
  };
  const Case cases[] = {
      {"no such RCDATA", 140, false, ERROR_RESOURCE_NAME_NOT_FOUND},
      {"no RCDATA at all", 131, true, ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"its MENU is missing", 132, false, ERROR_RESOURCE_NAME_NOT_FOUND},
      {"sub-menu index out of range", 133, false, ERROR_RESOURCE_DATA_NOT_FOUND},
      {"truncated buttons", 134, false, ERROR_RESOURCE_DATA_NOT_FOUND},
      {"truncated header", 135, false, ERROR_RESOURCE_DATA_NOT_FOUND},
      {"sub-menu is no pop-up", 136, false, ERROR_RESOURCE_DATA_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bench::ClearTrace();
    SHMENUBARINFO mbi = Info(c.id);
    if (c.iconsModule) mbi.hInstRes = icons;
    SetLastError(0);
    EXPECT_FALSE(SHCreateMenuBar(&mbi));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(mbi.hwndMB, nullptr);
    EXPECT_EQ(bench::Trace({"SHCreateMenuBar"}), (Strings{"SHCreateMenuBar(" + std::to_string(c.id) + ") -> FALSE"}));
    EXPECT_FALSE(bench::GetMenuBar(owner).present);
  }
  EXPECT_TRUE(FreeLibrary(icons));
}

TEST_F(SimMenuBar, BadArgumentsFailTheCall) {
  struct Case {
    const char* what;
    DWORD size;
    bool badOwner;
    DWORD flags;
  };
  const Case cases[] = {
      {"size 0", 0, false, 0},
      {"size 28", 28, false, 0},
      {"no owner", 32, true, 0},
      {"a background colour", 32, false, SHCMBF_COLORBK},
      {"a menu handle", 32, false, SHCMBF_HMENU},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SHMENUBARINFO mbi = Info(131, c.size);
    if (c.badOwner) mbi.hwndParent = (HWND)(uintptr_t)0x4444;
    mbi.dwFlags = c.flags;
    SetLastError(0);
    EXPECT_FALSE(SHCreateMenuBar(&mbi));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    if (c.size == 32) {
      EXPECT_EQ(mbi.hwndMB, nullptr);
    }
  }
  EXPECT_FALSE(SHCreateMenuBar(nullptr));
  EXPECT_EQ(bench::Trace({"SHCreateMenuBar"}),
            (Strings{"SHCreateMenuBar() -> FALSE", "SHCreateMenuBar() -> FALSE", "SHCreateMenuBar(131) -> FALSE",
                     "SHCreateMenuBar(131) -> FALSE", "SHCreateMenuBar(131) -> FALSE", "SHCreateMenuBar() -> FALSE"}));
  EXPECT_FALSE(bench::GetMenuBar(owner).present);
}

TEST_F(SimMenuBar, ThisBuildsSizeEmptyAndHiddenBars) {
  SHMENUBARINFO own = Info(131, sizeof(SHMENUBARINFO));
  EXPECT_TRUE(SHCreateMenuBar(&own));
  EXPECT_NE(own.hwndMB, nullptr);
  SHMENUBARINFO empty = Info(999);  // no resource is read for an empty bar
  empty.dwFlags = SHCMBF_EMPTYBAR | SHCMBF_HIDDEN;
  ASSERT_TRUE(SHCreateMenuBar(&empty));
  bench::MenuBar seen = bench::GetMenuBar(owner);
  EXPECT_EQ(seen.hwnd, empty.hwndMB);
  EXPECT_TRUE(seen.buttons.empty());
  EXPECT_FALSE(seen.visible);
  EXPECT_FALSE(IsWindowVisible(empty.hwndMB));
}

// ---- SHInitDialog and SHFullScreen ----------------------------------------------

RECT ScreenRect(HWND h) {
  RECT r{};
  GetWindowRect(h, &r);
  return r;
}

TEST_F(SimShell, InitDialogSizesTheDialogToTheScreen) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = PlainProc;
  wc.lpszClassName = L"Dialog";
  RegisterClassW(&wc);
  HWND main = CreateWindowExW(0, L"Dialog", L"", WS_OVERLAPPED, 10, 40, 200, 200, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(main, nullptr);
  struct Case {
    const char* what;
    DWORD style;
    bool withParent;
    DWORD flags;
    RECT screen;
  };
  const Case cases[] = {
      {"settings", WS_POPUP, false, 0x0D, {0, 26, 240, 294}},
      {"about", WS_POPUP, false, 0x19, {0, 26, 240, 320}},
      {"owned settings", WS_POPUP, true, 0x0D, {0, 26, 240, 294}},
      {"child about", WS_CHILD, true, 0x19, {0, 26, 240, 320}},
      {"size for the panel", WS_POPUP, false, SHIDIF_SIZEDLG, {0, 26, 240, 294}},
      {"Done button only", WS_POPUP, false, SHIDIF_DONEBUTTON, {5, 6, 105, 56}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HWND parent = c.withParent ? main : nullptr;
    HWND dlg = CreateWindowExW(0, L"Dialog", L"", c.style, 5, 6, 100, 50, parent, nullptr, nullptr, nullptr);
    ASSERT_NE(dlg, nullptr);
    RECT before = ScreenRect(dlg);
    SHINITDLGINFO shidi{SHIDIM_FLAGS, dlg, c.flags};
    bench::ClearTrace();
    EXPECT_TRUE(SHInitDialog(&shidi));
    EXPECT_EQ(bench::Trace({"SHInitDialog"}), (Strings{"SHInitDialog([Dialog], " + HexOf(c.flags) + ")"}));
    RECT r = ScreenRect(dlg);
    RECT want = c.screen;
    if (!(c.flags & 0x16)) {
      want = before;  // not asked to size
    }
    EXPECT_EQ(r.left, want.left);
    EXPECT_EQ(r.top, want.top);
    EXPECT_EQ(r.right, want.right);
    EXPECT_EQ(r.bottom, want.bottom);
    if (c.style == WS_CHILD) {
      RECT client;
      GetClientRect(dlg, &client);
      EXPECT_EQ(client.bottom, want.bottom - want.top);
    }
    bench::ShellDialog d = bench::GetShellDialog(dlg);
    EXPECT_TRUE(d.known);
    EXPECT_EQ(d.flags, c.flags);
    DestroyWindow(dlg);
  }
  DestroyWindow(main);
}

TEST_F(SimShell, InitDialogTraceNamesTheRequest) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = PlainProc;
  wc.lpszClassName = L"Dialog";
  RegisterClassW(&wc);
  HWND dlg = CreateWindowExW(0, L"Dialog", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  SHINITDLGINFO shidi{SHIDIM_FLAGS, dlg, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
  EXPECT_TRUE(SHInitDialog(&shidi));
  EXPECT_EQ(bench::Trace({"SHInitDialog"}), (Strings{"SHInitDialog([Dialog], 0xD)"}));
  DestroyWindow(dlg);
}

TEST_F(SimShell, DoneButtonPostsIdOkToTheDialog) {
  HWND withDone = MakeWindow(nullptr, 0);
  HWND without = MakeWindow(nullptr, 0);
  SHINITDLGINFO a{SHIDIM_FLAGS, withDone, 0x19};
  SHINITDLGINFO b{SHIDIM_FLAGS, without, SHIDIF_SIZEDLGFULLSCREEN};
  ASSERT_TRUE(SHInitDialog(&a));
  ASSERT_TRUE(SHInitDialog(&b));
  Drain();
  EXPECT_TRUE(bench::PressDoneButton(withDone));
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.hwnd, withDone);
  EXPECT_EQ(m.message, (UINT)WM_COMMAND);
  EXPECT_EQ(m.wParam, (WPARAM)IDOK);
  EXPECT_EQ(m.lParam, 0);
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_FALSE(bench::PressDoneButton(without));
  EXPECT_FALSE(bench::PressDoneButton(MakeWindow(nullptr, 0)));  // never initialised
  DestroyWindow(withDone);
  EXPECT_FALSE(bench::PressDoneButton(withDone));
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  DestroyWindow(without);
}

TEST_F(SimShell, InitDialogRefusesBadArguments) {
  HWND dlg = MakeWindow(nullptr, 0);
  SHINITDLGINFO noMask{0, dlg, 0x0D};
  SHINITDLGINFO noWindow{SHIDIM_FLAGS, (HWND)(uintptr_t)0x4444, 0x0D};
  for (SHINITDLGINFO* info : {&noMask, &noWindow, (SHINITDLGINFO*)nullptr}) {
    SetLastError(0);
    EXPECT_FALSE(SHInitDialog(info));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  }
  EXPECT_FALSE(bench::GetShellDialog(dlg).known);
  EXPECT_EQ(bench::Trace({"SHInitDialog"}),
            (Strings{"SHInitDialog([ShellTestWindow], 0xD) -> FALSE", "SHInitDialog([?], 0xD) -> FALSE",
                     "SHInitDialog() -> FALSE"}));
  DestroyWindow(dlg);
}

TEST_F(SimShell, FullScreenStateIsRememberedPerWindow) {
  HWND a = MakeWindow(nullptr, 0);
  HWND b = MakeWindow(nullptr, 0);
  EXPECT_TRUE(SHFullScreen(a, SHFS_HIDESIPBUTTON));
  EXPECT_TRUE(SHFullScreen(a, SHFS_HIDETASKBAR | SHFS_HIDESTARTICON));
  EXPECT_TRUE(SHFullScreen(b, SHFS_SHOWSIPBUTTON));
  bench::FullScreen fa = bench::GetFullScreen(a);
  EXPECT_TRUE(fa.known);
  EXPECT_TRUE(fa.sipButtonHidden);  // kept from the first call
  EXPECT_TRUE(fa.taskBarHidden);
  EXPECT_TRUE(fa.startIconHidden);
  EXPECT_EQ(fa.lastFlags, (DWORD)(SHFS_HIDETASKBAR | SHFS_HIDESTARTICON));
  EXPECT_TRUE(SHFullScreen(a, SHFS_SHOWTASKBAR));
  EXPECT_FALSE(bench::GetFullScreen(a).taskBarHidden);
  bench::FullScreen fb = bench::GetFullScreen(b);
  EXPECT_TRUE(fb.known);
  EXPECT_FALSE(fb.sipButtonHidden);
  EXPECT_FALSE(bench::GetFullScreen(MakeWindow(nullptr, 0)).known);

  SetLastError(0);
  EXPECT_FALSE(SHFullScreen(a, SHFS_SHOWSIPBUTTON | SHFS_HIDESIPBUTTON));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(bench::GetFullScreen(a).sipButtonHidden);  // a refused call changes nothing
  EXPECT_FALSE(SHFullScreen((HWND)(uintptr_t)0x4444, SHFS_HIDESIPBUTTON));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(bench::Trace({"SHFullScreen"}),
            (Strings{"SHFullScreen([ShellTestWindow], 0x8)", "SHFullScreen([ShellTestWindow], 0x22)",
                     "SHFullScreen([ShellTestWindow], 0x4)", "SHFullScreen([ShellTestWindow], 0x1)",
                     "SHFullScreen([ShellTestWindow], 0xC) -> FALSE", "SHFullScreen([?], 0x8) -> FALSE"}));
  DestroyWindow(a);
  DestroyWindow(b);
}

// ---- tapping the tray ------------------------------------------------------------

// A window on a simulated thread of its own, recording the tray callbacks it gets.
struct TrayThread {
  std::mutex mu;
  DWORD tid = 0;
  Strings got;
  HWND hwnd = nullptr;
};
TrayThread* tray;

LRESULT CALLBACK TrayProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_APP + 7) {
    std::lock_guard<std::mutex> g(tray->mu);
    tray->got.push_back(std::string(GetCurrentThreadId() == tray->tid ? "own" : "other") + " " +
                        std::to_string(wp) + " " + std::to_string(lp));
  }
  if (m == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(h, m, wp, lp);
}

DWORD WINAPI TrayMain(LPVOID) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = TrayProc;
  wc.lpszClassName = L"TrayOwner";
  RegisterClassW(&wc);
  HWND h = CreateWindowExW(0, L"TrayOwner", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  NOTIFYICONDATA nid{};
  nid.cbSize = 152;
  nid.hWnd = h;
  nid.uID = 3;
  nid.uFlags = NIF_MESSAGE;
  nid.uCallbackMessage = WM_APP + 7;
  Shell_NotifyIcon(NIM_ADD, &nid);
  nid.uID = 4;
  nid.uFlags = 0;  // an icon without a callback
  Shell_NotifyIcon(NIM_ADD, &nid);
  {
    std::lock_guard<std::mutex> g(tray->mu);
    tray->hwnd = h;
    tray->tid = GetCurrentThreadId();
  }
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  return 0;
}

TEST_F(SimShell, TappingATrayIconDeliversDownThenUpToItsThread) {
  TrayThread t;
  tray = &t;
  HANDLE th = CreateThread(nullptr, 0, TrayMain, nullptr, 0, nullptr);
  ASSERT_NE(th, nullptr);
  bench::Settle();
  HWND h;
  {
    std::lock_guard<std::mutex> g(t.mu);
    h = t.hwnd;
  }
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(bench::TapTrayIcon(h, 3));
  bench::Settle();
  {
    std::lock_guard<std::mutex> g(t.mu);
    EXPECT_EQ(t.got, (Strings{"own 3 513", "own 3 514"}));  // WM_LBUTTONDOWN, WM_LBUTTONUP
    t.got.clear();
  }
  EXPECT_FALSE(bench::TapTrayIcon(h, 4));   // no callback message
  EXPECT_FALSE(bench::TapTrayIcon(h, 9));   // no such icon
  EXPECT_FALSE(bench::TapTrayIcon(nullptr, 3));
  bench::Settle();
  {
    std::lock_guard<std::mutex> g(t.mu);
    EXPECT_EQ(t.got, Strings{});
  }
  PostMessageW(h, WM_CLOSE, 0, 0);
  WaitForSingleObject(th, INFINITE);
  CloseHandle(th);
  tray = nullptr;
}

// ---- message boxes that fail -----------------------------------------------------

TEST_F(SimShell, AMessageBoxCanFailInItsTurn) {
  bench::AnswerNextMessageBox(IDNO);
  bench::FailNextMessageBox();
  EXPECT_EQ(bench::PendingMessageBoxAnswers(), 2);
  EXPECT_EQ(MessageBoxW(nullptr, L"One", L"Brindle", MB_YESNO), IDNO);
  SetLastError(0);
  EXPECT_EQ(MessageBoxW(nullptr, L"Two", L"Brindle", MB_YESNO), 0);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(MessageBoxW(nullptr, L"Three", L"Brindle", MB_OKCANCEL), IDOK);
  EXPECT_EQ(bench::Trace({"MessageBox("}),
            (Strings{"MessageBox(One, Brindle, 0x4)", "MessageBox(Two, Brindle, 0x4)", "MessageBox(Three, Brindle, 0x1)"}));
  std::vector<bench::ShownBox> boxes = bench::MessageBoxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_FALSE(boxes[0].failed);
  EXPECT_TRUE(boxes[1].failed);
  EXPECT_EQ(boxes[1].answer, 0);
  EXPECT_FALSE(boxes[2].failed);
  bench::FailNextMessageBox();
  EXPECT_EQ(MessageBoxA(nullptr, "Four", "Brindle", MB_OK), 0);  // the ANSI call fails alike
}

}  // namespace
