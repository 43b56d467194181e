// Fault storms: the terminal vanishing mid-stream and coming back, the keyboard pulled
// out and plugged in again, the cradle's carrier flapping, suspend and resume over and
// over. After each the driver is in the state it should be, every key it pressed is
// lifted, and no thread, handle, GDI object, device context or timer is left behind.
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "engine/state.h"
#include "platform/sim/bench_gdi.h"
#include "platform/sim/bench_modules.h"
#include "shell/layouts.h"
#include "stress.h"
#include "tests/shell/shell_fixture.h"

namespace stress {
namespace {

using shelltest::Lines;

using FaultStormTest = StormTest;

// ---- the terminal vanishing and coming back --------------------------------------------

class TerminalStormTest : public FaultStormTest {
 protected:
  TerminalStormTest() { launchStopped_ = false; }
  void SetUp() override {
    ShellTest::SetUp();
    ASSERT_TRUE(OpenTerminal());
    bench::PlaceLibrary("brindleres.dll", "brindleres_fra_lower.dll");
    LaunchHooked();
    ASSERT_EQ(DriverState, DRIVER_RUNNING);
    StickyKeysOn();
    desk_.Open();
    gdi_ = bench::LiveGdiObjects();
  }
  void TearDown() override {
    FaultStormTest::TearDown();
    bench::UseComPath("");
    CloseTerminal();
  }
  bool OpenTerminal() {
    char name[256];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return false;
    bench::UseComPath(name);
    return true;
  }
  void CloseTerminal() {
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
    master_ = slave_ = -1;
  }
  bool WriteAll(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  int master_ = -1;
  int slave_ = -1;
};

TEST_F(TerminalStormTest, TheTerminalVanishesMidStreamAndComesBack) {
  const long rounds = Count(20, 1000);
  Feeder feed(ActiveLayout, [this](const std::vector<uint8_t>& b) { return WriteAll(b); });
  feed.checker.CountLines("SetTimer([Dialog], 2, 2000)");  // each loss pauses the driver
  std::mt19937 rng(Variant());
  long lifted = 0;
  for (long round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    for (unsigned g = rng() % 40; g > 0; --g) {
      ASSERT_TRUE(feed.Gesture()) << feed.checker.Mismatch();
    }
    // Keys still down when the terminal goes: a letter, and now and then Shift or Fn.
    ASSERT_TRUE(feed.ClosePicker());
    if (rng() % 2) {
      ASSERT_TRUE(feed.Feed(kShift));
    }
    if (rng() % 3 == 0) {
      ASSERT_TRUE(feed.Feed(kFn));
    }
    ASSERT_TRUE(feed.Feed(static_cast<uint8_t>(kA + rng() % 20)));
    ASSERT_TRUE(feed.Drain()) << feed.checker.Failure();
    lifted += feed.model.HeldKeys();
    feed.ExpectLinkEnd(false);

    close(master_);  // the adapter is pulled out
    master_ = -1;
    ASSERT_TRUE(feed.checker.WaitForLines(round + 1)) << "the loss was never seen";
    bench::Settle();
    ASSERT_EQ(DriverState, DRIVER_PAUSED);
    ASSERT_EQ(DriverThreads(), 0);
    ASSERT_EQ(bench::PortOpenCount(), 0);
    ASSERT_EQ(feed.checker.Failure(), "");
    ASSERT_EQ(KeysDown(), "");
    // Paused, as stopped, the driver holds no port and no thread: the measure of leaks.
    if (round == 0) handles_ = bench::OpenHandles();

    // Back: the next retry opens it.
    close(slave_);
    slave_ = -1;
    ASSERT_TRUE(OpenTerminal());
    bench::Advance(2000);
    ASSERT_EQ(DriverState, DRIVER_RUNNING);
    ASSERT_EQ(DriverThreads(), 1);
  }
  EXPECT_EQ(feed.checker.Unexpected(), 0);
  EXPECT_GT(lifted, rounds);
  printf("[ figures  ] terminal lost and back %ld times: %ld bytes, %ld events in order, %ld keys lifted\n", rounds,
         feed.written, feed.events, lifted);
  feed.ExpectLinkEnd(false);
  Stop();
  EXPECT_EQ(feed.checker.Failure(), "");
  ExpectNothingLeftAfterStop();
}

// ---- the keyboard pulled out and plugged in ---------------------------------------------

// On the bench's line: pulled out, the port fails every wait and is then missing; the
// driver pauses and retries every two seconds until it is back.
TEST_F(FaultStormTest, TheKeyboardPulledOutAndPluggedInAgain) {
  const long rounds = Count(100, 2000);
  Feeder feed(ActiveLayout, [](const std::vector<uint8_t>& b) {
    bench::SendKeyBytes(b);
    return true;
  });
  std::mt19937 rng(Variant());
  StickyKeysOn();
  StartTyping();
  ASSERT_EQ(DriverState, DRIVER_RUNNING);
  int opens = bench::PortOpensTotal();
  for (long round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    for (unsigned g = rng() % 10; g > 0; --g) {
      ASSERT_TRUE(feed.Gesture()) << feed.checker.Mismatch();
    }
    ASSERT_TRUE(feed.ClosePicker());
    if (rng() % 2) {
      ASSERT_TRUE(feed.Feed(kBackspace));  // Delete with Shift, or Backspace
    }
    ASSERT_TRUE(feed.Feed(static_cast<uint8_t>(kA + rng() % 20)));
    ASSERT_TRUE(feed.Drain()) << feed.checker.Failure();
    feed.ExpectLinkEnd(false);

    bench::SetPortMissing(true);
    bench::FailAllWaits(true);
    bench::Settle();
    ASSERT_EQ(DriverState, DRIVER_PAUSED);
    ASSERT_EQ(DriverThreads(), 0);
    ASSERT_EQ(KeysDown(), "");
    ASSERT_EQ(feed.checker.Failure(), "");
    // Out for a while: each retry is refused, and nothing spins meanwhile.
    bench::ClearTrace();
    bench::Advance(2000 * (1 + rng() % 3));
    ASSERT_EQ(DriverState, DRIVER_PAUSED);
    ASSERT_EQ(bench::PortOpensTotal(), opens);

    bench::FailAllWaits(false);
    bench::SetPortMissing(false);
    bench::Advance(2000);
    ASSERT_EQ(DriverState, DRIVER_RUNNING);
    ASSERT_EQ(DriverThreads(), 1);
    ASSERT_EQ(bench::PortOpensTotal(), ++opens);
  }
  EXPECT_EQ(bench::AsicMappedPeak(), 1);
  feed.ExpectLinkEnd(false);
  Stop();
  EXPECT_EQ(feed.checker.Failure(), "");
  ExpectNothingLeftAfterStop();
}

// ---- the cradle's carrier flapping ------------------------------------------------------

TEST_F(FaultStormTest, TheCradlesCarrierFlapsThousandsOfTimes) {
  const long flaps = Count(1000, 10000);
  std::mt19937 rng(Variant());
  StartTyping();
  size_t handOffs = 0;
  bool carrier = false;
  for (long i = 0; i < flaps; ++i) {
    SCOPED_TRACE(i);
    // Now and then a key is down when the carrier comes: the hand-off must lift it.
    if (DriverState == DRIVER_RUNNING && rng() % 4 == 0) {
      bench::SendKeyBytes({kShift, kC});
      bench::Settle();
    }
    carrier = !carrier;
    const bool linked = bench::PortOpenCount() == 1;
    bench::SetCarrier(carrier);
    bench::Settle();
    if (carrier && linked) ++handOffs;
    bench::Advance(rng() % 3000);
    ASSERT_LE(bench::PortOpenCount(), 1);
    ASSERT_LE(DriverThreads(), 1);
    // A hand-off's reader sleeps its second without the port.
    ASSERT_GE(DriverThreads(), bench::PortOpenCount());
    ASSERT_EQ(bench::StartedPrograms().size(), handOffs);
    if (DriverState != DRIVER_RUNNING) {
      ASSERT_EQ(KeysDown(), "");
    }
  }
  // Out of the cradle for good: the driver runs again within one retry.
  bench::SetCarrier(false);
  bench::Advance(3000);
  EXPECT_EQ(DriverState, DRIVER_RUNNING);
  EXPECT_EQ(DriverThreads(), 1);
  EXPECT_EQ(bench::AsicMappedPeak(), 1);
  EXPECT_GT(handOffs, 0u);
  printf("[ figures  ] carrier changed %ld times: %zu hand-offs\n", flaps, handOffs);
  ExpectNothingLeftAfterStop();
}

// ---- suspend and resume ------------------------------------------------------------------

TEST_F(FaultStormTest, SuspendAndResumeOverAndOver) {
  const long resumes = Count(1000, 10000);
  std::mt19937 rng(Variant());
  StartTyping();
  size_t powerOns = bench::PowerWrites().size();
  for (long i = 0; i < resumes; ++i) {
    SCOPED_TRACE(i);
    switch (rng() % 4) {
      case 0: {
        // A repeating key: the resume stops its repeat though no release byte came.
        bench::SendKeyBytes({kB});
        bench::Advance(700);
        bench::RaiseResume();
        bench::Settle();
        bench::ClearTrace();
        bench::Advance(2000);
        ASSERT_EQ(bench::Trace({"keybd_event(0x42, 0x0)"}), Lines{}) << "the repeat outlived the resume";
        bench::SendKeyBytes({Up(kB)});
        break;
      }
      case 1:  // resumed with key bytes in the same event
        bench::SendLineEvent({kE, Up(kE)}, false, true);
        break;
      default:
        bench::RaiseResume();
        break;
    }
    bench::Settle();
    ++powerOns;
    ASSERT_EQ(bench::PowerWrites().size(), powerOns);
    ASSERT_EQ(bench::PowerState(), bench::Power::On);
    ASSERT_EQ(DriverState, DRIVER_RUNNING);
    ASSERT_EQ(DriverThreads(), 1);
    ASSERT_EQ(KeysDown(), "");
  }
  EXPECT_EQ(bench::PortOpensTotal(), 1);
  ExpectNothingLeftAfterStop();
}

}  // namespace
}  // namespace stress
