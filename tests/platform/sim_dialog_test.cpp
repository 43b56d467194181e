// The bench's screen on a running dialog: taps, check boxes, trackbar drags, the
// z-order of top-level windows, the readers, and GDI objects left alive.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_shell.h"
#include "platform/sim/bench_ui.h"

namespace {

enum { kText = 100, kCheck = 101, kDefault = 102, kTrack = 103, kIcon = 104, kBare = 105 };

class TemplateBuilder {
 public:
  TemplateBuilder(DWORD style, LPCWSTR title, short x, short y, short cx, short cy, LPCWSTR face) {
    Dword(style | (face ? DS_SETFONT : 0));
    Dword(0);
    count_ = words_.size();
    Word(0);
    Word((WORD)x), Word((WORD)y), Word((WORD)cx), Word((WORD)cy);
    Word(0), Word(0);
    Text(title);
    if (face) Word(8), Text(face);
  }
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, LPCWSTR cls, LPCWSTR title) {
    while (words_.size() % 2) Word(0);
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    Word((WORD)x), Word((WORD)y), Word((WORD)cx), Word((WORD)cy);
    Word(id);
    Text(cls);
    Text(title);
    Word(0);
    ++words_[count_];
  }
  LPCDLGTEMPLATEW Get() const { return reinterpret_cast<LPCDLGTEMPLATEW>(words_.data()); }

 private:
  void Word(WORD w) { words_.push_back(w); }
  void Dword(DWORD d) { Word((WORD)(d & 0xFFFF)), Word((WORD)(d >> 16)); }
  void Text(LPCWSTR s) {
    for (; s && *s; ++s) Word((WORD)*s);
    Word(0);
  }
  std::vector<WORD> words_;
  size_t count_ = 0;
};

// What the program's dialog procedures saw, read by the test after Settle.
struct Seen {
  std::mutex mu;
  std::vector<std::pair<int, int>> commands;  // id, code
  std::vector<std::pair<int, int>> scrolls;   // code, pos
  int ticks = 0;
  int aboutResult = 0;
};
Seen* gSeen;
HWND gSettings;
HWND gAbout;
HFONT gFont;

INT_PTR CALLBACK AboutProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM) {
  if (msg == WM_INITDIALOG) gAbout = hwnd;
  if (msg == WM_COMMAND && LOWORD(wp) == IDOK) EndDialog(hwnd, IDOK);
  return msg == WM_INITDIALOG || msg == WM_COMMAND;
}

INT_PTR CALLBACK SettingsProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG: {
      SendDlgItemMessageW(hwnd, kTrack, TBM_SETRANGE, 1, MAKELONG(1, 30));
      SendDlgItemMessageW(hwnd, kTrack, TBM_SETPOS, 1, 5);
      LOGFONTW lf;
      memset(&lf, 0, sizeof lf);
      lf.lfHeight = 12;
      wcscpy(lf.lfFaceName, L"Tahoma");
      gFont = CreateFontIndirectW(&lf);
      SendMessageW(GetDlgItem(hwnd, kText), WM_SETFONT, (WPARAM)gFont, 0);
      SendMessageW(hwnd, WM_SETICON, ICON_SMALL, (LPARAM)LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(145)));
      SetTimer(hwnd, 5, 100, nullptr);
      return TRUE;
    }
    case WM_COMMAND: {
      std::lock_guard<std::mutex> g(gSeen->mu);
      gSeen->commands.push_back({LOWORD(wp), HIWORD(wp)});
      return TRUE;
    }
    case WM_HSCROLL: {
      std::lock_guard<std::mutex> g(gSeen->mu);
      gSeen->scrolls.push_back({LOWORD(wp), HIWORD(wp)});
      return TRUE;
    }
    case WM_TIMER: {
      std::lock_guard<std::mutex> g(gSeen->mu);
      ++gSeen->ticks;
      return TRUE;
    }
    case WM_APP: {
      TemplateBuilder t(WS_POPUP | WS_VISIBLE, L"About", 0, 20, 120, 60, nullptr);
      t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 10, 10, 40, 14, IDOK, L"Button", L"OK");
      INT_PTR r = DialogBoxIndirectParamW(nullptr, t.Get(), hwnd, AboutProc, 0);
      std::lock_guard<std::mutex> g(gSeen->mu);
      gSeen->aboutResult = (int)r;
      return TRUE;
    }
  }
  (void)lp;
  return FALSE;
}

DWORD WINAPI ProgramMain(LPVOID) {
  TemplateBuilder t(WS_POPUP | WS_VISIBLE, L"Settings", 0, 0, 160, 200, L"Tahoma");
  t.Item(SS_LEFT, 4, 4, 100, 10, kText, L"Static", L"Stopped");
  t.Item(BS_AUTOCHECKBOX | WS_TABSTOP, 4, 20, 100, 12, kCheck, L"Button", L"Sticky Shift");
  t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 4, 36, 50, 14, kDefault, L"Button", L"Start");
  t.Item(WS_TABSTOP, 4, 56, 120, 16, kTrack, TRACKBAR_CLASSW, L"");
  t.Item(SS_ICON | SS_NOTIFY, 120, 4, 20, 20, kIcon, L"Static", L"");
  t.Item(SS_LEFT, 4, 80, 100, 10, kBare, L"Static", L"Plain");
  gSettings = CreateDialogIndirectParamW(nullptr, t.Get(), nullptr, SettingsProc, 0);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0))
    if (!IsDialogMessageW(gSettings, &m)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  DestroyWindow(gSettings);
  DeleteObject(gFont);
  return 0;
}

class SimDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bench::Reset());
    gSeen = &seen_;
    gSettings = gAbout = nullptr;
    DWORD tid = 0;
    thread_ = CreateThread(nullptr, 0, ProgramMain, nullptr, 0, &tid);
    tid_ = tid;
    bench::Settle();
    ASSERT_NE(gSettings, nullptr);
  }
  void TearDown() override {
    PostThreadMessageW(tid_, WM_QUIT, 0, 0);
    bench::Settle();
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    EXPECT_EQ(bench::LiveGdiObjects(), 0);  // the program's font and the dialog's own are gone
    EXPECT_TRUE(bench::Reset());
  }
  std::vector<std::pair<int, int>> Commands() {
    std::lock_guard<std::mutex> g(seen_.mu);
    return seen_.commands;
  }
  std::vector<std::pair<int, int>> Scrolls() {
    std::lock_guard<std::mutex> g(seen_.mu);
    return seen_.scrolls;
  }
  Seen seen_;
  HANDLE thread_ = nullptr;
  DWORD tid_ = 0;
};

using Pairs = std::vector<std::pair<int, int>>;

TEST_F(SimDialog, TappingTheCheckBoxFlipsItAndTellsTheDialog) {
  EXPECT_EQ(bench::CheckState(gSettings, kCheck), BST_UNCHECKED);
  EXPECT_NE(bench::ToggleCheckBox(gSettings, kCheck), nullptr);
  bench::Settle();
  EXPECT_EQ(bench::CheckState(gSettings, kCheck), BST_CHECKED);
  EXPECT_NE(bench::ToggleCheckBox(gSettings, kCheck), nullptr);
  bench::Settle();
  EXPECT_EQ(bench::CheckState(gSettings, kCheck), BST_UNCHECKED);
  EXPECT_EQ(Commands(), (Pairs{{kCheck, BN_CLICKED}, {kCheck, BN_CLICKED}}));
  EXPECT_EQ(bench::CheckState(gSettings, kDefault), -1);  // a push button has no check
  EXPECT_EQ(bench::ToggleCheckBox(gSettings, kText), nullptr);
}

TEST_F(SimDialog, TapsReachNotifyingStaticsAndButtonsButPassThroughPlainText) {
  EXPECT_EQ(bench::TapControl(gSettings, kIcon), GetDlgItem(gSettings, kIcon));
  EXPECT_EQ(bench::TapControl(gSettings, kDefault), GetDlgItem(gSettings, kDefault));
  EXPECT_EQ(bench::TapControl(gSettings, kBare), nullptr);  // the dialog beneath gets it
  bench::Settle();
  EXPECT_EQ(Commands(), (Pairs{{kIcon, STN_CLICKED}, {kDefault, BN_CLICKED}}));
  // A disabled button is passed over too.
  EXPECT_FALSE(EnableWindow(GetDlgItem(gSettings, kDefault), FALSE));
  EXPECT_FALSE(bench::IsEnabled(GetDlgItem(gSettings, kDefault)));
  EXPECT_EQ(bench::TapControl(gSettings, kDefault), nullptr);
  bench::Settle();
  EXPECT_EQ(Commands().size(), 2u);
}

TEST_F(SimDialog, DraggingTheThumbReportsTrackThenPositionThenEnd) {
  EXPECT_EQ(bench::TrackbarRange(gSettings, kTrack).min, 1);
  EXPECT_EQ(bench::TrackbarRange(gSettings, kTrack).max, 30);
  struct Case {
    int to, lands;
  };
  const Case cases[] = {{17, 17}, {30, 30}, {1, 1}, {99, 30}, {-4, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.to);
    int from = bench::TrackbarPos(gSettings, kTrack);
    {
      std::lock_guard<std::mutex> g(seen_.mu);
      seen_.scrolls.clear();
    }
    ASSERT_TRUE(bench::DragTrackbar(gSettings, kTrack, c.to));
    bench::Settle();
    EXPECT_EQ(bench::TrackbarPos(gSettings, kTrack), c.lands);
    Pairs expect;
    if (from != c.lands) expect.push_back({TB_THUMBTRACK, c.lands});
    expect.push_back({TB_THUMBPOSITION, c.lands});
    expect.push_back({TB_ENDTRACK, 0});
    EXPECT_EQ(Scrolls(), expect);
    EXPECT_EQ(SendDlgItemMessageW(gSettings, kTrack, TBM_GETPOS, 0, 0), c.lands);
  }
  EXPECT_FALSE(bench::DragTrackbar(gSettings, kCheck, 3));
  EXPECT_EQ(bench::TrackbarPos(gSettings, kCheck), -1);
}

TEST_F(SimDialog, ShiftTabGoesBackAndTabForward) {
  HWND check = GetDlgItem(gSettings, kCheck);
  EXPECT_TRUE(SendDlgItemMessageW(gSettings, kCheck, BM_GETSTATE, 0, 0) & BST_FOCUS);
  keybd_event(VK_SHIFT, 0, 0, 0);
  PostMessageW(check, WM_KEYDOWN, VK_TAB, 1);
  bench::Settle();
  keybd_event(VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);
  bench::Settle();
  // Backwards from the first tab stop wraps to the last: the trackbar.
  EXPECT_FALSE(SendDlgItemMessageW(gSettings, kCheck, BM_GETSTATE, 0, 0) & BST_FOCUS);
  PostMessageW(GetDlgItem(gSettings, kTrack), WM_KEYDOWN, VK_TAB, 1);
  bench::Settle();
  EXPECT_TRUE(SendDlgItemMessageW(gSettings, kCheck, BM_GETSTATE, 0, 0) & BST_FOCUS);
}

TEST_F(SimDialog, ReadersShowTextFontIconAndTheIconStaticsImage) {
  EXPECT_EQ(bench::ControlText(gSettings, kText), "Stopped");
  EXPECT_TRUE(SetDlgItemTextW(gSettings, kText, L"Running"));
  EXPECT_EQ(bench::ControlText(gSettings, kText), "Running");
  bench::FontView f = bench::ControlFont(gSettings, kText);
  EXPECT_TRUE(f.present);
  EXPECT_EQ(f.face, "Tahoma");
  EXPECT_EQ(f.height, 12);
  EXPECT_EQ(bench::ControlFont(gSettings, kCheck).face, "Tahoma");  // the template's DS_SETFONT face
  EXPECT_EQ(bench::ControlFont(gSettings, kCheck).height, -11);     // 8 points at 96 dots per inch
  EXPECT_FALSE(bench::ControlFont(gSettings, 999).present);
  EXPECT_EQ(bench::LiveGdiObjects(), 2);  // the program's font and the template's
  HICON app = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(145));
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(bench::WindowIcon(gSettings, ICON_SMALL), app);
  EXPECT_EQ(bench::WindowIcon(gSettings, ICON_BIG), nullptr);
  HICON paused = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(152));
  EXPECT_EQ(SendDlgItemMessageW(gSettings, kIcon, STM_SETIMAGE, IMAGE_ICON, (LPARAM)app), 0);
  EXPECT_EQ(SendDlgItemMessageW(gSettings, kIcon, STM_SETIMAGE, IMAGE_ICON, (LPARAM)paused), (LRESULT)app);
  EXPECT_EQ(bench::ControlIcon(GetDlgItem(gSettings, kIcon)), paused);
  // A text static shows no icon.
  EXPECT_EQ(SendDlgItemMessageW(gSettings, kText, STM_SETIMAGE, IMAGE_ICON, (LPARAM)app), 0);
  EXPECT_EQ(SendDlgItemMessageW(gSettings, kText, STM_GETIMAGE, IMAGE_ICON, 0), 0);
}

TEST_F(SimDialog, AModalBoxLiesOnTopDisablesItsOwnerAndLetsTimersRun) {
  auto tops = bench::TopLevelWindows();
  ASSERT_EQ(tops.size(), 1u);
  EXPECT_EQ(tops[0].cls, "Dialog");
  EXPECT_EQ(tops[0].title, "Settings");
  EXPECT_TRUE(tops[0].visible);
  EXPECT_EQ(tops[0].rect.right - tops[0].rect.left, 240);  // 160 units of a 6-pixel font
  EXPECT_EQ(bench::Tap(10, 10), gSettings);  // through the plain text to the dialog
  PostMessageW(gSettings, WM_APP, 0, 0);
  bench::Settle();
  ASSERT_NE(gAbout, nullptr);
  tops = bench::TopLevelWindows();
  ASSERT_EQ(tops.size(), 2u);
  EXPECT_EQ(tops[0].hwnd, gAbout);
  EXPECT_EQ(tops[0].title, "About");
  EXPECT_TRUE(tops[0].enabled);
  EXPECT_EQ(tops[1].hwnd, gSettings);
  EXPECT_FALSE(tops[1].enabled);
  // The settings dialog is disabled: a tap where the box does not cover it does nothing.
  EXPECT_EQ(bench::Tap(10, 10), nullptr);
  EXPECT_EQ(bench::Tap(200, 150), gAbout);  // the box lies on top of the settings
  int before;
  {
    std::lock_guard<std::mutex> g(seen_.mu);
    before = seen_.ticks;
  }
  bench::Advance(300);
  {
    std::lock_guard<std::mutex> g(seen_.mu);
    EXPECT_EQ(seen_.ticks, before + 3);
  }
  EXPECT_EQ(bench::TapControl(gAbout, IDOK), GetDlgItem(gAbout, IDOK));
  bench::Settle();
  EXPECT_FALSE(IsWindow(gAbout));
  EXPECT_TRUE(bench::IsEnabled(gSettings));
  {
    std::lock_guard<std::mutex> g(seen_.mu);
    EXPECT_EQ(seen_.aboutResult, IDOK);
  }
  EXPECT_EQ(bench::TopLevelWindows().size(), 1u);
  EXPECT_TRUE(Commands().empty());
}

TEST(SimGdi, FontsCountUntilDeletedAndStockObjectsNever) {
  ASSERT_TRUE(bench::Reset());
  EXPECT_EQ(bench::LiveGdiObjects(), 0);
  LOGFONTW lf;
  memset(&lf, 0, sizeof lf);
  lf.lfHeight = 12;
  wcscpy(lf.lfFaceName, L"A face name far longer than thirty-two characters");
  HFONT f = CreateFontIndirectW(&lf);
  ASSERT_NE(f, nullptr);
  LOGFONTW back;
  EXPECT_EQ(GetObjectW(f, sizeof back, &back), (int)sizeof back);
  EXPECT_EQ(wcslen(back.lfFaceName), 31u);  // cut to fit, with its end
  EXPECT_EQ(GetObjectW(f, 4, &back), 4);
  EXPECT_EQ(bench::LiveGdiObjects(), 1);
  HGDIOBJ white = GetStockObject(WHITE_BRUSH);
  EXPECT_EQ(GetStockObject(WHITE_BRUSH), white);
  EXPECT_EQ(GetObjectW(white, sizeof back, &back), 0);  // a brush is not a font
  EXPECT_EQ(GetStockObject(99), nullptr);
  EXPECT_TRUE(DeleteObject(white));
  EXPECT_EQ(bench::LiveGdiObjects(), 1);
  EXPECT_TRUE(DeleteObject(f));
  EXPECT_FALSE(DeleteObject(f));
  EXPECT_EQ(GetObjectW(f, sizeof back, &back), 0);
  EXPECT_EQ(bench::LiveGdiObjects(), 0);
  CreateFontIndirectW(&lf);
  ASSERT_TRUE(bench::Reset());
  EXPECT_EQ(bench::LiveGdiObjects(), 0);
}

}  // namespace
