// The special-character picker in the running program: Fn+Tab opens it over the window
// the user types into, a key or a tap picks, and the pick lands in that window.
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "engine/keytables.h"
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

// The picker's thread held inside its window procedure: once, at the chosen message,
// before the picker's own procedure sees it, until the test lets it go. The hook is put in
// front of a picker window that is up; every picker window has the same procedure.
std::atomic<WNDPROC> pickerProc{nullptr};
std::atomic<UINT> holdAt{0};
std::atomic<bool> held{false};
std::atomic<HANDLE> holdRelease{nullptr};
std::mutex paintedMu;
std::vector<uint32_t> painted;  // what the held window showed after the paint it held up

LRESULT CALLBACK PickerHook(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  UINT at = msg;
  if (msg != 0 && holdAt.compare_exchange_strong(at, 0)) {
    held = true;
    WaitForSingleObject(holdRelease.load(), INFINITE);
    held = false;
    LRESULT r = CallWindowProcW(pickerProc.load(), hwnd, msg, wp, lp);
    if (msg == WM_PAINT) {
      std::lock_guard<std::mutex> g(paintedMu);
      painted = bench::WindowPixels(hwnd).rgb;
    }
    return r;
  }
  return CallWindowProcW(pickerProc.load(), hwnd, msg, wp, lp);
}

// A handheld whose fetch filtered to a window that is gone waits for a message for that
// window, which never comes, where the simulated one fails at once (as Wine does): the
// platform leaves this open. The linker puts this in front of the simulated GetMessageW
// in this test program (CMakeLists.txt); unless switched on it only passes the call on.
std::atomic<bool> fetchWaitsForGoneWindow{false};
std::atomic<HANDLE> goneWindowRelease{nullptr};
std::atomic<long> fetches{0};

}  // namespace
}  // namespace programtest

extern "C" BOOL __real__Z11GetMessageWP6tagMSGP6HWND__jj(LPMSG msg, HWND hwnd, UINT lo, UINT hi);
extern "C" BOOL __wrap__Z11GetMessageWP6tagMSGP6HWND__jj(LPMSG msg, HWND hwnd, UINT lo, UINT hi) {
  ++programtest::fetches;
  BOOL r = __real__Z11GetMessageWP6tagMSGP6HWND__jj(msg, hwnd, lo, hi);
  if (r == -1 && hwnd != nullptr && programtest::fetchWaitsForGoneWindow)
    WaitForSingleObject(programtest::goneWindowRelease.load(), INFINITE);
  return r;
}

namespace programtest {
namespace {

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
    // A test that failed with the picker's thread held must not hang the exit.
    holdAt = 0;
    if (holdRelease.load()) SetEvent(holdRelease.load());
    fetchWaitsForGoneWindow = false;
    if (goneWindowRelease.load()) SetEvent(goneWindowRelease.load());
    bench::Settle();
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
    holdRelease = nullptr;  // gone with the handheld
    goneWindowRelease = nullptr;
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
  // The picker window that is up now will hold its thread at its next `msg`.
  void HoldPickerAt(UINT msg) {
    HWND picker = PickerWindow();
    ASSERT_NE(picker, nullptr);
    holdRelease = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    WNDPROC own = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(picker, GWLP_WNDPROC));
    if (own != PickerHook) pickerProc = own;
    SetWindowLongPtrW(picker, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PickerHook));
    holdAt = msg;
  }
  void LetThePickerGo() {
    SetEvent(holdRelease.load());
    bench::Settle();
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
  EXPECT_NE(PickerOpen, 0u);
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
    EXPECT_EQ(PickerOpen != 0, row.stillOpen);
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
  EXPECT_NE(PickerOpen, 0u);
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

// ---- overlapping pickers, their threads held where the bench can hold them -----------

// A pick whose picker is still going down when Fn+Tab twice (the translator, which still
// takes it for open, makes that a close and an open) starts another picker. The pick is
// typed once, into the window the user was in, and not lost to the newer picker.
TEST_F(Picker, APickStillGoingDownWhenAnotherOpensIsTypedOnce) {
  StartWith(nullptr);
  OpenIt();
  HoldPickerAt(WM_DESTROY);
  Keys({kE});  // é picked; its window's end is held
  ASSERT_TRUE(held);
  Keys({Up(kE), kFn, kTab, Up(kTab), kTab});
  ASSERT_NE(PickerWindow(), nullptr) << "a newer picker is up";
  Keys({Up(kTab), Up(kFn)});
  LetThePickerGo();
  EXPECT_EQ(Typed(), u"\u00E9");
  EXPECT_EQ(GetForegroundWindow(), notesWindow);
  // Had the first been quicker, the pair would have opened a picker and closed it again.
  EXPECT_EQ(PickerWindow(), nullptr);
  EXPECT_EQ(PickerOpen, 0u);
  EXPECT_EQ(bench::LiveThreads(), 3) << "the program's reader and the notes; no picker thread is left";
}

// The same pick still going down while the newer picker opens and picks too: each pick
// is typed once, the newer first, as it was done first.
TEST_F(Picker, TwoPicksOfOverlappingPickersAreEachTypedOnce) {
  StartWith(nullptr);
  OpenIt();
  HoldPickerAt(WM_DESTROY);
  Keys({kE});  // é picked; its window's end is held
  ASSERT_TRUE(held);
  Keys({Up(kE), kFn, kTab, Up(kTab), kTab});
  Keys({Up(kTab), Up(kFn)});
  ASSERT_NE(PickerWindow(), nullptr);
  Keys({kQ, Up(kQ)});  // the grave accent, typed as it is
  EXPECT_EQ(Typed(), u"`");
  LetThePickerGo();
  EXPECT_EQ(Typed(), u"`\u00E9");
  EXPECT_EQ(PickerWindow(), nullptr);
  EXPECT_EQ(PickerOpen, 0u);
  EXPECT_EQ(GetForegroundWindow(), notesWindow);
  EXPECT_EQ(bench::LiveThreads(), 3);
}

// A picker closed by Fn+Tab ends late, after a newer one has opened and picked: it takes
// nothing of the newer pick, which is typed once.
TEST_F(Picker, AClosedPickerEndingLateTypesNothingOfTheNextPick) {
  StartWith(nullptr);
  OpenIt();
  HoldPickerAt(WM_DESTROY);
  Keys({kFn, kTab});  // asked to close
  Keys({Up(kTab)});   // its next message: the loop ends, and the window's end is held
  ASSERT_TRUE(held);
  Keys({kTab});       // Fn still down: a new picker
  Keys({Up(kTab), Up(kFn)});
  HWND newer = PickerWindow();
  ASSERT_NE(newer, nullptr);
  ASSERT_EQ(GetForegroundWindow(), newer);
  Keys({kE, Up(kE)});
  ASSERT_EQ(Typed(), u"\u00E9");
  LetThePickerGo();
  EXPECT_EQ(Typed(), u"\u00E9");
  EXPECT_EQ(PendingAccent, 0);
  EXPECT_EQ(PickerWindow(), nullptr);
  EXPECT_EQ(PickerOpen, 0u);
  EXPECT_EQ(GetForegroundWindow(), notesWindow);
  EXPECT_EQ(bench::LiveThreads(), 3);
}

// A message another thread sends to the picker's window, answered inside the picker's
// fetch: the test holds the picker's thread there.
const UINT kSentToPicker = WM_APP + 7;

DWORD WINAPI SendToPicker(LPVOID window) {
  SendMessageW(static_cast<HWND>(window), kSentToPicker, 0, 0);
  return 0;
}

// A picker held inside its fetch, its window still up, while Fn+Tab closes it and a newer
// picker opens and picks: once let go, it loses its window to the newer one and ends
// without a pick of its own. The newer pick is typed once, not taken by both.
TEST_F(Picker, APickerHeldInItsFetchTakesNothingOfTheNextPick) {
  StartWith(nullptr);
  OpenIt();
  HWND older = PickerWindow();
  HoldPickerAt(kSentToPicker);
  HANDLE sender = CreateThread(nullptr, 0, SendToPicker, older, 0, nullptr);
  bench::Settle();
  ASSERT_TRUE(held);
  Keys({kFn, kTab, Up(kTab), kTab});  // a close, then a newer picker
  Keys({Up(kTab), Up(kFn)});
  HWND newer = PickerWindow();
  ASSERT_NE(newer, nullptr);
  ASSERT_NE(newer, older);
  Keys({kE, Up(kE)});
  ASSERT_EQ(Typed(), u"\u00E9");
  LetThePickerGo();
  EXPECT_EQ(ExitCodeOf(sender), 0u);
  EXPECT_FALSE(IsWindow(older));
  EXPECT_EQ(Typed(), u"\u00E9");
  EXPECT_EQ(PickerWindow(), nullptr);
  EXPECT_EQ(PickerOpen, 0u);
  EXPECT_EQ(GetForegroundWindow(), notesWindow);
  EXPECT_EQ(bench::LiveThreads(), 3);
}

// The same older picker ends late while the newer one is still up: the newer one stays
// open, its flag set, so the next Fn+Tab closes it rather than opening a third.
TEST_F(Picker, AClosedPickerEndingLateLeavesTheNewerOneOpen) {
  StartWith(nullptr);
  OpenIt();
  HoldPickerAt(WM_DESTROY);
  Keys({kFn, kTab});
  Keys({Up(kTab)});
  ASSERT_TRUE(held);
  Keys({kTab});
  Keys({Up(kTab), Up(kFn)});
  HWND newer = PickerWindow();
  ASSERT_NE(newer, nullptr);
  LetThePickerGo();
  EXPECT_TRUE(IsWindow(newer));
  EXPECT_EQ(GetForegroundWindow(), newer);
  EXPECT_NE(PickerOpen, 0u);
  OpenIt();  // Fn+Tab: closes
  EXPECT_FALSE(IsWindow(newer));
  EXPECT_EQ(PickerWindow(), nullptr) << "closed, not a third opened";
  EXPECT_EQ(PickerOpen, 0u);
  EXPECT_EQ(GetForegroundWindow(), notesWindow);
  EXPECT_TRUE(Typed().empty());
  EXPECT_EQ(bench::LiveThreads(), 3);
}

// The picker's loop ends when its window goes, by every route, even on a handheld whose
// fetch for a window that is gone waits instead of failing.
TEST_F(Picker, ItsLoopEndsWithItsWindowWhereAFetchForAGoneWindowWaits) {
  struct Row {
    const char* name;
    std::vector<unsigned char> keys;  // after Fn+Tab
    POINT tap;                        // a tap on the screen instead, when keys is empty
    std::u16string typed;
  };
  const Row rows[] = {
      {"a key picks its cell", {kE, Up(kE)}, {0, 0}, u"\u00E9"},
      {"a tap in a gap", {}, {PICKER_X + 120, PICKER_Y + 10}, u""},
      {"a tap on another window", {}, {120, 100}, u""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(bench::Reset());
    ResetProgramState();
    StartWith(nullptr);
    ASSERT_GT(fetches.load(), 0) << "the fetch in front of the simulated one is in place";
    goneWindowRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    fetchWaitsForGoneWindow = true;
    OpenIt();
    ASSERT_NE(PickerWindow(), nullptr);
    if (row.keys.empty()) {
      ASSERT_NE(bench::Tap(row.tap.x, row.tap.y), nullptr);
      bench::Settle();
    } else {
      Keys(row.keys);
    }
    EXPECT_EQ(PickerWindow(), nullptr);
    EXPECT_EQ(bench::LiveThreads(), 3) << "the picker's thread has ended";
    EXPECT_EQ(PickerOpen, 0u);
    EXPECT_EQ(GetForegroundWindow(), notesWindow);
    EXPECT_EQ(Typed(), row.typed);
    TearDown();
  }
}

// ---- the program's exit and the picker's thread ------------------------------------

// The exit frees the resource library only once the picker's thread has ended: here it
// is held just as it is about to draw its picture from the library.
TEST_F(Picker, TheExitWaitsForThePickerToEndBeforeFreeingTheLibrary) {
  StartWith(nullptr);
  std::vector<uint32_t> picture = Picture(IDB_PICKER);
  OpenIt();
  HWND picker = PickerWindow();
  HoldPickerAt(WM_PAINT);
  {
    std::lock_guard<std::mutex> g(paintedMu);
    painted.clear();
  }
  InvalidateRect(picker, nullptr, TRUE);  // erased to white, then painted anew
  bench::Settle();
  ASSERT_TRUE(held);
  bench::ClearTrace();
  ExitWithAnswer(IDYES);
  EXPECT_TRUE(Running()) << "the exit waits for the picker's thread";
  EXPECT_EQ(bench::Trace({"FreeLibrary"}), Lines{});
  LetThePickerGo();
  EXPECT_EQ(WaitForExit(), 0u);
  EXPECT_EQ(bench::Trace({"FreeLibrary"}), Lines{"FreeLibrary(brindleres.dll)"});
  {
    std::lock_guard<std::mutex> g(paintedMu);
    EXPECT_TRUE(painted == picture) << "the picture came from the library, still loaded";
  }
  bench::Settle();
  EXPECT_EQ(bench::LiveThreads(), 1) << "the notes only";
  EXPECT_TRUE(Typed().empty());
}

// A picker thread that does not end holds the exit up for PICKER_END_WAIT_MS at most.
TEST_F(Picker, TheExitWaitsForAStuckPickerOnlySoLong) {
  StartWith(nullptr);
  OpenIt();
  HWND picker = PickerWindow();
  HoldPickerAt(WM_PAINT);
  InvalidateRect(picker, nullptr, TRUE);
  bench::Settle();
  ASSERT_TRUE(held);
  ExitWithAnswer(IDYES);
  ASSERT_TRUE(Running());
  bench::Advance(PICKER_END_WAIT_MS - 1);
  EXPECT_TRUE(Running());
  bench::Advance(1);
  EXPECT_FALSE(Running()) << "the exit went on without it";
  EXPECT_EQ(WaitForExit(), 0u);
  LetThePickerGo();  // it draws nothing now, and ends
  EXPECT_EQ(bench::LiveThreads(), 1);
}

// ---- the six layouts in the running picker -------------------------------------------

// A national build of the resource library, bin/national/<CODE>/, by its full path (USA's
// is brindleres.dll beside the program).
std::string NationalLibrary(const std::string& code) {
  char exe[4096] = {0};
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  std::string dir = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string();
  dir = dir.substr(0, dir.rfind('/'));
  return dir + "/national/" + code + "/brindleres.dll";
}

unsigned char ScanOf(uint16_t vk) {
  for (const ScanVkRow& row : ScanVkTable)
    if (row.Vk == (vk & 0xFF)) return row.Scan;
  return 0;
}

// Every cell that types a character, picked by its key with neither Shift nor Caps Lock,
// with Shift held, and with Caps Lock on, in each national build: the first gives the
// plain column, the others the shifted one, so a cell whose columns are equal gives the
// same character whatever Shift and Caps Lock say.
TEST_F(Picker, EachBuildsCellsTypeTheirColumnByShiftAndCapsLock) {
  const struct {
    const char* code;
    int layout;
  } builds[] = {{"USA", 0}, {"FRA", 1}, {"GER", 2}, {"ESP", 3}, {"PTB", 4}, {"ITA", 5}};
  enum State { kPlain, kShiftHeld, kCapsLock };
  for (const auto& build : builds) {
    SCOPED_TRACE(build.code);
    ASSERT_TRUE(bench::Reset());
    ResetProgramState();
    StartWith(build.layout == 0 ? nullptr : NationalLibrary(build.code).c_str());
    ASSERT_EQ(0, memcmp(ActiveLayout, PickerLayout[build.layout], sizeof ActiveLayout));
    int picks = 0;
    for (State state : {kPlain, kShiftHeld, kCapsLock}) {
      if (state == kCapsLock) {
        bench::PressCapsLock();
        bench::Settle();
        ASSERT_EQ(CapsLockOn, 1u);
      }
      for (int cell = 0; cell < PICKER_CELLS; ++cell) {
        const PickerCell& c = ActiveLayout[cell];
        if (c.Plain == 0 || (c.Plain & PICKER_DEAD) != 0) continue;  // nothing typed
        SCOPED_TRACE("cell " + std::to_string(cell) + ", state " + std::to_string(state));
        unsigned char scan = ScanOf(c.Key);
        ASSERT_NE(scan, 0);
        std::u16string before = Typed();
        OpenIt();
        if (state == kShiftHeld) {
          Keys({kShift});
          Keys({scan});
          Keys({Up(scan), Up(kShift)});
        } else {
          Keys({scan});
          Keys({Up(scan)});
        }
        char16_t expected = static_cast<char16_t>(state == kPlain ? c.Plain : c.Shifted);
        EXPECT_EQ(Typed(), before + expected);
        ++picks;
      }
      if (state == kCapsLock) {
        bench::PressCapsLock();
        bench::Settle();
      }
    }
    EXPECT_GT(picks, 3 * 15);
    TearDown();
  }
}

}  // namespace
}  // namespace programtest
