// The handheld as a person sees and touches it: the edit control typed into, a stylus
// dragging a trackbar, message boxes that wait for an answer, the change count a
// viewer waits on, and an icon's pixels.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_user.h"
#include "platform/sim/bench_view.h"

namespace {

enum { kNotes = 1, kLine = 2, kTrack = 3 };

struct Seen {
  std::mutex mu;
  int ticks = 0;
  int boxAnswer = 0;
  std::vector<std::pair<int, int>> commands;  // id, code
  std::vector<std::pair<int, int>> scrolls;   // code, pos
};
Seen* gSeen;
HWND gMain;

LRESULT CALLBACK NotesProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE: {
      HINSTANCE inst = GetModuleHandleW(nullptr);
      CreateWindowExW(0, L"Edit", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 4, 4, 200, 60, hwnd,
                      (HMENU)kNotes, inst, nullptr);
      CreateWindowExW(0, L"Edit", L"", WS_CHILD | WS_VISIBLE, 4, 70, 200, 20, hwnd, (HMENU)kLine, inst, nullptr);
      // 216 wide: a 200-pixel channel, two pixels a position.
      HWND track = CreateWindowExW(0, TRACKBAR_CLASSW, L"", WS_CHILD | WS_VISIBLE, 4, 100, 216, 30, hwnd,
                                   (HMENU)kTrack, inst, nullptr);
      SendMessageW(track, TBM_SETRANGE, TRUE, MAKELONG(0, 100));
      return 0;
    }
    case WM_COMMAND: {
      std::lock_guard<std::mutex> g(gSeen->mu);
      gSeen->commands.push_back({LOWORD(wp), HIWORD(wp)});
      return 0;
    }
    case WM_HSCROLL: {
      std::lock_guard<std::mutex> g(gSeen->mu);
      gSeen->scrolls.push_back({LOWORD(wp), HIWORD(wp)});
      return 0;
    }
    case WM_TIMER: {
      std::lock_guard<std::mutex> g(gSeen->mu);
      ++gSeen->ticks;
      return 0;
    }
    case WM_APP: {
      int r = MessageBoxW(hwnd, L"Discard the note?", L"Notes", MB_OKCANCEL);
      std::lock_guard<std::mutex> g(gSeen->mu);
      gSeen->boxAnswer = r;
      return 0;
    }
    case WM_DESTROY: PostQuitMessage(0); return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

DWORD WINAPI NotesMain(LPVOID) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = NotesProc;
  wc.lpszClassName = L"Notes";
  RegisterClassW(&wc);
  gMain = CreateWindowExW(0, L"Notes", L"Notes", WS_VISIBLE, 0, 26, 240, 200, nullptr, nullptr, nullptr, nullptr);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  return 0;
}

class SimView : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bench::Reset());
    gSeen = &seen_;
    gMain = nullptr;
    thread_ = CreateThread(nullptr, 0, NotesMain, nullptr, 0, nullptr);
    bench::Settle();
    ASSERT_NE(gMain, nullptr);
  }
  void TearDown() override {
    bench::HoldMessageBoxes(false);  // a box left open would keep the program from closing
    PostMessageW(gMain, WM_CLOSE, 0, 0);
    bench::Settle();
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    EXPECT_TRUE(bench::Reset());
  }
  bench::ChildView Child(int id) {
    for (const bench::ChildView& c : bench::ChildWindows(gMain))
      if (c.id == id) return c;
    return bench::ChildView{};
  }
  std::vector<std::pair<int, int>> Take(std::vector<std::pair<int, int>> Seen::*what) {
    std::lock_guard<std::mutex> g(seen_.mu);
    auto out = seen_.*what;
    (seen_.*what).clear();
    return out;
  }
  Seen seen_;
  HANDLE thread_ = nullptr;
};

using Pairs = std::vector<std::pair<int, int>>;

// A key step: a character typed (WM_CHAR through the keyboard driver), or a key pressed
// and released (Key(vk)), Shift held or let go.
constexpr int Key(int vk) { return -vk; }
constexpr int kShiftDown = -1000, kShiftUp = -1001;

void Press(int step) {
  if (step == kShiftDown || step == kShiftUp) {
    keybd_event(VK_SHIFT, 0, step == kShiftUp ? KEYEVENTF_KEYUP : 0, 0);
  } else if (step < 0) {
    keybd_event((BYTE)-step, 0, 0, 0);
    keybd_event((BYTE)-step, 0, KEYEVENTF_KEYUP, 0);
  } else {
    UINT shift = 0, ch = (UINT)step;
    PostKeybdMessage((HWND)(LONG_PTR)-1, 0, KEYEVENTF_KEYUP, 1, &shift, &ch);
  }
  bench::Settle();  // Shift is read when the key is handled
}

TEST_F(SimView, EditControlFollowsTheKeys) {
  struct Case {
    const char* what;
    int id;
    const wchar_t* text;
    int selFrom, selTo;  // EM_SETSEL before the keys
    std::vector<int> keys;
    const wchar_t* after;
    int caret, anchor;
    int changes;  // EN_CHANGE notifications
  };
  const Case cases[] = {
      {"typing", kNotes, L"", 0, 0, {'a', 'b', ' ', 'c'}, L"ab c", 4, 4, 4},
      {"backspace at the start", kNotes, L"ab", 0, 0, {'\b'}, L"ab", 0, 0, 0},
      {"backspace over a line break", kNotes, L"a\r\nb", 3, 3, {'\b'}, L"ab", 1, 1, 1},
      {"delete over a line break", kNotes, L"a\r\nb", 1, 1, {Key(VK_DELETE)}, L"ab", 1, 1, 1},
      {"delete at the end", kNotes, L"ab", 2, 2, {Key(VK_DELETE)}, L"ab", 2, 2, 0},
      {"enter breaks the line", kNotes, L"ab", 1, 1, {'\r'}, L"a\r\nb", 3, 3, 1},
      {"enter on a single line", kLine, L"ab", 1, 1, {'\r'}, L"ab", 1, 1, 0},
      {"control characters but tab", kNotes, L"ab", 2, 2, {0x01, '\n', 0x1B, '\t'}, L"ab\t", 3, 3, 1},
      {"left and right step over a break", kNotes, L"ab\r\ncd", 4, 4, {Key(VK_LEFT), Key(VK_LEFT)}, L"ab\r\ncd",
       1, 1, 0},
      {"right over a break", kNotes, L"ab\r\ncd", 2, 2, {Key(VK_RIGHT)}, L"ab\r\ncd", 4, 4, 0},
      {"home and end stay in the line", kNotes, L"ab\r\ncde\r\nf", 5, 5, {Key(VK_HOME)}, L"ab\r\ncde\r\nf", 4, 4, 0},
      {"end", kNotes, L"ab\r\ncde\r\nf", 5, 5, {Key(VK_END)}, L"ab\r\ncde\r\nf", 7, 7, 0},
      {"down keeps the column", kNotes, L"abc\r\ndefg", 2, 2, {Key(VK_DOWN)}, L"abc\r\ndefg", 7, 7, 0},
      {"down to a shorter line", kNotes, L"abc\r\nd", 2, 2, {Key(VK_DOWN)}, L"abc\r\nd", 6, 6, 0},
      {"up keeps the column", kNotes, L"abc\r\nde", 7, 7, {Key(VK_UP)}, L"abc\r\nde", 2, 2, 0},
      {"up on the first line", kNotes, L"abc", 2, 2, {Key(VK_UP)}, L"abc", 2, 2, 0},
      {"down on a single line", kLine, L"abc", 1, 1, {Key(VK_DOWN)}, L"abc", 1, 1, 0},
      {"a selection is replaced", kNotes, L"hello", 1, 4, {'a'}, L"hao", 2, 2, 1},
      {"a selection is deleted", kNotes, L"hello", 1, 4, {Key(VK_DELETE)}, L"ho", 1, 1, 1},
      {"left collapses a selection", kNotes, L"hello", 1, 4, {Key(VK_LEFT)}, L"hello", 1, 1, 0},
      {"shift extends", kNotes, L"abc", 3, 3, {kShiftDown, Key(VK_LEFT), Key(VK_LEFT), kShiftUp}, L"abc", 1, 3, 0},
      {"shift then type", kNotes, L"abc", 3, 3, {kShiftDown, Key(VK_LEFT), kShiftUp, 'x'}, L"abx", 3, 3, 1},
      // Beyond 16 bits: two UTF-16 units, one step of the caret.
      {"a character beyond 16 bits", kNotes, L"a", 1, 1, {0x1F600, Key(VK_LEFT)}, L"a\U0001F600", 1, 1, 1},
      {"backspace over a pair", kNotes, L"a\U0001F600", 3, 3, {'\b'}, L"a", 1, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bench::ChildView edit = Child(c.id);
    ASSERT_EQ(edit.cls, "Edit");
    // A tap gives the edit the focus, so the keys reach it.
    ASSERT_EQ(bench::Tap((edit.rect.left + edit.rect.right) / 2, (edit.rect.top + edit.rect.bottom) / 2),
              edit.hwnd);
    bench::Settle();
    ASSERT_TRUE(Child(c.id).focused);
    EXPECT_TRUE(SendMessageW(edit.hwnd, WM_SETTEXT, 0, (LPARAM)c.text));
    SendMessageW(edit.hwnd, EM_SETSEL, (WPARAM)c.selFrom, (LPARAM)c.selTo);
    Take(&Seen::commands);
    for (int k : c.keys) Press(k);
    WCHAR buf[64] = {};
    EXPECT_EQ(GetWindowTextW(edit.hwnd, buf, 64), (int)wcslen(c.after));
    EXPECT_EQ(std::wstring(buf), std::wstring(c.after));
    EXPECT_EQ(SendMessageW(edit.hwnd, WM_GETTEXTLENGTH, 0, 0), (LRESULT)wcslen(c.after));
    DWORD start = 99, end = 99;
    SendMessageW(edit.hwnd, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    EXPECT_EQ((int)start, std::min(c.caret, c.anchor));
    EXPECT_EQ((int)end, std::max(c.caret, c.anchor));
    bench::ChildView now = Child(c.id);
    EXPECT_EQ(now.caret, c.caret);
    EXPECT_EQ(now.selEnd, c.anchor);
    EXPECT_EQ(Take(&Seen::commands), Pairs(c.changes, std::make_pair(c.id, (int)EN_CHANGE)));
  }
}

TEST_F(SimView, SetTextAndReplaceSelection) {
  HWND notes = Child(kNotes).hwnd, line = Child(kLine).hwnd;
  Take(&Seen::commands);
  // A multi-line edit keeps quiet about WM_SETTEXT; a single line reports it.
  SendMessageW(notes, WM_SETTEXT, 0, (LPARAM)L"one two");
  SendMessageW(line, WM_SETTEXT, 0, (LPARAM)L"x");
  bench::Settle();
  EXPECT_EQ(Take(&Seen::commands), (Pairs{{kLine, EN_CHANGE}}));
  EXPECT_EQ(Child(kNotes).text, "one two");
  EXPECT_EQ(Child(kNotes).caret, 0);  // set text puts the caret at the start
  SendMessageW(notes, EM_SETSEL, 4, -1);  // -1: to the end
  SendMessageW(notes, EM_REPLACESEL, FALSE, (LPARAM)L"2\u00e9");
  EXPECT_EQ(Child(kNotes).text, "one 2\xc3\xa9");
  EXPECT_EQ(SendMessageW(notes, EM_GETSEL, 0, 0), MAKELONG(6, 6));
  SendMessageW(notes, EM_SETSEL, 1, 500);  // past the end: the end
  EXPECT_EQ(SendMessageW(notes, EM_GETSEL, 0, 0), MAKELONG(1, 6));
  SendMessageW(notes, EM_SETSEL, (WPARAM)-1, 0);  // -1: no selection, caret stays
  EXPECT_EQ(SendMessageW(notes, EM_GETSEL, 0, 0), MAKELONG(6, 6));
  bench::Settle();
  EXPECT_EQ(Take(&Seen::commands), (Pairs{{kNotes, EN_CHANGE}}));
}

TEST_F(SimView, StylusDragsTheTrackbarThumbThroughEveryMove) {
  bench::ChildView track = Child(kTrack);
  ASSERT_EQ(track.pos, 0);
  int y = (track.rect.top + track.rect.bottom) / 2;
  ASSERT_EQ(track.thumbX, track.rect.left + 8);
  EXPECT_EQ(bench::StylusDown(track.thumbX, y), track.hwnd);
  struct Move {
    int x, y, pos;
  };
  // Two pixels a position; off the control, even off the screen, the move still goes to it.
  const Move moves[] = {{track.thumbX + 20, y, 10}, {track.thumbX + 60, y + 40, 30}, {track.thumbX + 9, y, 5},
                        {239, 319, 100}, {-30, y, 0}, {track.thumbX + 100, y - 70, 50}};
  Pairs expect;
  for (const Move& m : moves) {
    SCOPED_TRACE(m.pos);
    bench::StylusMove(m.x, m.y);
    bench::Settle();
    EXPECT_EQ(Child(kTrack).pos, m.pos);
    EXPECT_EQ(Child(kTrack).thumbX, track.rect.left + 8 + 2 * m.pos);
    expect.push_back({TB_THUMBTRACK, m.pos});
  }
  bench::StylusUp(0, 0);  // lifted far away: the thumb stays where it was dragged
  bench::Settle();
  expect.push_back({TB_THUMBPOSITION, 50});
  expect.push_back({TB_ENDTRACK, 0});
  EXPECT_EQ(Take(&Seen::scrolls), expect);
  EXPECT_EQ(SendMessageW(track.hwnd, TBM_GETPOS, 0, 0), 50);
  EXPECT_TRUE(Child(kTrack).focused);

  // After the lift, and after a press on nothing, moves go nowhere.
  bench::StylusMove(track.thumbX, y);
  EXPECT_EQ(bench::StylusDown(120, 300), nullptr);  // below the window: nothing there
  bench::StylusMove(track.thumbX, y);
  bench::StylusUp(track.thumbX, y);
  bench::Settle();
  EXPECT_EQ(Child(kTrack).pos, 50);
  EXPECT_EQ(Take(&Seen::scrolls), Pairs{});
}

TEST_F(SimView, ASecondPressLiftsTheFirst) {
  bench::ChildView track = Child(kTrack);
  int y = (track.rect.top + track.rect.bottom) / 2;
  EXPECT_EQ(bench::StylusDown(track.thumbX, y), track.hwnd);
  bench::StylusMove(track.thumbX + 40, y);
  bench::ChildView notes = Child(kNotes);
  EXPECT_EQ(bench::StylusDown(notes.rect.left + 5, notes.rect.top + 5), notes.hwnd);
  bench::StylusMove(track.thumbX + 100, y);  // now the edit's: the trackbar stays
  bench::StylusUp(track.thumbX + 100, y);
  bench::Settle();
  EXPECT_EQ(Child(kTrack).pos, 20);
  EXPECT_EQ(Take(&Seen::scrolls), (Pairs{{TB_THUMBTRACK, 20}, {TB_THUMBPOSITION, 20}, {TB_ENDTRACK, 0}}));
  EXPECT_TRUE(Child(kNotes).focused);
}

TEST_F(SimView, ScreenChangesCountAndWakeTheWaiter) {
  HWND other = CreateWindowExW(0, L"Notes", L"Other", 0, 0, 26, 100, 100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(other, nullptr);
  bench::Settle();
  uint64_t before = bench::ScreenChanges();
  EXPECT_EQ(bench::WaitScreenChange(before, 0), before);  // nothing new, no time to wait
  ShowWindow(other, SW_SHOW);
  uint64_t shown = bench::ScreenChanges();
  EXPECT_GT(shown, before);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(bench::WaitScreenChange(before, 60000), shown);  // differs already: back at once
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));

  // A viewer's thread waiting on the count wakes for a change made elsewhere.
  uint64_t woke = 0;
  std::thread viewer([&] { woke = bench::WaitScreenChange(shown, 60000); });
  HWND notes = Child(kNotes).hwnd;
  SendMessageW(notes, EM_SETSEL, 0, 0);  // no change: nothing to count
  EXPECT_EQ(bench::ScreenChanges(), shown);
  SendMessageW(notes, WM_SETTEXT, 0, (LPARAM)L"x");
  viewer.join();
  EXPECT_GT(woke, shown);
  DestroyWindow(other);
}

TEST_F(SimView, WhileItsBoxIsOpenTheProgramsTimersRunAndItsWindowTakesNoTaps) {
  bench::HoldMessageBoxes(true);
  SetTimer(gMain, 7, 100, nullptr);
  PostMessageW(gMain, WM_APP, 0, 0);
  bench::Settle();
  std::vector<bench::OpenBox> open = bench::OpenMessageBoxes();
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0].owner, gMain);
  EXPECT_EQ(open[0].buttons, (std::vector<int>{IDOK, IDCANCEL}));
  EXPECT_FALSE(bench::IsEnabled(gMain));
  bench::ChildView notes = Child(kNotes);
  EXPECT_EQ(bench::Tap(notes.rect.left + 5, notes.rect.top + 5), nullptr);
  bench::Advance(250);
  {
    std::lock_guard<std::mutex> g(seen_.mu);
    EXPECT_EQ(seen_.ticks, 2);
    EXPECT_EQ(seen_.boxAnswer, 0);
  }
  EXPECT_TRUE(bench::AnswerOpenMessageBox(open[0].id, IDCANCEL));
  bench::Settle();
  std::lock_guard<std::mutex> g(seen_.mu);
  EXPECT_EQ(seen_.boxAnswer, IDCANCEL);
  EXPECT_TRUE(bench::IsEnabled(gMain));
  KillTimer(gMain, 7);
}

DWORD WINAPI AskSave(LPVOID) {
  return (DWORD)MessageBoxW(nullptr, L"Save changes?", L"Notes", MB_YESNOCANCEL | MB_DEFBUTTON2);
}

TEST(SimMessageBoxes, AHeldBoxWaitsForItsAnswer) {
  ASSERT_TRUE(bench::Reset());
  bench::HoldMessageBoxes(true);
  HANDLE asker = CreateThread(nullptr, 0, AskSave, nullptr, 0, nullptr);
  bench::Settle();  // the asker waits on the box, and counts as idle
  std::vector<bench::OpenBox> open = bench::OpenMessageBoxes();
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0].text, "Save changes?");
  EXPECT_EQ(open[0].caption, "Notes");
  EXPECT_EQ(open[0].buttons, (std::vector<int>{IDYES, IDNO, IDCANCEL}));
  EXPECT_EQ(open[0].defaultButton, IDNO);
  EXPECT_EQ(WaitForSingleObject(asker, 0), (DWORD)WAIT_TIMEOUT);
  EXPECT_EQ(bench::Trace({"MessageBox"}), (std::vector<std::string>{"MessageBox(Save changes?, Notes, 0x103)"}));

  EXPECT_FALSE(bench::AnswerOpenMessageBox(open[0].id, IDOK));  // not one of its buttons
  EXPECT_FALSE(bench::AnswerOpenMessageBox(open[0].id + 1, IDYES));  // no such box
  bench::Settle();
  EXPECT_EQ(bench::OpenMessageBoxes().size(), 1u);
  bool answered = false;
  std::thread person([&] { answered = bench::AnswerOpenMessageBox(open[0].id, IDCANCEL); });
  person.join();
  EXPECT_TRUE(answered);
  EXPECT_EQ(WaitForSingleObject(asker, INFINITE), (DWORD)WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(asker, &code);
  EXPECT_EQ(code, (DWORD)IDCANCEL);
  CloseHandle(asker);
  EXPECT_TRUE(bench::OpenMessageBoxes().empty());
  ASSERT_EQ(bench::MessageBoxes().size(), 1u);
  EXPECT_EQ(bench::MessageBoxes()[0].answer, IDCANCEL);
  EXPECT_FALSE(bench::AnswerOpenMessageBox(open[0].id, IDCANCEL));  // answered already

  // Queued answers still come first; letting go answers what is open with its default.
  bench::AnswerNextMessageBox(IDYES);
  EXPECT_EQ(MessageBoxW(nullptr, L"Quit?", L"Notes", MB_YESNO), IDYES);
  asker = CreateThread(nullptr, 0, AskSave, nullptr, 0, nullptr);
  bench::Settle();
  EXPECT_EQ(bench::OpenMessageBoxes().size(), 1u);
  bench::HoldMessageBoxes(false);
  WaitForSingleObject(asker, INFINITE);
  GetExitCodeThread(asker, &code);
  EXPECT_EQ(code, (DWORD)IDNO);
  CloseHandle(asker);
  EXPECT_TRUE(bench::Reset());
}

TEST(SimMessageBoxes, ResetAnswersAnOpenBox) {
  ASSERT_TRUE(bench::Reset());
  bench::HoldMessageBoxes(true);
  int got = -1;
  uint64_t seen = bench::ScreenChanges();
  std::thread asker([&] { got = MessageBoxW(nullptr, L"Retry?", L"Notes", MB_RETRYCANCEL | MB_DEFBUTTON2); });
  auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (bench::OpenMessageBoxes().empty() && std::chrono::steady_clock::now() < give_up)
    seen = bench::WaitScreenChange(seen, 1000);
  ASSERT_EQ(bench::OpenMessageBoxes().size(), 1u);
  EXPECT_TRUE(bench::Reset());
  asker.join();
  EXPECT_EQ(got, IDCANCEL);
  EXPECT_TRUE(bench::OpenMessageBoxes().empty());
  EXPECT_EQ(MessageBoxW(nullptr, L"Again?", L"Notes", MB_OKCANCEL), IDOK);  // no longer held
}

TEST(SimIcons, IconPixelsFollowTheMask) {
  ASSERT_TRUE(bench::Reset());
  HINSTANCE self = GetModuleHandleW(nullptr);
  HICON big = LoadIconW(self, MAKEINTRESOURCEW(108));
  bench::Pixels p = bench::IconPixels(big);
  ASSERT_EQ(p.width, 32);
  ASSERT_EQ(p.height, 32);
  struct Spot {
    int x, y;
    uint32_t argb;
  };
  // The handheld's outline: transparent corners, a blue body, a white screen.
  const Spot spots[] = {{0, 0, 0x00000000}, {31, 0, 0x00000000}, {8, 0, 0xFF202020}, {8, 5, 0xFF3366CC},
                        {16, 5, 0xFFCCFFFF}, {0, 28, 0xFF202020}, {0, 31, 0x00000000}, {16, 16, 0xFF3366CC}};
  for (const Spot& s : spots) {
    SCOPED_TRACE(std::to_string(s.x) + "," + std::to_string(s.y));
    EXPECT_EQ(p.At(s.x, s.y), s.argb);
  }
  int clear = 0;
  for (int x = 0; x < 32; ++x) clear += (p.At(x, 0) >> 24) == 0;
  EXPECT_EQ(clear, 19);
  HICON smallIcon = (HICON)LoadImageW(self, MAKEINTRESOURCEW(108), IMAGE_ICON, 16, 16, 0);
  bench::Pixels small = bench::IconPixels(smallIcon);
  EXPECT_EQ(small.width, 16);
  EXPECT_EQ(small.At(0, 0) >> 24, 0u);
  EXPECT_EQ(small.At(8, 8) >> 24, 0xFFu);
  DestroyIcon(smallIcon);
  EXPECT_EQ(bench::IconPixels(nullptr).width, 0);
  EXPECT_EQ(bench::IconPixels((HICON)(uintptr_t)0x1234).rgb.size(), 0u);
}

TEST(SimIcons, TrayIconsInTheOrderAdded) {
  ASSERT_TRUE(bench::Reset());
  HWND w = CreateWindowExW(0, L"Static", L"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  HINSTANCE self = GetModuleHandleW(nullptr);
  const struct {
    UINT id;
    int icon;
    const wchar_t* tip;
  } adds[] = {{9, 111, L"Running"}, {2, 112, L"Stopped \u00e9"}};
  for (const auto& a : adds) {
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof nid;
    nid.hWnd = w;
    nid.uID = a.id;
    nid.uFlags = NIF_ICON | NIF_TIP;
    nid.hIcon = LoadIconW(self, MAKEINTRESOURCEW(a.icon));
    wcscpy(nid.szTip, a.tip);
    ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &nid));
  }
  std::vector<bench::TrayEntry> tray = bench::TrayIcons();
  ASSERT_EQ(tray.size(), 2u);
  EXPECT_EQ(tray[0].id, 9u);
  EXPECT_EQ(tray[0].iconId, 111);
  EXPECT_EQ(tray[0].tip, "Running");
  EXPECT_EQ(tray[1].id, 2u);
  EXPECT_EQ(tray[1].iconId, 112);
  EXPECT_EQ(tray[1].tip, "Stopped \xc3\xa9");
  EXPECT_EQ(tray[1].hwnd, w);
  DestroyWindow(w);
  EXPECT_TRUE(bench::Reset());
}

}  // namespace
