// The driver program from start to exit, as a user meets it: the settings page, its
// settings in the registry, the menu bar, the About box, the exit question, a second copy.
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <regex>

#include "engine/serial.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_comm.h"
#include "platform/sim/bench_modules.h"
#include "platform/sim/bench_registry.h"
#include "platform/sim/bench_shell.h"
#include "platform/sim/bench_ui.h"
#include "platform/sim/bench_user.h"
#include "program_fixture.h"
#include "shell/dialogs.h"
#include "shell/driver.h"
#include "shell/layouts.h"
#include "shell/resids.h"
#include "shell/state.h"

namespace programtest {
namespace {

const char kKey[] = "SOFTWARE\\Corvane\\Tavlo";
const char kWritten[] = "RegSetValueEx(HKCU\\SOFTWARE\\Corvane\\Tavlo, ";

std::string Written(const char* name, long value) {
  return std::string(kWritten) + name + ", REG_DWORD, " + std::to_string(value) + ")";
}

// The user-interface thread's focus as GetFocus() answers there, asked and moved through
// a hook in front of the settings dialog's procedure (the test's own thread has a focus
// of its own).
const UINT kAskFocus = WM_APP + 50;
const UINT kMoveFocus = WM_APP + 51;  // wParam: the dialog's control to focus
std::atomic<WNDPROC> dialogProc{nullptr};
std::atomic<HWND> uiFocus{nullptr};

LRESULT CALLBACK FocusProbe(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kAskFocus) {
    uiFocus = GetFocus();
    return 0;
  }
  if (msg == kMoveFocus) {
    SetFocus(GetDlgItem(hwnd, static_cast<int>(wp)));
    return 0;
  }
  return CallWindowProcW(dialogProc.load(), hwnd, msg, wp, lp);
}

void HookFocusProbe() {
  dialogProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hSettingsDlg, GWLP_WNDPROC));
  SetWindowLongPtrW(hSettingsDlg, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FocusProbe));
}

HWND UiFocus() {
  uiFocus = reinterpret_cast<HWND>(-1);
  PostMessageW(hSettingsDlg, kAskFocus, 0, 0);
  bench::Settle();
  return uiFocus;
}

void MoveUiFocus(int control) {
  PostMessageW(hSettingsDlg, kMoveFocus, static_cast<WPARAM>(control), 0);
  bench::Settle();
}

// A string of the program's resource library, UTF-8.
std::string LibraryText(UINT id) {
  WCHAR text[RES_STRING_MAX] = {0};
  LoadStringW(hResDll, id, text, RES_STRING_MAX);
  std::string out;
  for (const WCHAR* p = text; *p; ++p) {
    uint32_t c = static_cast<uint32_t>(*p);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// A national build of the resource library, bin/national/<CODE>/, by its full path.
std::string NationalLibrary(const std::string& code) {
  char exe[4096] = {0};
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  std::string dir = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string();
  dir = dir.substr(0, dir.rfind('/'));
  return dir + "/national/" + code + "/brindleres.dll";
}

using ProgramStart = ProgramTest;

TEST_F(ProgramStart, OpensTheSettingsPageAndStartsTheDriverInOrder) {
  bench::TraceRegistryReads(false);
  Launch();
  ASSERT_TRUE(Running());
  EXPECT_EQ(DriverState, DRIVER_RUNNING);
  // Menu bar, then the dialog's initialisation: driver (link, first display), hot key,
  // trackbars; only then is the dialog fitted and the window adjusted for the menu bar.
  Lines milestones = bench::Trace({"LoadLibrary", "RegisterClass", "CreateWindowEx", "SHCreateMenuBar",
                                   "SHInitDialog", "SHSipPreference", "CreateFile", "Shell_NotifyIcon",
                                   "RegisterHotKey", "SendDlgItemMessage(1044", "SendDlgItemMessage(1045"});
  EXPECT_EQ(milestones, (Lines{"LoadLibrary(brindleres.dll)", "RegisterClass(BrindleMain)",
                               "CreateWindowEx([BrindleMain], Keyboard)", "RegisterClass(menu_worker)",
                               "CreateWindowEx([menu_worker], )", "SHCreateMenuBar(131)", "SHInitDialog([Dialog], 0xD)", "SHSipPreference([Dialog], 2)",
                               "CreateFile(COM1:)", "Shell_NotifyIcon(NIM_ADD, 1, icon=111)",
                               "RegisterHotKey([Dialog], 1, 0x0, 0x14)",
                               "SendDlgItemMessage(1044, 0x0406, 0x1, 0x1E0001)",
                               "SendDlgItemMessage(1044, 0x0405, 0x1, 0x14)",
                               "SendDlgItemMessage(1045, 0x0406, 0x1, 0x3E800FA)",
                               "SendDlgItemMessage(1045, 0x0405, 0x1, 0x1F4)"}));
  // The window: the handheld's screen below the task bar, less the menu bar. The page was
  // fitted before that adjustment and keeps its size, reaching under the menu bar.
  ASSERT_NE(hMainWnd, nullptr);
  ASSERT_NE(hSettingsDlg, nullptr);
  RECT main, page;
  GetWindowRect(hMainWnd, &main);
  GetWindowRect(hSettingsDlg, &page);
  EXPECT_EQ(main.left, 0);
  EXPECT_EQ(main.top, 26);
  EXPECT_EQ(main.right, 240);
  EXPECT_EQ(main.bottom, 294);
  EXPECT_EQ(GetParent(hSettingsDlg), hMainWnd);
  EXPECT_EQ(page.left, 0);
  EXPECT_EQ(page.top, 26);
  EXPECT_EQ(page.right, 240);
  EXPECT_EQ(page.bottom, 320);
  EXPECT_EQ(GetForegroundWindow(), hMainWnd);
  wchar_t title[64] = {0};
  GetWindowTextW(hSettingsDlg, title, 64);
  EXPECT_STREQ(title, L"Corvane Tavlo");
  EXPECT_EQ(bench::ControlText(hSettingsDlg, IDC_STATUS_TEXT), "Running");
  EXPECT_EQ(bench::DescribeIcon(bench::WindowIcon(hSettingsDlg, ICON_SMALL)).id, IDI_APP);
  EXPECT_EQ(bench::DescribeIcon(bench::WindowIcon(hSettingsDlg, ICON_SMALL)).width, 16);
  EXPECT_EQ(bench::TrackbarRange(hSettingsDlg, IDC_REPEAT_RATE).min, 1);
  EXPECT_EQ(bench::TrackbarRange(hSettingsDlg, IDC_REPEAT_RATE).max, 30);
  EXPECT_EQ(bench::TrackbarRange(hSettingsDlg, IDC_INITIAL_DELAY).min, 250);
  EXPECT_EQ(bench::TrackbarRange(hSettingsDlg, IDC_INITIAL_DELAY).max, 1000);
  EXPECT_EQ(bench::TrackbarPos(hSettingsDlg, IDC_REPEAT_RATE), 20);
  EXPECT_EQ(bench::TrackbarPos(hSettingsDlg, IDC_INITIAL_DELAY), 500);
  for (int id : {IDC_FONT_1047, IDC_FONT_1048, IDC_FONT_1054, IDC_FONT_1055, IDC_FONT_1056, IDC_STATUS_TEXT}) {
    bench::FontView font = bench::ControlFont(hSettingsDlg, id);
    EXPECT_TRUE(font.present) << id;
    EXPECT_EQ(font.face, "Tahoma") << id;
    EXPECT_EQ(font.height, 12) << id;
  }
  EXPECT_EQ(bench::LiveGdiObjects(), 2) << "the template's font and the dialog font, kept for the run";
}

TEST_F(ProgramStart, FirstStartOnAnEmptyRegistryWritesTheDefaultsInOrder) {
  Launch();
  EXPECT_EQ(bench::Trace({kWritten}), (Lines{Written("InitialDelay", 500), Written("RepeatRate", 20),
                                             Written("PrefShift", 0), Written("PrefFn", 0)}));
  EXPECT_EQ(bench::CheckState(hSettingsDlg, IDC_STICKY_SHIFT), BST_UNCHECKED);
  EXPECT_EQ(bench::CheckState(hSettingsDlg, IDC_STICKY_FN), BST_UNCHECKED);
  EXPECT_EQ(InitialDelay, 500u);
  EXPECT_EQ(RepeatRate, 20u);
  EXPECT_EQ(PrefShift, 0u);
  EXPECT_EQ(PrefFn, 0u);
  EXPECT_EQ(bench::OpenRegistryKeys(), 0);
}

// Stored values as the load takes them. A value of at most 4 bytes is the setting,
// zero-extended; a longer one counts as missing and its default is written back.
struct StoredRow {
  const char* name;
  const char* value;
  std::vector<uint8_t> bytes;  // stored as REG_BINARY when not 4 bytes
  uint32_t loaded;             // the variable afterwards
  bool checked;                // for the sticky flags: the check box
  std::vector<uint8_t> after;  // the registry afterwards
};

std::vector<uint8_t> Le(uint32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

TEST_F(ProgramStart, LoadsStoredValuesAsTheyAre) {
  const StoredRow rows[] = {
      {"sticky Fn of 5", "PrefFn", Le(5), 1, true, Le(5)},
      {"sticky Shift of 1", "PrefShift", Le(1), 1, true, Le(1)},
      {"sticky Shift of 0", "PrefShift", Le(0), 0, false, Le(0)},
      {"sticky Fn in one byte", "PrefFn", {1}, 1, true, {1}},
      {"sticky Fn of 0x100 in two bytes", "PrefFn", {0x00, 0x01}, 1, true, {0x00, 0x01}},
      {"sticky Fn of eight bytes", "PrefFn", {1, 0, 0, 0, 0, 0, 0, 0}, 0, false, Le(0)},
      {"delay in one byte", "InitialDelay", {0xFF}, 255, false, {0xFF}},
      {"delay of two bytes", "InitialDelay", {0x20, 0x03}, 800, false, {0x20, 0x03}},
      {"delay below the range", "InitialDelay", Le(0), 0, false, Le(0)},
      {"delay above the range", "InitialDelay", Le(100000), 100000, false, Le(100000)},
      {"rate of eight bytes", "RepeatRate", {5, 0, 0, 0, 0, 0, 0, 0}, 20, false, Le(20)},
      {"rate above the range", "RepeatRate", Le(31), 31, false, Le(31)},
      {"empty rate", "RepeatRate", {}, 0, false, {}},
  };
  for (const StoredRow& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(bench::Reset());
    ResetProgramState();
    DWORD type = row.bytes.size() == 4 ? REG_DWORD : REG_BINARY;
    bench::RegSetRaw(HKEY_CURRENT_USER, kKey, row.value, type, row.bytes);
    // Something else in memory first: the load must not mix with it.
    InitialDelay = 0xAAAAAAAA;
    RepeatRate = 0xAAAAAAAA;
    Launch();
    std::string name = row.value;
    const std::atomic<uint32_t>& var = name == "PrefFn" ? PrefFn
                                       : name == "PrefShift" ? PrefShift
                                       : name == "InitialDelay" ? InitialDelay
                                                                : RepeatRate;
    EXPECT_EQ(var, row.loaded);
    auto stored = bench::RegGet(HKEY_CURRENT_USER, kKey, row.value);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->bytes, row.after);
    int box = name == "PrefFn" ? IDC_STICKY_FN : name == "PrefShift" ? IDC_STICKY_SHIFT : 0;
    if (box != 0) {
      EXPECT_EQ(bench::CheckState(hSettingsDlg, box), row.checked ? BST_CHECKED : BST_UNCHECKED);
    }
    // Only what was missing (or unreadable) is written.
    for (const std::string& w : bench::Trace({kWritten}))
      EXPECT_TRUE(w.find(std::string(", ") + row.value + ",") == std::string::npos || row.after != row.bytes) << w;
    ExitWithAnswer(IDYES);
    EXPECT_EQ(WaitForExit(), 0u);
  }
}

TEST_F(ProgramStart, LoadResetsTheEngineStateWhateverItHeld) {
  ShiftDown = 1;
  FnDown = 1;
  StickyShiftLatched = 1;
  StickyFnLatched = 1;
  RepeatTimerOn = 7;
  PickerBitmapBase = 0;
  bench::SetPortBusy(true);  // no reader: nothing else touches them
  Launch();
  EXPECT_EQ(ShiftDown, 0u);
  EXPECT_EQ(FnDown, 0u);
  EXPECT_EQ(StickyShiftLatched, 0u);
  EXPECT_EQ(StickyFnLatched, 0u);
  EXPECT_EQ(RepeatTimerOn, 0u);
  EXPECT_EQ(PickerBitmapBase, 148u);
  EXPECT_TRUE(bench::Trace({"keybd_event", "KillTimer([Dialog], 1)"}).empty()) << "nothing injected or killed";
}

// The language code (string 20) of the library picks the picker layout and the font.
struct LanguageRow {
  const char* library;  // built beside the tests with that string 20
  int layout;
  bool font;
};

TEST_F(ProgramStart, LanguageCodeChoosesLayoutAndFont) {
  const LanguageRow rows[] = {
      {"brindleres_fra_lower.dll", 1, true},  // "fra"
      {"brindleres_ger.dll", 2, true},         // "GER"
      {"brindleres_ita.dll", 5, true},         // "Ita"
      {"brindleres_chs.dll", 0, false},        // "CHS"
      {"brindleres_cht.dll", 0, false},        // "cht"
      {"brindleres_jpn.dll", 0, true},         // "JPN"
      {"brindleres_unknown.dll", 0, true},     // "XYZ"
      {"brindleres_long.dll", 0, true},        // "USA" and more: cut to 15 characters, no match
      {"brindleres_empty.dll", 0, true},       // ""
      {"brindleres_missing.dll", 0, true},     // no string 20
  };
  for (const LanguageRow& row : rows) {
    SCOPED_TRACE(row.library);
    ASSERT_TRUE(bench::Reset());
    ResetProgramState();
    memset(ActiveLayout, 0xEE, sizeof ActiveLayout);
    bench::PlaceLibrary("brindleres.dll", row.library);
    Launch();
    ASSERT_TRUE(Running());
    EXPECT_EQ(0, memcmp(ActiveLayout, PickerLayout[row.layout], sizeof ActiveLayout));
    // Without the dialog font the controls keep the template's (Tahoma 8 points).
    for (int id : {IDC_FONT_1047, IDC_FONT_1048, IDC_FONT_1054, IDC_FONT_1055, IDC_FONT_1056, IDC_STATUS_TEXT})
      EXPECT_EQ(bench::ControlFont(hSettingsDlg, id).height == 12, row.font) << id;
    EXPECT_EQ(bench::LiveGdiObjects(), row.font ? 2 : 1);
    ExitWithAnswer(IDYES);
    EXPECT_EQ(WaitForExit(), 0u);
  }
}

TEST_F(ProgramStart, WithoutTheResourceLibraryOnlyTheBoxAppears) {
  bench::PlaceLibrary("brindleres.dll", "");
  Launch();
  EXPECT_EQ(WaitForExit(), 1u);
  auto boxes = bench::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].owner, nullptr);
  EXPECT_EQ(boxes[0].text, "Resource file (brindleres.dll) not found!");
  EXPECT_EQ(boxes[0].caption, "brindle.exe");
  EXPECT_EQ(boxes[0].type, 0x30u);
  EXPECT_TRUE(bench::TopLevelWindows().empty());
  EXPECT_EQ(bench::PortOpensTotal(), 0);
  EXPECT_EQ(bench::Trace({"LoadLibrary", "RegisterClass", "CreateWindowEx", "RegCreateKeyEx", "RegSetValueEx",
                          "Shell_NotifyIcon", "RegisterHotKey"}),
            (Lines{"LoadLibrary(brindleres.dll) -> 126"}));
}

TEST_F(ProgramStart, ASecondCopyBringsTheFirstToTheFrontAndEnds) {
  Launch();
  ASSERT_TRUE(Running());
  HookFocusProbe();
  // The user has put the window away meanwhile, the focus last on the help button.
  MoveUiFocus(IDC_HELP_BUTTON);
  ASSERT_EQ(UiFocus(), GetDlgItem(hSettingsDlg, IDC_HELP_BUTTON));
  ShowWindow(hMainWnd, SW_HIDE);
  int opens = bench::PortOpensTotal();
  bench::ClearTrace();
  HANDLE second = Launch();
  EXPECT_EQ(ExitCodeOf(second), 0u);
  EXPECT_EQ(bench::PortOpensTotal(), opens);
  EXPECT_EQ(bench::Trace({"LoadLibrary", "FreeLibrary", "RegisterClass", "CreateWindowEx", "SHCreateMenuBar",
                          "CreateFile", "RegisterHotKey", "Shell_NotifyIcon"}),
            (Lines{"LoadLibrary(brindleres.dll)", "FreeLibrary(brindleres.dll)"}));
  EXPECT_TRUE(Running());
  EXPECT_EQ(GetForegroundWindow(), hMainWnd);
  EXPECT_TRUE(IsWindowVisible(hSettingsDlg));
  EXPECT_EQ(UiFocus(), hSettingsDlg) << "the focus is on the settings page";
  int mains = 0;
  for (const auto& w : bench::TopLevelWindows()) mains += w.hwnd == hMainWnd;
  EXPECT_EQ(mains, 1);
}

TEST_F(ProgramStart, ARefusedHotKeyIsReportedAndNeverReleased) {
  ASSERT_TRUE(RegisterHotKey(nullptr, 9, 0, VK_CAPITAL));  // another program has Caps Lock
  Launch();
  auto boxes = bench::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Hotkey reg failed:1409");
  EXPECT_EQ(boxes[0].caption, "test");
  EXPECT_EQ(boxes[0].type, 0u);
  EXPECT_EQ(boxes[0].owner, hSettingsDlg);
  EXPECT_EQ(DriverState, DRIVER_RUNNING) << "the program goes on";
  ExitWithAnswer(IDYES);
  EXPECT_EQ(WaitForExit(), 0u);
  EXPECT_TRUE(bench::Trace({"UnregisterHotKey"}).empty());
}

using ProgramExit = ProgramTest;

TEST_F(ProgramExit, StopsTheDriverAndRemovesTheTrayIconBeforeTheLoopEnds) {
  Launch();
  bench::SendKeyBytes({0x04});  // A held: a repeat is running
  bench::Settle();
  bench::ClearTrace();
  ASSERT_TRUE(bench::ChooseMenuCommand(hMainWnd, IDM_EXIT));
  bench::AnswerNextMessageBox(IDYES);
  bench::Settle();
  EXPECT_EQ(WaitForExit(), 0u);
  EXPECT_EQ(bench::Trace({"MessageBox", "CloseHandle(COM1)", "Shell_NotifyIcon", "KillTimer([Dialog], 1)",
                          "UnregisterHotKey", "FreeLibrary"}),
            (Lines{"MessageBox(Exit the keyboard driver? Typing on the keyboard stops until it is started "
                   "again., Keyboard, 0x34)",
                   "KillTimer([Dialog], 1)", "CloseHandle(COM1)", "Shell_NotifyIcon(NIM_MODIFY, 1, icon=112)",
                   "Shell_NotifyIcon(NIM_DELETE, 1)", "UnregisterHotKey([Dialog], 1)",
                   "FreeLibrary(brindleres.dll)"}));
  EXPECT_EQ(bench::TrayIconCount(), 0);
  EXPECT_EQ(bench::PortOpenCount(), 0);
  EXPECT_EQ(bench::PowerState(), bench::Power::Off);
  EXPECT_EQ(bench::LiveThreads(), 0);
  EXPECT_TRUE(bench::TopLevelWindows().empty());
  EXPECT_EQ(GetKeyState('A') & 0x8000, 0) << "the held key is lifted";
}

// Every answer but No, a failed box too, ends the program; No keeps everything.
TEST_F(ProgramExit, OnlyNoKeepsTheDriverRunning) {
  struct Row {
    const char* name;
    int answer;  // 0: the box fails
    bool exits;
  };
  const Row rows[] = {{"No", IDNO, false}, {"Yes", IDYES, true}, {"OK", IDOK, true},
                      {"Cancel", IDCANCEL, true}, {"failed box", 0, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(bench::Reset());
    ResetProgramState();
    Launch();
    HookFocusProbe();
    MoveUiFocus(IDC_HELP_BUTTON);
    ASSERT_EQ(UiFocus(), GetDlgItem(hSettingsDlg, IDC_HELP_BUTTON));
    if (row.answer == 0)
      bench::FailNextMessageBox();
    else
      bench::AnswerNextMessageBox(row.answer);
    ASSERT_NE(bench::TapControl(hSettingsDlg, IDC_EXIT_BUTTON), nullptr);
    bench::Settle();
    EXPECT_EQ(bench::MessageBoxes().size(), 1u);
    EXPECT_EQ(Running(), !row.exits);
    if (row.exits) {
      EXPECT_EQ(WaitForExit(), 0u);
      continue;
    }
    EXPECT_EQ(DriverState, DRIVER_RUNNING);
    EXPECT_EQ(bench::TrayIconCount(), 1);
    EXPECT_EQ(UiFocus(), hSettingsDlg) << "the focus is back on the dialog";
    // Caps Lock still reaches the dialog as the hot key.
    bench::PressCapsLock();
    bench::Settle();
    EXPECT_EQ(CapsLockOn, 1u);
    ExitWithAnswer(IDYES);
    EXPECT_EQ(WaitForExit(), 0u);
  }
}

using SettingsPage = ProgramTest;

TEST_F(SettingsPage, EitherTrackbarWritesBothValues) {
  Launch();
  bench::ClearTrace();
  ASSERT_TRUE(bench::DragTrackbar(hSettingsDlg, IDC_REPEAT_RATE, 25));
  bench::Settle();
  Lines writes = bench::Trace({kWritten});
  ASSERT_FALSE(writes.empty());
  // Every scroll message writes the pair, rate first.
  ASSERT_EQ(writes.size() % 2, 0u);
  EXPECT_EQ(writes[writes.size() - 2], Written("RepeatRate", 25));
  EXPECT_EQ(writes.back(), Written("InitialDelay", 500));
  EXPECT_EQ(RepeatRate, 25u);
  bench::ClearTrace();
  ASSERT_TRUE(bench::DragTrackbar(hSettingsDlg, IDC_INITIAL_DELAY, 750));
  bench::Settle();
  // A thumb lands on whole pixels: near 750, and what it shows is what is stored.
  int delay = bench::TrackbarPos(hSettingsDlg, IDC_INITIAL_DELAY);
  EXPECT_NEAR(delay, 750, 6);
  writes = bench::Trace({kWritten});
  ASSERT_GE(writes.size(), 2u);
  EXPECT_EQ(writes[writes.size() - 2], Written("RepeatRate", 25));
  EXPECT_EQ(writes.back(), Written("InitialDelay", delay));
  EXPECT_EQ(InitialDelay, static_cast<uint32_t>(delay));
  // The new values drive the repeat at once.
  bench::ClearTrace();
  bench::SendKeyBytes({0x04});
  bench::Settle();
  EXPECT_EQ(bench::Trace({"SetTimer([Dialog], 1"}), (Lines{"SetTimer([Dialog], 1, " + std::to_string(delay) + ")"}));
  bench::Advance(delay);
  EXPECT_EQ(bench::Trace({"SetTimer([Dialog], 1"}).back(), "SetTimer([Dialog], 1, 40)");
  bench::SendKeyBytes({0x84});
  bench::Settle();
}

TEST_F(SettingsPage, StickyCheckBoxesWriteAtOnceAndTheHotKeyStays) {
  Launch();
  bench::ClearTrace();
  const struct {
    int box;
    const char* value;
    const std::atomic<uint32_t>* var;
  } boxes[] = {{IDC_STICKY_SHIFT, "PrefShift", &PrefShift}, {IDC_STICKY_FN, "PrefFn", &PrefFn}};
  for (const auto& b : boxes) {
    for (DWORD expected : {1u, 0u, 1u}) {
      ASSERT_NE(bench::ToggleCheckBox(hSettingsDlg, b.box), nullptr);
      bench::Settle();
      EXPECT_EQ(bench::Trace({kWritten}).back(), Written(b.value, expected));
      EXPECT_EQ(b.var->load(), expected);
      EXPECT_EQ(bench::RegGetDword(HKEY_CURRENT_USER, kKey, b.value), expected);
    }
  }
  EXPECT_TRUE(bench::Trace({"UnregisterHotKey"}).empty());
  // Caps Lock keeps toggling the driver's copy, whatever was clicked.
  for (uint32_t expected : {1u, 0u, 1u}) {
    bench::PressCapsLock();
    bench::Settle();
    EXPECT_EQ(CapsLockOn, expected);
  }
}

TEST_F(SettingsPage, StartStopButtonStopsAndStartsTheDriver) {
  Launch();
  ASSERT_EQ(DriverState, DRIVER_RUNNING);
  bench::TapControl(hSettingsDlg, IDC_START_STOP);
  bench::Settle();
  EXPECT_EQ(DriverState, DRIVER_STOPPED);
  EXPECT_EQ(bench::ControlText(hSettingsDlg, IDC_STATUS_TEXT), "Stopped");
  EXPECT_EQ(bench::GetTrayIcon(hSettingsDlg, 1).iconId, IDI_TRAY_STOPPED);
  bench::TapControl(hSettingsDlg, IDC_START_STOP);
  bench::Settle();
  EXPECT_EQ(DriverState, DRIVER_RUNNING);
  EXPECT_EQ(bench::DescribeIcon(bench::ControlIcon(GetDlgItem(hSettingsDlg, IDC_STATUS_ICON))).id,
            IDI_STATUS_RUNNING);
}

// The start/stop button says what a tap on it does, in each national build: the word for
// Stop while the driver runs or is paused, the word for Start while it is stopped.
TEST_F(SettingsPage, StartStopButtonSaysWhatATapDoes) {
  for (const char* code : {"USA", "FRA", "GER", "ESP", "PTB", "ITA"}) {
    SCOPED_TRACE(code);
    ASSERT_TRUE(bench::Reset());
    ResetProgramState();
    if (std::string(code) != "USA") bench::PlaceLibrary("brindleres.dll", NationalLibrary(code));
    bench::SetPortBusy(true);  // paused from the start
    Launch();
    ASSERT_TRUE(Running());
    ASSERT_EQ(LibraryText(IDS_LANGUAGE), code);
    const std::string start = LibraryText(IDS_START_BUTTON), stop = LibraryText(IDS_STOP_BUTTON);
    EXPECT_FALSE(start.empty());
    EXPECT_FALSE(stop.empty());
    EXPECT_NE(start, stop);
    if (std::string(code) == "USA") {
      EXPECT_EQ(start, "Start");
      EXPECT_EQ(stop, "Stop");
    }
    auto label = [] { return bench::ControlText(hSettingsDlg, IDC_START_STOP); };
    ASSERT_EQ(DriverState, DRIVER_PAUSED);
    EXPECT_EQ(label(), stop) << "paused: a tap stops it";
    const struct {
      bool portBusy;
      int32_t state;
    } taps[] = {{false, DRIVER_STOPPED}, {false, DRIVER_RUNNING}, {false, DRIVER_STOPPED}, {true, DRIVER_PAUSED},
                {true, DRIVER_STOPPED}};
    for (const auto& tap : taps) {
      bench::SetPortBusy(tap.portBusy);
      ASSERT_NE(bench::TapControl(hSettingsDlg, IDC_START_STOP), nullptr);
      bench::Settle();
      ASSERT_EQ(DriverState, tap.state);
      EXPECT_EQ(label(), tap.state == DRIVER_STOPPED ? start : stop) << "state " << tap.state;
    }
    bench::SetPortBusy(false);
    ExitWithAnswer(IDYES);
    EXPECT_EQ(WaitForExit(), 0u);
  }
}

TEST_F(SettingsPage, HelpFromTheButtonAndTheMenuOpensTheTopic) {
  Launch();
  bench::TapControl(hSettingsDlg, IDC_HELP_BUTTON);
  bench::Settle();
  ASSERT_TRUE(bench::ChooseMenuCommand(hMainWnd, IDM_HELP));
  bench::Settle();
  EXPECT_EQ(bench::StartedPrograms(),
            (Lines{"PegHelp.exe tavlo.htc#extkbd_help", "PegHelp.exe tavlo.htc#extkbd_help"}));
}

// The About box over the page, from the status icon and from the menu, closed by OK
// and by Cancel; the driver keeps running underneath.
TEST_F(SettingsPage, AboutBoxOpensFromTheIconAndTheMenuAndClosesByOkOrCancel) {
  Launch();
  const std::regex stamp("[A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} @ [0-9]{2}:[0-9]{2}:[0-9]{2}");
  for (bool fromMenu : {false, true}) {
    for (int close : {IDOK, IDCANCEL}) {
      SCOPED_TRACE(std::string(fromMenu ? "menu" : "icon") + (close == IDOK ? ", OK" : ", Cancel"));
      if (fromMenu)
        ASSERT_TRUE(bench::ChooseMenuCommand(hMainWnd, IDM_ABOUT));
      else
        ASSERT_NE(bench::TapControl(hSettingsDlg, IDC_STATUS_ICON), nullptr);
      bench::Settle();
      HWND about = GetForegroundWindow();
      ASSERT_NE(about, hMainWnd);
      ASSERT_NE(about, nullptr);
      EXPECT_EQ(bench::ControlText(about, IDC_VERSION), "v1.00.100.4");
      EXPECT_TRUE(std::regex_match(bench::ControlText(about, IDC_BUILD_STAMP), stamp))
          << bench::ControlText(about, IDC_BUILD_STAMP);
      EXPECT_FALSE(bench::IsEnabled(hMainWnd)) << "modal over the program";
      // The driver goes on while the box is open: the repeat still types.
      bench::ClearTrace();
      bench::SendKeyBytes({0x04});
      bench::Advance(550);
      bench::SendKeyBytes({0x84});
      bench::Settle();
      EXPECT_EQ(bench::Trace({"keybd_event(0x41"}).size(), 4u);
      if (close == IDOK)
        ASSERT_NE(bench::TapControl(about, IDOK), nullptr);
      else
        PostMessageW(about, WM_COMMAND, IDCANCEL, 0);
      bench::Settle();
      EXPECT_FALSE(IsWindow(about));
      EXPECT_TRUE(bench::IsEnabled(hMainWnd));
    }
  }
}

TEST_F(SettingsPage, TrayTapBringsTheWindowBackAfterTheDoubleClickTime) {
  Launch();
  ShowWindow(hMainWnd, SW_HIDE);
  bench::ClearTrace();
  ASSERT_TRUE(bench::TapTrayIcon(hSettingsDlg, 1));
  bench::Settle();
  EXPECT_EQ(bench::Trace({"Sleep"}), (Lines{"Sleep(500)"}));
  bench::Advance(499);
  EXPECT_FALSE(IsWindowVisible(hMainWnd)) << "a double tap may still come";
  bench::Advance(1);
  EXPECT_TRUE(IsWindowVisible(hMainWnd));
  EXPECT_EQ(GetForegroundWindow(), hMainWnd);
}

}  // namespace
}  // namespace programtest
