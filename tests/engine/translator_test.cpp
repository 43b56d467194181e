// The key-byte translator: exact sequences of what each byte stream injects.
#include <gtest/gtest.h>

#include "engine_fixture.h"

using namespace enginetest;

namespace {

const unsigned A = 0x41, B = 0x42, E = 0x45, N = 0x4E, Q = 0x51;
const unsigned LSHIFT = 0xA0;

// One stream of bytes and what it must inject, with the preferences it runs under.
struct StreamCase {
  const char* name;
  uint32_t prefShift, prefFn, capsLock;
  std::vector<uint8_t> bytes;
  std::vector<std::string> expected;
};

class TranslatorTest : public EngineTest {
 protected:
  void Run(const StreamCase& c) {
    SCOPED_TRACE(c.name);
    PrefShift = c.prefShift;
    PrefFn = c.prefFn;
    CapsLockOn = c.capsLock;
    Feed(c.bytes);
    EXPECT_EQ(Keys(), c.expected);
  }
};

// ---- every byte --------------------------------------------------------------------

TEST_F(TranslatorTest, EveryByteSignalsTouchEventKnownKeyOrNot) {
  std::vector<uint8_t> bytes = {Dn(kA), Up(kA), Dn(0x00), Up(0x00), Dn(0x7F), Up(0x7F), Dn(kFn), Up(kFn)};
  Feed(bytes);
  std::vector<std::string> touches = bench::Trace({"SetEvent", "EventModify"});
  EXPECT_EQ(touches, std::vector<std::string>(bytes.size(), "SetEvent(TouchEvent)"));
}

TEST_F(TranslatorTest, OrdinaryKeysAndKeysWithoutVirtualKey) {
  const StreamCase cases[] = {
      {"letter A", 0, 0, 0, {Dn(kA), Up(kA)},
       Seq() << Press(A) << SetRepeatTimer(500) << KillRepeatTimer() << Release(A)},
      {"unknown code injects nothing", 0, 0, 0, {Dn(0x03), Up(0x03), Dn(0x29), Up(0x29)}, {}},
      {"release of an unknown code still stops the repeat", 0, 0, 0, {Dn(kA), Up(0x03)},
       Seq() << Press(A) << SetRepeatTimer(500) << KillRepeatTimer()},
      {"release without press", 0, 0, 0, {Up(kQ)}, {Release(Q)}},
      {"Fn alone", 0, 0, 0, {Dn(kFn), Up(kFn)}, Empty()},
  };
  for (const StreamCase& c : cases) {
    bench::ClearTrace();
    Run(c);
    ShiftDown = FnDown = 0;
  }
}

// ---- sticky Shift ----------------------------------------------------------------------

TEST_F(TranslatorTest, StickyShiftLatchesOnALoneTapAndTypesTheNextKeyShifted) {
  Run({"tap, then A", 1, 0, 0, {Dn(kShift), Up(kShift)},
       Seq() << Press(LSHIFT) << PressSilent(LSHIFT)});
  EXPECT_EQ(StickyShiftLatched, 1u);
  EXPECT_EQ(ShiftDown, 1u);
  bench::ClearTrace();
  // A goes down while Shift is in effect; on its release Shift goes up first.
  Run({"A", 1, 0, 0, {Dn(kA), Up(kA)},
       Seq() << Press(A) << SetRepeatTimer(500) << KillRepeatTimer() << Release(LSHIFT) << Release(A)});
  EXPECT_EQ(StickyShiftLatched, 0u);
  EXPECT_EQ(ShiftDown, 0u);
}

TEST_F(TranslatorTest, StickyShiftSequences) {
  const StreamCase cases[] = {
      {"another byte between press and release: no latch", 1, 0, 0,
       {Dn(kShift), Dn(kA), Up(kA), Up(kShift)},
       Seq() << Press(LSHIFT) << Press(A) << SetRepeatTimer(500) << KillRepeatTimer() << Release(A)
             << Release(LSHIFT)},
      {"a second lone tap cancels the latch", 1, 0, 0,
       {Dn(kShift), Up(kShift), Dn(kShift), Up(kShift)},
       Seq() << Press(LSHIFT) << PressSilent(LSHIFT) << Press(LSHIFT) << Release(LSHIFT)},
      {"preference off: an ordinary Shift", 0, 0, 0, {Dn(kShift), Up(kShift)},
       Seq() << Press(LSHIFT) << Release(LSHIFT)},
      {"latched, then Shift+Enter", 1, 0, 0, {Dn(kShift), Up(kShift), Dn(kEnter), Up(kEnter)},
       Seq() << Press(LSHIFT) << PressSilent(LSHIFT) << Empty() << Release(LSHIFT) << Release(0x0D)},
  };
  for (const StreamCase& c : cases) {
    bench::ClearTrace();
    Run(c);
    EXPECT_EQ(StickyShiftLatched, 0u) << c.name;
    EXPECT_EQ(ShiftDown, 0u) << c.name;
  }
}

TEST_F(TranslatorTest, TurningStickyShiftOffKeepsALatchUntilShiftIsTappedAgain) {
  Run({"latch", 1, 0, 0, {Dn(kShift), Up(kShift)}, Seq() << Press(LSHIFT) << PressSilent(LSHIFT)});
  bench::ClearTrace();
  Run({"A with the preference off", 0, 0, 0, {Dn(kA), Up(kA)},
       Seq() << Press(A) << SetRepeatTimer(500) << KillRepeatTimer() << Release(A)});
  EXPECT_EQ(ShiftDown, 1u) << "Shift stays in effect";
  bench::ClearTrace();
  Run({"Shift again", 0, 0, 0, {Dn(kShift), Up(kShift)}, Seq() << Press(LSHIFT) << Release(LSHIFT)});
  EXPECT_EQ(ShiftDown, 0u);
}

// ---- sticky Fn ---------------------------------------------------------------------------

TEST_F(TranslatorTest, StickyFnSequences) {
  const StreamCase cases[] = {
      {"latched Fn types the Fn character of the next key", 0, 1, 0,
       {Dn(kFn), Up(kFn), Dn(kQ), Up(kQ)}, Seq() << Empty() << Character('1') << Release(Q)},
      {"preference off: Fn ends with its release", 0, 0, 0, {Dn(kFn), Up(kFn), Dn(kQ), Up(kQ)},
       Seq() << Empty() << Press(Q) << SetRepeatTimer(500) << KillRepeatTimer() << Release(Q)},
      {"a second lone tap cancels the latch", 0, 1, 0, {Dn(kFn), Up(kFn), Dn(kFn), Up(kFn)},
       Seq() << Empty() << Empty()},
      {"another byte between press and release: no latch", 0, 1, 0,
       {Dn(kFn), Dn(kQ), Up(kQ), Up(kFn)}, Seq() << Empty() << Character('1') << Release(Q)},
  };
  for (const StreamCase& c : cases) {
    bench::ClearTrace();
    Run(c);
    EXPECT_EQ(StickyFnLatched, 0u) << c.name;
    EXPECT_EQ(FnDown, 0u) << c.name;
  }
}

TEST_F(TranslatorTest, LatchedFnLastsForOneKeyOnly) {
  Run({"latch, Q, Q", 0, 1, 0, {Dn(kFn), Up(kFn), Dn(kQ), Up(kQ), Dn(kQ), Up(kQ)},
       Seq() << Empty() << Character('1') << Release(Q) << Press(Q) << SetRepeatTimer(500)
             << KillRepeatTimer() << Release(Q)});
}

// ---- Caps Lock on Fn+Shift -----------------------------------------------------------------

TEST_F(TranslatorTest, FnHeldShiftTogglesCapsLockInsteadOfShift) {
  Run({"Fn held", 0, 0, 0, {Dn(kFn), Dn(kShift)}, Seq() << Empty() << Press(0x14) << Release(0x14)});
  EXPECT_EQ(ShiftDown, 0u) << "that Shift press is no Shift";
  EXPECT_EQ(CapsLockOn, 0u) << "the driver's copy follows the hot key, not the injection";
  bench::ClearTrace();
  // The Shift release is still sent: a release always releases the key's own virtual key.
  Run({"releases", 0, 0, 0, {Up(kShift), Up(kFn)}, {Release(LSHIFT)}});
  EXPECT_EQ(FnDown, 0u);
}

TEST_F(TranslatorTest, LatchedFnShiftTogglesCapsLockAndTheShiftReleaseEndsTheLatch) {
  Run({"Fn latched", 0, 1, 0, {Dn(kFn), Up(kFn), Dn(kShift), Up(kShift)},
       Seq() << Empty() << Press(0x14) << Release(0x14) << Release(LSHIFT)});
  EXPECT_EQ(StickyFnLatched, 0u);
  EXPECT_EQ(FnDown, 0u);
  EXPECT_EQ(ShiftDown, 0u);
}

// ---- the Fn layer -------------------------------------------------------------------------

TEST_F(TranslatorTest, FnLayer) {
  const StreamCase cases[] = {
      {"Fn+Q types 1, Q's release releases Q", 0, 0, 0, {Dn(kFn), Dn(kQ), Up(kQ), Up(kFn)},
       Seq() << Empty() << Character('1') << Release(Q)},
      {"Fn+Enter types =", 0, 0, 0, {Dn(kFn), Dn(kEnter), Up(kEnter), Up(kFn)},
       Seq() << Empty() << Character('=') << Release(0x0D)},
      {"Fn+Backspace types +", 0, 0, 0, {Dn(kFn), Dn(kBack), Up(kBack), Up(kFn)},
       Seq() << Empty() << Character('+') << Release(0x08)},
      {"Fn+right is Page Up, released as right, then Page Up", 0, 0, 0,
       {Dn(kFn), Dn(kRight), Up(kRight), Up(kFn)},
       Seq() << Empty() << Press(VK_PRIOR) << SetRepeatTimer(500) << KillRepeatTimer()
             << Release(VK_RIGHT) << Release(VK_PRIOR)},
      {"Fn+left is Page Down, released as left, then Page Down", 0, 0, 0,
       {Dn(kFn), Dn(kLeft), Up(kLeft), Up(kFn)},
       Seq() << Empty() << Press(VK_NEXT) << SetRepeatTimer(500) << KillRepeatTimer()
             << Release(VK_LEFT) << Release(VK_NEXT)},
      {"Fn+digit keeps the digit", 0, 0, 0, {Dn(kFn), Dn(kDigit1), Up(kDigit1), Up(kFn)},
       Seq() << Empty() << Press(0x31) << SetRepeatTimer(500) << KillRepeatTimer() << Release(0x31)},
      {"Fn+Space: power off once, then the Space release", 0, 0, 0,
       {Dn(kFn), Dn(kSpace), Up(kSpace), Up(kFn)},
       Seq() << Empty() << Press(VK_OFF) << Release(VK_SPACE)},
  };
  for (const StreamCase& c : cases) {
    bench::ClearTrace();
    Run(c);
    EXPECT_EQ(FnDown, 0u) << c.name;
  }
}

TEST_F(TranslatorTest, FnSpaceClearsFnDownAtThePress) {
  Feed({Dn(kFn), Dn(kSpace)});
  EXPECT_EQ(FnDown, 0u);
  EXPECT_EQ(RepeatTimerOn, 0u) << "power off does not repeat";
  bench::ClearTrace();
  Feed({Dn(kQ), Up(kQ)});
  EXPECT_EQ(Keys(), Seq() << Press(Q) << SetRepeatTimer(500) << KillRepeatTimer() << Release(Q))
      << "Fn no longer applies although it is still held";
}

TEST_F(TranslatorTest, FnTabTogglesThePicker) {
  Run({"open, close", 0, 0, 0, {Dn(kFn), Dn(kTab), Up(kTab), Dn(kTab), Up(kTab), Up(kFn)},
       Seq() << Empty() << "OpenPicker()" << Release(VK_TAB) << "ClosePicker()" << Release(VK_TAB)});
  EXPECT_EQ(PickerOpen, 0u);
  bench::ClearTrace();
  Run({"open", 0, 0, 0, {Dn(kFn), Dn(kTab)}, Seq() << Empty() << "OpenPicker()"});
  EXPECT_EQ(PickerOpen, 1u);
  // The picker's window went away by another route: the next Fn+Tab opens it again.
  PickerOpen = 0;
  bench::ClearTrace();
  Run({"reopen", 0, 0, 0, {Up(kTab), Dn(kTab)}, Seq() << Release(VK_TAB) << "OpenPicker()"});
  EXPECT_EQ(PickerOpen, 1u);
}

// ---- Shift commands and Shift+Backspace -------------------------------------------------------

TEST_F(TranslatorTest, ShiftEnterPostsOkToTheForegroundWindow) {
  Run({"held Shift", 0, 0, 0, {Dn(kShift), Dn(kEnter), Up(kEnter), Up(kShift)},
       Seq() << Press(LSHIFT) << Empty() << Release(VK_RETURN) << Release(LSHIFT)});
  EXPECT_EQ(AppMessages(), std::vector<std::string>{"WM_COMMAND(1)"});
}

TEST_F(TranslatorTest, ShiftCommands) {
  const StreamCase cases[] = {
      {"Shift+Space puts the input panel down", 0, 0, 0,
       {Dn(kShift), Dn(kSpace), Up(kSpace), Up(kShift)},
       Seq() << Press(LSHIFT) << Empty() << "SHSipPreference([AppWindow], 2)" << Release(VK_SPACE)
             << Release(LSHIFT)},
      {"sticky Shift+Space", 1, 0, 0, {Dn(kShift), Up(kShift), Dn(kSpace), Up(kSpace)},
       Seq() << Press(LSHIFT) << PressSilent(LSHIFT) << Empty() << "SHSipPreference([AppWindow], 2)"
             << Release(LSHIFT) << Release(VK_SPACE)},
      {"Shift+Fn+Space: the Shift command wins over power off", 0, 0, 0,
       {Dn(kShift), Dn(kFn), Dn(kSpace), Up(kSpace), Up(kFn), Up(kShift)},
       Seq() << Press(LSHIFT) << Empty() << Empty() << "SHSipPreference([AppWindow], 2)"
             << Release(VK_SPACE) << Release(LSHIFT)},
      {"Shift+Backspace is Delete with Shift lifted", 0, 0, 0,
       {Dn(kShift), Dn(kBack), Up(kBack), Up(kShift)},
       Seq() << Press(LSHIFT) << Release(LSHIFT) << Press(VK_DELETE) << SetRepeatTimer(500)
             << KillRepeatTimer() << PressSilent(LSHIFT) << Release(VK_DELETE) << Release(LSHIFT)},
      {"sticky Shift+Backspace: unlatched first, so Backspace is released, then Delete", 1, 0, 0,
       {Dn(kShift), Up(kShift), Dn(kBack), Up(kBack)},
       Seq() << Press(LSHIFT) << PressSilent(LSHIFT) << Release(LSHIFT) << Press(VK_DELETE)
             << SetRepeatTimer(500) << KillRepeatTimer() << Release(LSHIFT) << Release(VK_BACK)
             << Release(VK_DELETE)},
      {"Backspace alone", 0, 0, 0, {Dn(kBack), Up(kBack)},
       Seq() << Press(VK_BACK) << SetRepeatTimer(500) << KillRepeatTimer() << Release(VK_BACK)},
  };
  for (const StreamCase& c : cases) {
    bench::ClearTrace();
    Run(c);
    EXPECT_EQ(ShiftDown, 0u) << c.name;
  }
  EXPECT_TRUE(AppMessages().empty());
}

// A key's release lifts whatever its press put down, even after Fn or Shift changed
// in between. The rule checked is the input system's own key state, read back, not
// the events: once every key is up, no key but power-off (never released) is down.
TEST_F(TranslatorTest, NoKeyStaysDownOnceEveryKeyIsUp) {
  const struct {
    const char* name;
    uint32_t prefShift;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"Fn let go before right", 0, {Dn(kFn), Dn(kRight), Up(kFn), Up(kRight)}},
      {"Fn let go before left", 0, {Dn(kFn), Dn(kLeft), Up(kFn), Up(kLeft)}},
      {"right pressed again without Fn", 0, {Dn(kFn), Dn(kRight), Up(kFn), Dn(kRight), Up(kRight)}},
      {"Fn pressed while right is down", 0, {Dn(kRight), Dn(kFn), Up(kRight), Up(kFn)}},
      {"Shift let go before Backspace", 0, {Dn(kShift), Dn(kBack), Up(kShift), Up(kBack)}},
      {"Shift pressed while Backspace is down", 0, {Dn(kBack), Dn(kShift), Up(kBack), Up(kShift)}},
      {"latched Shift, Backspace", 1, {Dn(kShift), Up(kShift), Dn(kBack), Up(kBack)}},
      {"Backspace pressed twice, Shift between", 0, {Dn(kShift), Dn(kBack), Up(kShift), Dn(kBack), Up(kBack)}},
      {"Fn+Space, Fn let go first", 0, {Dn(kFn), Dn(kSpace), Up(kFn), Up(kSpace)}},
      {"Fn+right, Shift+Backspace and A rolled", 0,
       {Dn(kFn), Dn(kRight), Up(kFn), Dn(kShift), Dn(kBack), Dn(kA), Up(kShift), Up(kRight), Up(kBack), Up(kA)}},
  };
  for (const auto& c : cases) {
    PrefShift = c.prefShift;
    Feed(c.bytes);
    for (int vk = 1; vk < 256; ++vk) {
      if (vk == VK_OFF) continue;
      EXPECT_EQ(GetAsyncKeyState(vk) & 0x8000, 0) << c.name << ": key " << Hex2(vk) << " down";
    }
    for (int vk = 1; vk < 256; ++vk)
      if (GetAsyncKeyState(vk) & 0x8000) keybd_event(static_cast<BYTE>(vk), 0, KEYEVENTF_KEYUP, 0);
    ForgetHeldKeys();
  }
}

// ---- accent composition -------------------------------------------------------------------------

enum ShiftMode { kNoShift, kHeldShift, kLatchedShift };

struct AccentCase {
  int kind;
  uint8_t scan;
  unsigned vk;
  uint32_t caps;
  ShiftMode shift;
  unsigned composed;  // 0: the bare accent, then the key as usual
};

const AccentCase kAccentCases[] = {
    // every kind, both cases, with and without Caps Lock
    {1, kE, E, 0, kNoShift, 0x00E8},     {1, kE, E, 0, kHeldShift, 0x00C8},
    {1, kE, E, 1, kNoShift, 0x00C8},     {1, kE, E, 1, kHeldShift, 0x00E8},
    {1, kE, E, 0, kLatchedShift, 0x00C8}, {1, kE, E, 1, kLatchedShift, 0x00E8},
    {2, kE, E, 0, kNoShift, 0x00E9},     {2, kE, E, 0, kHeldShift, 0x00C9},
    {2, kE, E, 1, kNoShift, 0x00C9},     {2, kE, E, 1, kHeldShift, 0x00E9},
    {2, kC, 0x43, 0, kNoShift, 0x0107},  {2, kC, 0x43, 0, kLatchedShift, 0x0106},
    {3, kO, 0x4F, 0, kNoShift, 0x00F4},  {3, kO, 0x4F, 0, kHeldShift, 0x00D4},
    {3, kO, 0x4F, 1, kNoShift, 0x00D4},  {3, kO, 0x4F, 1, kHeldShift, 0x00F4},
    {4, kN, N, 0, kNoShift, 0x00F1},     {4, kN, N, 0, kHeldShift, 0x00D1},
    {4, kN, N, 1, kNoShift, 0x00D1},     {4, kN, N, 1, kHeldShift, 0x00F1},
    {5, kU, 0x55, 0, kNoShift, 0x00FC},  {5, kU, 0x55, 0, kHeldShift, 0x00DC},
    {5, kU, 0x55, 1, kNoShift, 0x00DC},  {5, kU, 0x55, 1, kHeldShift, 0x00FC},
    {5, kY, 0x59, 0, kHeldShift, 0x0178}, {5, kY, 0x59, 0, kNoShift, 0x00FF},
    // grave N: only the small letter composes
    {1, kN, N, 0, kNoShift, 0x0149},     {1, kN, N, 0, kHeldShift, 0},
    {1, kN, N, 1, kNoShift, 0},
    // letters without a row: the bare accent, then the letter itself
    {1, kB, B, 0, kNoShift, 0},          {2, kB, B, 0, kNoShift, 0},
    {3, kB, B, 0, kHeldShift, 0},        {4, kB, B, 0, kNoShift, 0},
    {4, kE, E, 1, kNoShift, 0},          {5, kB, B, 0, kNoShift, 0},
    {3, kDigit1, 0x31, 0, kNoShift, 0},
};

TEST_F(TranslatorTest, AccentComposition) {
  for (const AccentCase& c : kAccentCases) {
    SCOPED_TRACE("kind " + std::to_string(c.kind) + " vk " + Hex2(c.vk) + " caps " +
                 std::to_string(c.caps) + " shift mode " + std::to_string(c.shift));
    ShiftDown = FnDown = StickyShiftLatched = 0;
    PrefShift = c.shift == kLatchedShift ? 1 : 0;
    CapsLockOn = c.caps;
    PendingAccent = c.kind;
    Seq want;
    std::vector<uint8_t> bytes;
    if (c.shift == kHeldShift) {
      bytes = {Dn(kShift), Dn(c.scan), Up(c.scan), Up(kShift)};
      want << Press(LSHIFT);
    } else if (c.shift == kLatchedShift) {
      bytes = {Dn(kShift), Up(kShift), Dn(c.scan), Up(c.scan)};
      want << Press(LSHIFT) << PressSilent(LSHIFT);
    } else {
      bytes = {Dn(c.scan), Up(c.scan)};
    }
    if (c.composed != 0) {
      want << Character(c.composed);
    } else {
      want << Character(BareAccent(c.kind)) << Press(c.vk) << SetRepeatTimer(500)
           << KillRepeatTimer();
    }
    if (c.shift == kLatchedShift) want << Release(LSHIFT);
    want << Release(c.vk);
    if (c.shift == kHeldShift) want << Release(LSHIFT);
    bench::ClearTrace();
    Feed(bytes);
    EXPECT_EQ(Keys(), want);
    EXPECT_EQ(PendingAccent, 0);
  }
}

TEST_F(TranslatorTest, AccentWaitsThroughShiftAndReleases) {
  PendingAccent = 2;
  Feed({Up(kA), Dn(kShift)});
  EXPECT_EQ(Keys(), Seq() << Release(A) << Press(LSHIFT));
  EXPECT_EQ(PendingAccent, 2) << "releases and the Shift press leave the accent pending";
}

TEST_F(TranslatorTest, FnPressSendsAPendingAccentBare) {
  PendingAccent = 4;
  Feed({Dn(kFn), Up(kFn)});
  EXPECT_EQ(Keys(), Seq() << Character(0x7E) << Empty());
  EXPECT_EQ(PendingAccent, 0);
}

TEST_F(TranslatorTest, KeyWithoutVirtualKeySendsAPendingAccentBare) {
  PendingAccent = 5;
  Feed({Dn(0x03), Up(0x03)});
  EXPECT_EQ(Keys(), Character(0xA8));
  EXPECT_EQ(PendingAccent, 0);
}

// The accent is picked while Fn is in effect; the letter composes, the Fn layer
// is not consulted.
TEST_F(TranslatorTest, AccentComposesBeforeTheFnLayer) {
  const struct {
    const char* name;
    uint32_t prefFn;
    std::vector<uint8_t> fnBytes, keyBytes;
  } cases[] = {
      {"Fn held", 0, {Dn(kFn)}, {Dn(kE), Up(kE), Up(kFn)}},
      {"Fn latched", 1, {Dn(kFn), Up(kFn)}, {Dn(kE), Up(kE)}},
  };
  for (const auto& c : cases) {
    bench::ClearTrace();
    PrefFn = c.prefFn;
    Feed(c.fnBytes);
    EXPECT_EQ(FnDown, 1u) << c.name;
    PendingAccent = 2;
    Feed(c.keyBytes);
    EXPECT_EQ(Keys(), Seq() << Empty() << Character(0x00E9) << Release(E)) << c.name;
    EXPECT_EQ(FnDown, 0u) << c.name;
    EXPECT_EQ(PendingAccent, 0) << c.name;
  }
}

TEST_F(TranslatorTest, UnknownAccentKindIsDroppedWithoutACharacter) {
  for (int32_t kind : {6, -1, 0x7FFFFFFF}) {
    bench::ClearTrace();
    PendingAccent = kind;
    Feed({Dn(kA), Up(kA)});
    EXPECT_EQ(Keys(), Seq() << Press(A) << SetRepeatTimer(500) << KillRepeatTimer() << Release(A))
        << "kind " << kind;
    EXPECT_EQ(PendingAccent, 0);
  }
}

// ---- picker redraw on Shift bytes --------------------------------------------------------------------

// The shell redraws the picker if it is open (tested with the picker); the engine
// only says which picture Shift and Caps Lock call for.
std::string Redraw(unsigned id) { return "RedrawPicker(" + std::to_string(id) + ")"; }

TEST_F(TranslatorTest, ShiftBytesAskForThePickerPicture) {
  const StreamCase cases[] = {
      {"Caps Lock off", 0, 0, 0, {Dn(kShift), Up(kShift)},
       Seq() << Redraw(149) << Press(LSHIFT) << Redraw(148) << Release(LSHIFT)},
      {"Caps Lock on", 0, 0, 1, {Dn(kShift), Up(kShift)},
       Seq() << Redraw(148) << Press(LSHIFT) << Redraw(149) << Release(LSHIFT)},
      {"a latching release keeps the shifted picture", 1, 0, 0, {Dn(kShift), Up(kShift)},
       Seq() << Redraw(149) << Press(LSHIFT) << PressSilent(LSHIFT)},
      {"the latch ends on the next Shift tap", 1, 0, 0, {Dn(kShift), Up(kShift)},
       Seq() << Redraw(149) << Press(LSHIFT) << Redraw(148) << Release(LSHIFT)},
      {"a Caps Lock toggle is no Shift: no redraw", 0, 0, 0, {Dn(kFn), Dn(kShift), Up(kFn)},
       Seq() << Empty() << Press(0x14) << Release(0x14)},
      {"other keys do not redraw", 0, 0, 0, {Dn(kA), Up(kA)},
       Seq() << Press(A) << SetRepeatTimer(500) << KillRepeatTimer() << Release(A)},
  };
  auto run = [this](const StreamCase& c) {
    SCOPED_TRACE(c.name);
    bench::ClearTrace();
    PrefShift = c.prefShift;
    CapsLockOn = c.capsLock;
    Feed(c.bytes);
    EXPECT_EQ(bench::Trace({"keybd_event", "SetTimer", "KillTimer", "RedrawPicker"}), c.expected);
  };
  for (const StreamCase& c : cases) run(c);
  PickerBitmapBase = 200;
  run({"base 200", 0, 0, 0, {Dn(kShift), Up(kShift)},
       Seq() << Redraw(201) << Press(LSHIFT) << Redraw(200) << Release(LSHIFT)});
}

// ---- TrackModifier --------------------------------------------------------------------------------

TEST_F(TranslatorTest, TrackModifier) {
  const struct {
    uint8_t scan;
    int down;
    int result;
    uint32_t shift, fn;
    std::vector<std::string> injected;
  } cases[] = {
      {kShift, 1, 1, 1, 0, {}}, {kShift, 0, 1, 0, 0, {}}, {kFn, 1, 1, 0, 1, Empty()},
      {kFn, 0, 1, 0, 0, {}},    {kA, 1, 0, 0, 0, {}},     {0x7F, 0, 0, 0, 0, {}},
  };
  for (const auto& c : cases) {
    ShiftDown = FnDown = 0;
    bench::ClearTrace();
    EXPECT_EQ(TrackModifier(c.scan, c.down), c.result) << Hex2(c.scan);
    bench::Settle();
    EXPECT_EQ(ShiftDown, c.shift) << Hex2(c.scan);
    EXPECT_EQ(FnDown, c.fn) << Hex2(c.scan);
    EXPECT_EQ(Keys(), c.injected) << Hex2(c.scan);
  }
}

}  // namespace

namespace {

// ---- the picker thread and the reader side by side ------------------------------------------

DWORD WINAPI PickerTyping(LPVOID) {
  for (int i = 0; i < 200; ++i) {
    PendingAccent = 2;
    SendCharacter('x');
  }
  return 0;
}

size_t Count(const std::vector<std::string>& lines, const std::string& s) {
  size_t n = 0;
  for (const std::string& l : lines) n += l == s;
  return n;
}

// The picker leaves accents and types characters while the reader translates: every
// E press is composed or typed exactly once, every picked character arrives.
TEST_F(TranslatorTest, PickerThreadAndReaderRunSideBySide) {
  HANDLE picker = CreateThread(nullptr, 0, PickerTyping, nullptr, 0, nullptr);
  ASSERT_NE(picker, nullptr);
  for (int i = 0; i < 200; ++i) {
    TranslateKeyByte(Dn(kE));
    TranslateKeyByte(Up(kE));
  }
  WaitForSingleObject(picker, INFINITE);
  CloseHandle(picker);
  bench::Settle();
  std::vector<std::string> keys = Keys();
  EXPECT_EQ(Count(keys, "PostKeybdMessage(-1, 0x00, 0x0, [0x0], [U+0078])"), 200u);
  size_t composed = Count(keys, "PostKeybdMessage(-1, 0x00, 0x0, [0x0], [U+00E9])");
  size_t plain = Count(keys, Press(E));
  EXPECT_EQ(composed + plain, 200u);
  EXPECT_EQ(Count(keys, Release(E)), 200u);
  EXPECT_EQ(Count(keys, "PostKeybdMessage(-1, 0x00, 0x0, [0x0], [U+00B4])"), 0u)
      << "an acute accent always composes with E";
}

}  // namespace
