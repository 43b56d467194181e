// Races, round after round: a cradle hand-off meeting a stop, the resume timer meeting a
// close, the watchdog's rebuild meeting a user's stop, Fn+Tab opening and closing the
// picker while keys arrive. The two sides run on their own threads with nothing between
// them, so each run meets the orders the machine happens to produce; under
// ThreadSanitizer the suite must finish with no report. Each round ends in the one state
// the user asked for, with nothing left behind.
#include <random>
#include <thread>

#include "engine/state.h"
#include "shell/picker.h"
#include "stress.h"

namespace stress {
namespace {

using shelltest::Lines;
using RaceTest = StormTest;

std::string Bytes(const std::vector<uint8_t>& bytes) {
  std::string text;
  char buf[8];
  for (uint8_t b : bytes) {
    snprintf(buf, sizeof buf, "%s%02X", text.empty() ? "" : " ", b);
    text += buf;
  }
  return text;
}

TEST_F(RaceTest, CradleHandOffMeetingAStop) {
  const long rounds = Count(200, 10000);
  std::mt19937 rng(Variant());
  long handOffs = 0;
  for (long round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    StartTyping();
    ASSERT_EQ(DriverState, DRIVER_RUNNING);
    bench::SendKeyBytes({kShift, kA});  // held when the line changes hands or closes
    bench::Settle();
    bench::ClearTrace();
    size_t started = bench::StartedPrograms().size();
    StopMeeting([] { bench::SetCarrier(true); });
    bench::Settle();
    bench::Advance(1000);  // a hand-off that got the port sleeps its second
    ASSERT_EQ(DriverState, DRIVER_STOPPED);
    ASSERT_EQ(DriverThreads(), 0);
    ASSERT_EQ(bench::PortOpenCount(), 0);
    ASSERT_EQ(bench::Trace({"CloseHandle(COM1)"}).size(), 1u) << "the port is closed once";
    ASSERT_EQ(bench::PowerState(), bench::Power::Off);
    ASSERT_EQ(bench::AsicMappedCount(), 0);
    ASSERT_EQ(KeysDown(), "");
    // A resume timer the hand-off's pause armed is killed by the stop.
    ASSERT_EQ(bench::Trace({"SetTimer([Dialog], 2"}).size(), bench::Trace({"KillTimer([Dialog], 2"}).size());
    handOffs += static_cast<long>(bench::StartedPrograms().size() - started);
    bench::SetCarrier(false);
    TimerTicks();
    bench::ClearTrace();
    bench::Advance(4000 + rng() % 1000);
    ASSERT_EQ(TimerTicks(), std::vector<unsigned>{});
    ASSERT_EQ(bench::Trace({"CreateFile"}), Lines{}) << "a stopped driver never retries";
  }
  printf("[ figures  ] %ld hand-offs met a stop: %ld took the line first\n", rounds, handOffs);
  ExpectNothingLeftAfterStop();
}

TEST_F(RaceTest, ResumeTimerMeetingAClose) {
  const long rounds = Count(200, 10000);
  std::mt19937 rng(Variant());
  long exits = 0;
  for (long round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    // Paused: the port was busy at the start; the resume timer is due in two seconds.
    bench::SetPortBusy(true);
    StartTyping();
    ASSERT_EQ(DriverState, DRIVER_PAUSED);
    bench::SetPortBusy(rng() % 2 == 0);  // the retry then finds the port free, or not
    bench::Advance(1990 + rng() % 10);
    if (round % 20 == 19) {
      // The program's close: the user confirms the exit while the timer falls due.
      bench::AnswerNextMessageBox(IDYES);
      std::thread user([] { PostMessageW(hSettingsDlg, WM_COMMAND, IDC_EXIT_BUTTON, 0); });
      bench::Advance(10 + rng() % 10);
      user.join();
      bench::Settle();
      ASSERT_EQ(WaitForExit(), 0u);
      bench::Settle();
      ASSERT_EQ(bench::LiveThreads(), 1) << "only the desk is left";
      ASSERT_EQ(bench::PortOpenCount(), 0);
      ASSERT_EQ(bench::AsicMappedCount(), 0);
      ASSERT_EQ(KeysDown(), "");
      ++exits;
      desk_.Close();
      Restart();
      LaunchStopped();
      desk_.Open();
      handles_ = bench::OpenHandles();
      gdi_ = bench::LiveGdiObjects();
      continue;
    }
    StopMeeting([&] { bench::Advance(10 + rng() % 10); });
    bench::Settle();
    ASSERT_EQ(DriverState, DRIVER_STOPPED);
    ASSERT_EQ(DriverThreads(), 0);
    ASSERT_EQ(bench::PortOpenCount(), 0);
    TimerTicks();
    bench::ClearTrace();
    bench::Advance(4000);
    ASSERT_EQ(TimerTicks(), std::vector<unsigned>{}) << "no resume timer outlives the stop";
    ASSERT_EQ(bench::Trace({"CreateFile"}), Lines{});
  }
  bench::SetPortBusy(false);
  EXPECT_GT(exits, 0);
  ExpectNothingLeftAfterStop();
}

TEST_F(RaceTest, WatchdogRebuildMeetingAUserStop) {
  const long rounds = Count(200, 10000);
  std::mt19937 rng(Variant());
  StickyKeysOn();
  for (long round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    StartTyping();
    ASSERT_EQ(DriverState, DRIVER_RUNNING);
    // A latched sticky Shift (left Shift down): a rebuild keeps it, a stop lifts it. (A
    // letter held for ten minutes would repeat 12000 times a round.)
    bench::SendKeyBytes({kShift, Up(kShift)});
    bench::Settle();
    bench::Advance(599000 + rng() % 1000);
    StopMeeting([&] { bench::Advance(rng() % 600); });
    bench::Settle();
    bench::Advance(1000);  // a rebuild under way opens again 250 ms on, then the stop comes
    ASSERT_EQ(DriverState, DRIVER_STOPPED);
    ASSERT_EQ(DriverThreads(), 0);
    ASSERT_EQ(bench::PortOpenCount(), 0);
    ASSERT_EQ(bench::PowerState(), bench::Power::Off);
    ASSERT_EQ(KeysDown(), "");
    ASSERT_EQ(StickyShiftLatched, 0u);
    ASSERT_EQ(ShiftDown, 0u);
    TimerTicks();
    bench::ClearTrace();
    bench::Advance(1300000);
    ASSERT_EQ(TimerTicks(), std::vector<unsigned>{}) << "no watchdog outlives the stop";
    ASSERT_EQ(bench::Trace({"CreateFile"}), Lines{});
  }
  ExpectNothingLeftAfterStop();
}

TEST_F(RaceTest, PickerOpenedAndClosedWhileKeysArrive) {
  const long rounds = Count(200, 10000);
  std::mt19937 rng(Variant());
  StartTyping();
  ASSERT_EQ(DriverState, DRIVER_RUNNING);
  const int gdi = bench::LiveGdiObjects();
  static const std::vector<uint8_t> kFnTab = {kFn, kTab, Up(kTab), Up(kFn)};
  static const std::vector<uint8_t> kKeys[] = {
      {kA, Up(kA)}, {kE, Up(kE)}, {kShift, kE, Up(kE), Up(kShift)}, {kEnter, Up(kEnter)},
      {kFn, kA, Up(kA), Up(kFn)}, {kShift, Up(kShift)}, {kFn, kShift, Up(kShift), Up(kFn)}, kFnTab, kFnTab,
  };
  long shown = 0;
  for (long round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    // Fn+Tab, then keys hard behind it, in one to three arrivals, none waiting for the picker.
    std::vector<uint8_t> bytes = kFnTab;
    for (unsigned n = 1 + rng() % 4; n > 0; --n) {
      const auto& k = kKeys[rng() % (sizeof kKeys / sizeof kKeys[0])];
      bytes.insert(bytes.end(), k.begin(), k.end());
    }
    size_t cut1 = rng() % bytes.size(), cut2 = cut1 + rng() % (bytes.size() - cut1);
    bench::SendKeyBytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut1));
    bench::SendKeyBytes(std::vector<uint8_t>(bytes.begin() + cut1, bytes.begin() + cut2));
    bench::SendKeyBytes(std::vector<uint8_t>(bytes.begin() + cut2, bytes.end()));
    bench::Settle();
    shown += PickerWindow() != nullptr ? 1 : 0;
    // Whatever is up now, a key closes it.
    bench::SendKeyBytes({kLeft, Up(kLeft)});
    bench::Settle();
    ASSERT_EQ(PickerWindow(), nullptr);
    ASSERT_EQ(PickerOpen, 0u);
    ASSERT_EQ(DriverThreads(), 1) << "the reader only: every picker thread has ended";
    ASSERT_EQ(KeysDown(), "");
    ASSERT_EQ(bench::OpenWindowDCs(), 0);
    ASSERT_EQ(bench::LiveGdiObjects(), gdi);
    ASSERT_EQ(GetForegroundWindow(), desk_.window()) << "the foreground is given back after " << Bytes(bytes)
                                                     << " in arrivals cut at " << cut1 << ", " << cut2;
  }
  printf("[ figures  ] %ld Fn+Tab rounds with keys behind: a picker was up after %ld\n", rounds, shown);
  ExpectNothingLeftAfterStop();
}

// How often the trace holds a character typed by the picker, U+XXXX as PostKeybdMessage
// records it.
long TypedCount(const char* codePoint) {
  long n = 0;
  for (const std::string& line : bench::Trace({"PostKeybdMessage("}))
    if (line.find(codePoint) != std::string::npos) ++n;
  return n;
}

// A pick with Fn+Tab hard behind it, once or twice, and perhaps a pick in whatever that
// opened: the picker going down meets the next opening, its thread perhaps not yet done.
// The first pick is typed once and the second at most once; when the handheld is quiet
// the translator's flag says whether a picker is up; a key then closes whatever is up.
TEST_F(RaceTest, APickMeetingTheNextOpenings) {
  const long rounds = Count(200, 10000);
  std::mt19937 rng(Variant());
  StartTyping();
  ASSERT_EQ(DriverState, DRIVER_RUNNING);
  const int gdi = bench::LiveGdiObjects();
  static const std::vector<uint8_t> kFnTab = {kFn, kTab, Up(kTab), Up(kFn)};
  const uint8_t kQ = 0x14;  // the grave accent in the default layout, typed as it is
  long upAfter = 0, second = 0;
  for (long round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    bench::SendKeyBytes(kFnTab);
    bench::Settle();
    HWND first = PickerWindow();
    ASSERT_NE(first, nullptr);
    bench::ClearTrace();
    // The pick, and the rest as soon as it is made: its picker's thread is going down.
    bench::SendKeyBytes({kE});
    while (IsWindow(first)) std::this_thread::yield();
    std::vector<uint8_t> bytes = {Up(kE)};
    for (unsigned n = 1 + rng() % 2; n > 0; --n) bytes.insert(bytes.end(), kFnTab.begin(), kFnTab.end());
    if (rng() % 2) bytes.insert(bytes.end(), {kQ, Up(kQ)});
    size_t cut1 = rng() % bytes.size(), cut2 = cut1 + rng() % (bytes.size() - cut1);
    bench::SendKeyBytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut1));
    bench::SendKeyBytes(std::vector<uint8_t>(bytes.begin() + cut1, bytes.begin() + cut2));
    bench::SendKeyBytes(std::vector<uint8_t>(bytes.begin() + cut2, bytes.end()));
    bench::Settle();
    // A picker up with the flag clear must have been asked to close (it goes at its next
    // message); with the flag set one must be up.
    const bool up = PickerWindow() != nullptr;
    const std::string what = "after " + Bytes(bytes) + " in arrivals cut at " + std::to_string(cut1) + ", " +
                             std::to_string(cut2);
    if (PickerOpen != 0) {
      ASSERT_TRUE(up) << what;
    } else if (up) {
      ASSERT_EQ(PickerStop, 1u) << what;
    }
    upAfter += up ? 1 : 0;
    bench::SendKeyBytes({kLeft, Up(kLeft)});
    bench::Settle();
    ASSERT_EQ(TypedCount("U+00E9"), 1) << what;
    ASSERT_LE(TypedCount("U+0060"), 1) << what;
    second += TypedCount("U+0060");
    ASSERT_EQ(PickerWindow(), nullptr);
    ASSERT_EQ(PickerOpen, 0u);
    ASSERT_EQ(DriverThreads(), 1) << "the reader only: every picker thread has ended";
    ASSERT_EQ(KeysDown(), "");
    ASSERT_EQ(bench::OpenWindowDCs(), 0);
    ASSERT_EQ(bench::LiveGdiObjects(), gdi);
    ASSERT_EQ(GetForegroundWindow(), desk_.window()) << what;
  }
  printf("[ figures  ] %ld picks with openings behind: a picker was up after %ld, a second pick typed in %ld\n", rounds,
         upAfter, second);
  ExpectNothingLeftAfterStop();
}

}  // namespace
}  // namespace stress
