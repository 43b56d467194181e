// The special-character picker in the running program: Fn+Tab opens it over the window
// the user types into, a key or a tap picks, and the pick lands in that window.
#include <mutex>
#include <string>

#include "platform/sim/bench.h"
#include "platform/sim/bench_comm.h"
#include "platform/sim/bench_gdi.h"
#include "platform/sim/bench_modules.h"
#include "platform/sim/bench_ui.h"
#include "platform/sim/bench_user.h"
#include "program_fixture.h"
#include "shell/layouts.h"
#include "shell/picker.h"
#include "shell/resids.h"
#include "shell/state.h"

namespace programtest {
namespace {

// Key bytes of the folding keyboard.
enum : unsigned char {
  kFn = 0x77, kShift = 0x74, kTab = 0x2B, kA = 0x04, kE = 0x08, kQ = 0x14, kZ = 0x1D, kOne = 0x1E,
  kEnter = 0x28, kBackspace = 0x2A, kX = 0x1B, kV = 0x19,
};
unsigned char Up(unsigned char scan) { return static_cast<unsigned char>(scan | 0x80); }

// A notes program on a thread of its own: a window that keeps the characters it gets.
std::mutex notesMu;
std::u16string notesText;
HWND notesWindow = nullptr;

LRESULT CALLBACK NotesProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CHAR) {
    std::lock_guard<std::mutex> g(notesMu);
    notesText += static_cast<char16_t>(wp);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

DWORD WINAPI NotesThread(LPVOID) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = NotesProc;
  wc.lpszClassName = L"Notes";
  RegisterClassW(&wc);
  notesWindow = CreateWindowExW(0, L"Notes", L"Notes", WS_VISIBLE, 0, 26, 240, 268, nullptr, nullptr, nullptr,
                                nullptr);
  SetForegroundWindow(notesWindow);
  SetFocus(notesWindow);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  return 0;
}

class Picker : public ProgramTest {
 protected:
  // The program with the given library, and the notes program in front of it.
  void StartWith(const char* library) {
    if (library) bench::PlaceLibrary("brindleres.dll", library);
    Launch();
    ASSERT_TRUE(Running());
    {
      std::lock_guard<std::mutex> g(notesMu);
      notesText.clear();
    }
    notes_ = CreateThread(nullptr, 0, NotesThread, nullptr, 0, nullptr);
    bench::Settle();
    ASSERT_EQ(GetForegroundWindow(), notesWindow);
  }
  void TearDown() override {
    if (HWND picker = PickerWindow()) {
      PostMessageW(picker, WM_CLOSE, 0, 0);
      bench::Settle();
    }
    if (notes_) {
      PostMessageW(notesWindow, WM_QUIT, 0, 0);
      bench::Settle();
      ExitCodeOf(notes_);
      notes_ = nullptr;
    }
    ProgramTest::TearDown();
  }
  void Keys(std::vector<unsigned char> bytes) {
    bench::SendKeyBytes(bytes);
    bench::Settle();
  }
  void OpenIt() {
    Keys({kFn, kTab, Up(kTab), Up(kFn)});
  }
  HWND PickerWindow() {
    WCHAR cls[RES_STRING_MAX] = {0}, title[RES_STRING_MAX] = {0};
    LoadStringW(hResDll, IDS_PICKER_CLASS, cls, RES_STRING_MAX);
    LoadStringW(hResDll, IDS_PICKER_TITLE, title, RES_STRING_MAX);
    return FindWindowW(cls, title);
  }
  // The pixels of bitmap `id` of the program's library, as GDI draws them.
  std::vector<uint32_t> Picture(WORD id) {
    std::vector<uint32_t> out;
    HDC screen = GetDC(notesWindow);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP picture = LoadBitmapW(hResDll, MAKEINTRESOURCEW(id));
    HGDIOBJ old = SelectObject(memory, picture);
    for (int y = 0; y < PICKER_HEIGHT; ++y)
      for (int x = 0; x < PICKER_WIDTH; ++x) {
        COLORREF c = GetPixel(memory, x, y);
        out.push_back((GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c));
      }
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(picture);
    ReleaseDC(notesWindow, screen);
    return out;
  }
  // Which picture the open picker shows: 148, 149, or 0 for neither.
  int Shown() {
    bench::Pixels shown = bench::WindowPixels(PickerWindow());
    if (shown.rgb == Picture(IDB_PICKER)) return IDB_PICKER;
    if (shown.rgb == Picture(IDB_PICKER_SHIFTED)) return IDB_PICKER_SHIFTED;
    return 0;
  }
  std::u16string Typed() {
    std::lock_guard<std::mutex> g(notesMu);
    return notesText;
  }

  HANDLE notes_ = nullptr;
};

TEST_F(Picker, FnTabOpensItOverTheLowerScreenInTheForeground) {
  StartWith(nullptr);
  OpenIt();
  HWND picker = PickerWindow();
  ASSERT_NE(picker, nullptr);
  EXPECT_EQ(GetForegroundWindow(), picker);
  RECT r;
  GetWindowRect(picker, &r);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 180);
  EXPECT_EQ(r.right, 240);
  EXPECT_EQ(r.bottom, 294);
  EXPECT_EQ(PickerOpen, 1u);
  EXPECT_TRUE(Typed().empty()) << "Tab's release went to the picker, not the notes";
  EXPECT_EQ(Shown(), IDB_PICKER);
  EXPECT_NE(Picture(IDB_PICKER), Picture(IDB_PICKER_SHIFTED));
}

// Shift changes the picture at once, while the picker stays open; Caps Lock turns it round.
TEST_F(Picker, ExitingWithItOpenEndsItsThreadAndTypesNothing) {
  StartWith(nullptr);
  OpenIt();
  ASSERT_NE(PickerWindow(), nullptr);
  ExitWithAnswer(IDYES);
  EXPECT_EQ(WaitForExit(), 0u);
  bench::Settle();
  EXPECT_EQ(PickerWindow(), nullptr);
  EXPECT_EQ(bench::LiveThreads(), 1);  // notes: the program's threads, the picker's among them, are gone
  EXPECT_EQ(PickerOpen, 0u);
  EXPECT_TRUE(Typed().empty());
}

TEST_F(Picker, ShiftSwapsThePictureAtOnce) {
  StartWith(nullptr);
  OpenIt();
  Keys({kShift});
  EXPECT_EQ(Shown(), IDB_PICKER_SHIFTED);
  Keys({Up(kShift)});
  EXPECT_EQ(Shown(), IDB_PICKER);
  ASSERT_NE(PickerWindow(), nullptr);
  PostMessageW(PickerWindow(), WM_CLOSE, 0, 0);
  bench::Settle();
  bench::PressCapsLock();
  bench::Settle();
  OpenIt();
  EXPECT_EQ(Shown(), IDB_PICKER_SHIFTED);
  Keys({kShift});
  EXPECT_EQ(Shown(), IDB_PICKER);
  Keys({Up(kShift)});
  EXPECT_EQ(Shown(), IDB_PICKER_SHIFTED);
}

// Each drawing holds its own bitmap and contexts and gives them back.
TEST_F(Picker, NothingOfGdiOutlivesAThousandOpeningsAndShiftChanges) {
  StartWith(nullptr);
  int objects = bench::LiveGdiObjects();
  for (int i = 0; i < 1000; ++i) {
    OpenIt();
    Keys({kShift, Up(kShift)});
    Keys({kOne, Up(kOne)});  // closes without a pick
  }
  EXPECT_EQ(PickerWindow(), nullptr);
  EXPECT_EQ(bench::LiveGdiObjects(), objects);
  EXPECT_EQ(bench::OpenWindowDCs(), 0);
  EXPECT_TRUE(Typed().empty());
}

// What a key in the open picker does, with the library's layout.
struct PickRow {
  const char* name;
  const char* library;
  std::vector<unsigned char> keys;  // after Fn+Tab
  std::u16string typed;             // into the notes
  int pending;                      // accent left pending
  bool stillOpen;
};

TEST_F(Picker, KeysPickTheirCellsOrClose) {
  const PickRow rows[] = {
      {"French E with Shift held", "brindleres_fra_lower.dll", {kShift, kE, Up(kE), Up(kShift)}, u"\u00C9", 0, false},
      {"French E", "brindleres_fra_lower.dll", {kE, Up(kE)}, u"\u00E9", 0, false},
      {"French Z leaves grave pending", "brindleres_fra_lower.dll", {kZ, Up(kZ)}, u"", 1, false},
      {"default Q types the grave accent", nullptr, {kQ, Up(kQ)}, u"`", 0, false},
      {"Shift alone keeps it open", nullptr, {kShift, Up(kShift)}, u"", 0, true},
      {"a digit closes it without typing", nullptr, {kOne, Up(kOne)}, u"", 0, false},
      {"Backspace picks the empty cell", nullptr, {kBackspace, Up(kBackspace)}, u"", 0, false},
      {"Enter picks the empty cell", nullptr, {kEnter, Up(kEnter)}, u"", 0, false},
      {"German X leaves acute pending", "brindleres_ger.dll", {kX, Up(kX)}, u"", 2, false},
      {"Italian V types the circumflex itself", "brindleres_ita.dll", {kV, Up(kV)}, u"^", 0, false},
  };
  for (const PickRow& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(bench::Reset());
    ResetProgramState();
    StartWith(row.library);
    OpenIt();
    ASSERT_NE(PickerWindow(), nullptr);
    for (unsigned char key : row.keys) Keys({key});  // as a hand types: each key seen before the next
    EXPECT_EQ(PickerWindow() != nullptr, row.stillOpen);
    EXPECT_EQ(PickerOpen, row.stillOpen ? 1u : 0u);
    if (!row.stillOpen) {
      EXPECT_EQ(GetForegroundWindow(), notesWindow) << "the foreground goes back";
    }
    EXPECT_EQ(PendingAccent, row.pending);
    EXPECT_EQ(Typed(), row.typed);
    TearDown();
  }
}

TEST_F(Picker, APickedAccentComposesWithTheNextLetter) {
  StartWith("brindleres_fra_lower.dll");
  OpenIt();
  Keys({kZ, Up(kZ)});  // grave
  ASSERT_EQ(PendingAccent, 1);
  Keys({kA, Up(kA)});
  EXPECT_EQ(Typed(), u"\u00E0");
  EXPECT_EQ(PendingAccent, 0);
}

// The Fn press that opens the picker uses up an accent pending before; one left pending
// while the picker is open stays when the pick is an empty cell.
TEST_F(Picker, AnEmptyPickLeavesAPendingAccent) {
  StartWith("brindleres_fra_lower.dll");
  // Taps, since a key press would pass the translator, which uses the accent up.
  for (int cell : {19, 29}) {  // Backspace, Enter
    OpenIt();
    PendingAccent = 3;
    RECT r = PickerCellRect(cell);
    ASSERT_NE(bench::Tap(PICKER_X + r.left, PICKER_Y + r.top), nullptr);
    bench::Settle();
    EXPECT_EQ(PickerWindow(), nullptr);
    EXPECT_EQ(PendingAccent, 3);
    EXPECT_TRUE(Typed().empty());
    PendingAccent = 0;
  }
}

TEST_F(Picker, CapsLockPicksTheShiftedColumn) {
  StartWith("brindleres_fra_lower.dll");
  bench::PressCapsLock();
  bench::Settle();
  ASSERT_EQ(CapsLockOn, 1u);
  OpenIt();
  Keys({kE, Up(kE)});
  EXPECT_EQ(Typed(), u"\u00C9");
}

// Taps on the picture: a cell's corner picks it; the gaps between cells close it.
TEST_F(Picker, TapsPickCellsAndGapsClose) {
  const struct {
    int x, y;
    std::u16string typed;
  } taps[] = {{4, 2, u"`"}, {120, 10, u""}, {10, 30, u""}, {26, 22, u""}, {25, 21, u"`"}, {214, 78, u""},
              {14, 50, u"\u00E1"}};
  for (const auto& t : taps) {
    SCOPED_TRACE(std::to_string(t.x) + "," + std::to_string(t.y));
    ASSERT_TRUE(bench::Reset());
    ResetProgramState();
    StartWith(nullptr);
    OpenIt();
    ASSERT_NE(bench::Tap(PICKER_X + t.x, PICKER_Y + t.y), nullptr);
    bench::Settle();
    EXPECT_EQ(PickerWindow(), nullptr);
    EXPECT_EQ(Typed(), t.typed);
    TearDown();
  }
}

TEST_F(Picker, TappingAnotherWindowClosesItWithoutAPick) {
  StartWith(nullptr);
  OpenIt();
  ASSERT_NE(bench::Tap(120, 100), nullptr);  // the notes, above the picker
  bench::Settle();
  EXPECT_EQ(PickerWindow(), nullptr);
  EXPECT_EQ(PickerOpen, 0u);
  EXPECT_TRUE(Typed().empty());
}

// A second Fn+Tab asks the picker to close; it goes at its next message (the Tab
// release the translator injects), which it drops, and nothing is picked.
TEST_F(Picker, FnTabAgainClosesAtTheNextMessage) {
  StartWith(nullptr);
  OpenIt();
  HWND picker = PickerWindow();
  Keys({kFn, kTab});
  EXPECT_EQ(PickerStop, 1u);
  EXPECT_EQ(PickerOpen, 0u);
  EXPECT_TRUE(IsWindow(picker)) << "visible until its next message";
  Keys({Up(kTab), Up(kFn)});
  EXPECT_FALSE(IsWindow(picker));
  EXPECT_TRUE(Typed().empty());
  EXPECT_EQ(GetForegroundWindow(), notesWindow);
}

// Fn+Tab three times at once: open, close, open. The first picker is still closing
// when the second opens; it closes without a pick and leaves the second alone, and the
// pick in the second is typed once into the notes.
TEST_F(Picker, OpeningsInQuickSuccessionLeaveTheLatestOpenAndTypeThePickOnce) {
  StartWith(nullptr);
  Keys({kFn, kTab, Up(kTab), kTab, Up(kTab), kTab, Up(kTab), Up(kFn)});
  HWND picker = PickerWindow();
  ASSERT_NE(picker, nullptr);
  EXPECT_EQ(GetForegroundWindow(), picker);
  EXPECT_EQ(PickerOpen, 1u);
  Keys({kE, Up(kE)});
  EXPECT_EQ(PickerWindow(), nullptr);
  EXPECT_EQ(PickerOpen, 0u);
  EXPECT_EQ(GetForegroundWindow(), notesWindow);
  EXPECT_EQ(Typed(), u"\u00E9");
  EXPECT_EQ(bench::LiveThreads(), 3) << "the program's reader and the notes; no picker thread is left";
}

TEST_F(Picker, ALibraryWithoutThePickerClassOpensNothingAndLeavesNoThread) {
  StartWith("brindleres_nopicker.dll");
  int threads = bench::LiveThreads();
  OpenIt();
  EXPECT_EQ(PickerWindow(), nullptr);
  EXPECT_EQ(bench::LiveThreads(), threads);
  EXPECT_EQ(PickerOpen, 0u);
  Keys({kA, Up(kA)});
  EXPECT_EQ(Typed(), u"a") << "typing goes on as before";
}

}  // namespace
}  // namespace programtest
