// Key injection and the typematic repeat, timed on the bench's virtual clock.
#include <gtest/gtest.h>

#include "engine_fixture.h"

using namespace enginetest;

namespace {

const unsigned A = 0x41, B = 0x42;

class InjectTest : public EngineTest {
 protected:
  // Advance the clock and return what was injected meanwhile.
  std::vector<std::string> After(DWORD ms) {
    bench::ClearTrace();
    bench::Advance(ms);
    bench::Settle();
    return Keys();
  }
  std::vector<std::string> Bytes(const std::vector<uint8_t>& bytes) {
    bench::ClearTrace();
    Feed(bytes);
    return Keys();
  }
};

// ---- single calls ----------------------------------------------------------------------

TEST_F(InjectTest, SendCharacterMakesThreeCalls) {
  SendCharacter(0x00E9);
  bench::Settle();
  EXPECT_EQ(Keys(), (std::vector<std::string>{
                        "keybd_event(0x00, 0x0)",
                        "keybd_event(0x00, 0x2)",
                        "PostKeybdMessage(-1, 0x00, 0x0, [0x0], [U+00E9])",
                        "keybd_event(0x00, 0x2)",
                    }));
  for (unsigned ch : {0x0031u, 0x1E80u, 0xFFFFu}) {
    bench::ClearTrace();
    SendCharacter(static_cast<uint16_t>(ch));
    bench::Settle();
    EXPECT_EQ(Keys(), Character(ch)) << Hex2(ch);
  }
}

TEST_F(InjectTest, SimpleKeyActions) {
  const struct {
    const char* name;
    void (*action)();
    std::vector<std::string> expected;
  } cases[] = {
      {"PressKeySilent", [] { PressKeySilent(0xA0); }, {PressSilent(0xA0)}},
      {"ReleaseKey", [] { ReleaseKey(0x2E); }, {Release(0x2E)}},
      {"ToggleCapsLock", [] { ToggleCapsLock(); }, {Press(0x14), Release(0x14)}},
      {"PressKeyOnce of a letter", [] { PressKeyOnce(0x41); }, {Press(0x41)}},
      {"StopRepeat with no repeat running", [] { StopRepeat(); }, {}},
  };
  for (const auto& c : cases) {
    bench::ClearTrace();
    c.action();
    bench::Settle();
    EXPECT_EQ(Keys(), c.expected) << c.name;
  }
}

// ---- Enter and Tab: the menu rule ---------------------------------------------------------

struct MenuCase {
  const char* name;
  uint8_t vk;
  bool menu;
  uint32_t shift;
  std::vector<std::string> expected;
};

TEST_F(InjectTest, EnterAndTabWithAndWithoutAMenu) {
  const MenuCase withoutMenu[] = {
      {"Enter", VK_RETURN, false, 0, KeyMessage(VK_RETURN, 0x0D, false)},
      {"Shift+Enter flags", VK_RETURN, false, 1, KeyMessage(VK_RETURN, 0x0D, true)},
      {"Tab", VK_TAB, false, 0, KeyMessage(VK_TAB, 0x09, false)},
      {"Shift+Tab flags", VK_TAB, false, 1, KeyMessage(VK_TAB, 0x09, true)},
  };
  const MenuCase withMenu[] = {
      {"Enter in a menu", VK_RETURN, true, 0, {Press(VK_RETURN), Release(VK_RETURN)}},
      {"Shift+Enter in a menu", VK_RETURN, true, 1, {Press(VK_RETURN), Release(VK_RETURN)}},
      {"Tab in a menu", VK_TAB, true, 0, {Press(VK_TAB), Release(VK_TAB)}},
  };
  for (const MenuCase& c : withoutMenu) {
    bench::ClearTrace();
    ShiftDown = c.shift;
    PressKeyOnce(c.vk);
    bench::Settle();
    EXPECT_EQ(Keys(), c.expected) << c.name;
  }
  OpenMenu();
  for (const MenuCase& c : withMenu) {
    bench::ClearTrace();
    ShiftDown = c.shift;
    PressKeyOnce(c.vk);
    bench::Settle();
    EXPECT_EQ(Keys(), c.expected) << c.name;
  }
}

TEST_F(InjectTest, EnterKeyBytesWithAndWithoutAMenu) {
  EXPECT_EQ(Bytes({Dn(kEnter), Up(kEnter)}),
            Seq() << KeyMessage(VK_RETURN, 0x0D, false) << SetRepeatTimer(500) << KillRepeatTimer()
                  << Release(VK_RETURN));
  OpenMenu();
  EXPECT_EQ(Bytes({Dn(kEnter), Up(kEnter)}),
            Seq() << Press(VK_RETURN) << Release(VK_RETURN) << SetRepeatTimer(500)
                  << KillRepeatTimer() << Release(VK_RETURN));
}

// ---- the repeat ----------------------------------------------------------------------------

TEST_F(InjectTest, HeldLetterRepeatsAfterTheDelayThenAtTheRate) {
  EXPECT_EQ(Bytes({Dn(kA)}), Seq() << Press(A) << SetRepeatTimer(500));
  EXPECT_TRUE(After(499).empty());
  EXPECT_EQ(After(1), Seq() << Press(A) << SetRepeatTimer(50));
  EXPECT_TRUE(After(49).empty());
  EXPECT_EQ(After(1), Seq() << Press(A));
  EXPECT_EQ(After(50), Seq() << Press(A));
  EXPECT_EQ(After(100), Seq() << Press(A) << Press(A));
  EXPECT_EQ(Bytes({Up(kA)}), Seq() << KillRepeatTimer() << Release(A));
  EXPECT_TRUE(After(2000).empty());
  EXPECT_EQ(RepeatTimerOn, 0u);
}

TEST_F(InjectTest, EveryTickSignalsTouchEventFirst) {
  Feed({Dn(kA)});
  bench::ClearTrace();
  bench::Advance(600);
  bench::Settle();
  std::vector<std::string> ticks = bench::Trace({"SetEvent", "keybd_event"});
  ASSERT_EQ(ticks.size(), 6u);  // at 500, 550, 600
  for (size_t i = 0; i < ticks.size(); i += 2) {
    EXPECT_EQ(ticks[i], "SetEvent(TouchEvent)");
    EXPECT_EQ(ticks[i + 1], Press(A));
  }
}

TEST_F(InjectTest, RateSevenGivesAPeriodOf142) {
  RepeatRate = 7;
  Feed({Dn(kA)});
  EXPECT_EQ(After(500), Seq() << Press(A) << SetRepeatTimer(142));
  EXPECT_TRUE(After(141).empty());
  EXPECT_EQ(After(1), Seq() << Press(A));
  EXPECT_EQ(After(142), Seq() << Press(A));
}

TEST_F(InjectTest, ASecondKeyTakesTheRepeatOverAndAnyReleaseEndsIt) {
  Feed({Dn(kA)});
  EXPECT_TRUE(After(300).empty());
  EXPECT_EQ(Bytes({Dn(kB)}), Seq() << Press(B) << SetRepeatTimer(500));
  EXPECT_TRUE(After(499).empty()) << "the delay starts again with B";
  EXPECT_EQ(After(1), Seq() << Press(B) << SetRepeatTimer(50));
  EXPECT_EQ(After(50), Seq() << Press(B));
  // A is released while B is still held: the repeat ends.
  EXPECT_EQ(Bytes({Up(kA)}), Seq() << KillRepeatTimer() << Release(A));
  EXPECT_TRUE(After(1000).empty());
  EXPECT_EQ(Bytes({Up(kB)}), Seq() << Release(B));
}

TEST_F(InjectTest, ShiftDuringARepeatingTabChangesTheLaterFlags) {
  EXPECT_EQ(Bytes({Dn(kTab)}), Seq() << KeyMessage(VK_TAB, 0x09, false) << SetRepeatTimer(500));
  EXPECT_EQ(After(500), Seq() << KeyMessage(VK_TAB, 0x09, false) << SetRepeatTimer(50));
  EXPECT_EQ(Bytes({Dn(kShift)}), Seq() << Press(0xA0)) << "a press does not stop the repeat";
  EXPECT_EQ(After(50), KeyMessage(VK_TAB, 0x09, true));
  EXPECT_EQ(After(50), KeyMessage(VK_TAB, 0x09, true));
  EXPECT_EQ(Bytes({Up(kShift)}), Seq() << KillRepeatTimer() << Release(0xA0));
  EXPECT_TRUE(After(500).empty());
}

TEST_F(InjectTest, RepeatingTabInAMenuIsAPressAndReleaseEveryTick) {
  OpenMenu();
  EXPECT_EQ(Bytes({Dn(kTab)}), Seq() << Press(VK_TAB) << Release(VK_TAB) << SetRepeatTimer(500));
  EXPECT_EQ(After(500), Seq() << Press(VK_TAB) << Release(VK_TAB) << SetRepeatTimer(50));
  EXPECT_EQ(After(50), Seq() << Press(VK_TAB) << Release(VK_TAB));
}

TEST_F(InjectTest, OneShotKeysDoNotRepeat) {
  EXPECT_EQ(Bytes({Dn(kShift)}), Seq() << Press(0xA0));
  EXPECT_TRUE(After(1000).empty());
  EXPECT_EQ(RepeatTimerOn, 0u);
}

// Stored settings outside the dialog's ranges: the timers run at the nearest end of
// the range, and the stored values are left as they are.
TEST_F(InjectTest, OutOfRangeRateAndDelayUseTheNearestEndOfTheRange) {
  const struct {
    uint32_t delay, rate;
    unsigned usedDelay, usedPeriod;
  } cases[] = {
      {500, 0, 500, 1000},          {500, 1, 500, 1000},      {500, 20, 500, 50},
      {500, 30, 500, 33},           {500, 31, 500, 33},       {500, 0xFFFFFFFF, 500, 33},
      {0, 20, 250, 50},             {249, 20, 250, 50},       {250, 20, 250, 50},
      {1000, 20, 1000, 50},         {1001, 20, 1000, 50},     {0xFFFFFFFF, 0, 1000, 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("delay " + std::to_string(c.delay) + " rate " + std::to_string(c.rate));
    InitialDelay = c.delay;
    RepeatRate = c.rate;
    EXPECT_EQ(Bytes({Dn(kA)}), Seq() << Press(A) << SetRepeatTimer(c.usedDelay));
    EXPECT_TRUE(After(c.usedDelay - 1).empty());
    EXPECT_EQ(After(1), Seq() << Press(A) << SetRepeatTimer(c.usedPeriod));
    EXPECT_TRUE(After(c.usedPeriod - 1).empty());
    EXPECT_EQ(After(1), Seq() << Press(A));
    EXPECT_EQ(Bytes({Up(kA)}), Seq() << KillRepeatTimer() << Release(A));
    EXPECT_EQ(InitialDelay, c.delay);
    EXPECT_EQ(RepeatRate, c.rate);
  }
}

// A tick that arrives after the repeat was stopped (already on its way to the
// dialog) presses nothing and ends its timer.
TEST_F(InjectTest, StaleTickPressesNothing) {
  Feed({Dn(kA)});
  RepeatTimerOn = 0;  // as if stopped while the expiry was already being handled
  bench::ClearTrace();
  RepeatTick();
  bench::Settle();
  EXPECT_EQ(Keys(), Seq() << KillRepeatTimer());
  EXPECT_TRUE(After(1000).empty());
}

}  // namespace
