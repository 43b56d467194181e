// Key bytes in volume through the tty backend on a pseudo-terminal: what the input system
// receives equals, one for one and in order, what the model of the keyboard's rules
// expects; and when the link ends, every key still down is lifted.
//
// The bench's clock stays virtual and is never advanced, so no repeat ever fires: the
// comparison holds the translator's own events only, by design.
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "engine/state.h"
#include "platform/sim/bench_modules.h"
#include "shell/layouts.h"
#include "stress.h"
#include "tests/shell/shell_fixture.h"

namespace stress {
namespace {

using shelltest::Lines;

class PtyLoadTest : public shelltest::ShellTest {
 protected:
  PtyLoadTest() { launchStopped_ = false; }
  void SetUp() override {
    ShellTest::SetUp();
    char name[256];
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    bench::UseComPath(name);
    // The French library: its picker has dead keys, so accents are in the stream.
    bench::PlaceLibrary("brindleres.dll", "brindleres_fra_lower.dll");
    LaunchHooked();
    ASSERT_EQ(DriverState, DRIVER_RUNNING);
    bench::ToggleCheckBox(hSettingsDlg, IDC_STICKY_SHIFT);
    bench::ToggleCheckBox(hSettingsDlg, IDC_STICKY_FN);
    bench::Settle();
    ASSERT_EQ(PrefShift, 1u);
    ASSERT_EQ(PrefFn, 1u);
    desk_.Open();
    ASSERT_EQ(GetForegroundWindow(), desk_.window());
  }
  void TearDown() override {
    bench::KeepTrace(true);
    desk_.Close();
    ShellTest::TearDown();
    bench::UseComPath("");
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
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

  // Writes `count` bytes of the generated stream (paced at `baud` when not 0), then stops
  // the driver, and checks every event on the way.
  void Run(long count, long baud, const char* figure) {
    Feeder feed(ActiveLayout, [this](const std::vector<uint8_t>& b) { return WriteAll(b); }, baud);
    bench::KeepTrace(false);  // a long run keeps no trace; the checker sees each line

    auto t0 = std::chrono::steady_clock::now();
    bool ok = true;
    while (ok && feed.written < count) ok = feed.Gesture();
    ok = ok && feed.ClosePicker() && feed.Drain();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ASSERT_TRUE(ok) << feed.checker.Failure() << " (" << feed.checker.BytesRead() << " of " << feed.written
                    << " bytes read)";
    EXPECT_EQ(PickerWindow(), nullptr);

    // The link ends with keys down: each is lifted, left Shift last.
    const int held = feed.model.HeldKeys();
    feed.ExpectLinkEnd(false);
    Stop();
    EXPECT_EQ(DriverState, DRIVER_STOPPED);
    EXPECT_EQ(bench::LiveThreads(), 2) << "the user-interface thread and the desk only";
    EXPECT_EQ(feed.checker.Failure(), "");
    EXPECT_EQ(feed.checker.Matched(), feed.events);
    EXPECT_EQ(feed.checker.Unexpected(), 0);
    EXPECT_EQ(feed.checker.BytesRead(), feed.written);
    EXPECT_EQ(KeysDown(), "");

    char text[400];
    snprintf(text, sizeof text,
             "%s: %ld bytes in %.2f s (%.0f bytes/s), %ld events in order, %ld picks (%ld accents), "
             "%ld settles, %d keys held at the end",
             figure, feed.written, seconds, feed.written / seconds, feed.events, feed.model.Picks(),
             feed.model.Accents(), feed.settles, held);
    printf("[ figures  ] %s\n", text);
    RecordProperty("bytes", std::to_string(feed.written));
    RecordProperty("seconds", std::to_string(seconds));
    RecordProperty("events", std::to_string(feed.events));
    // A stream this long holds picks and accents whatever the variant.
    if (count >= 5000) {
      EXPECT_GT(feed.model.Picks(), 0);
      EXPECT_GT(feed.model.Accents(), 0);
    }
  }

  int master_ = -1;
  int slave_ = -1;
  Desk desk_;
};

TEST_F(PtyLoadTest, KeyBytesAsFastAsTheTerminalTakesThem) {
  Run(CountFrom("BRINDLE_STRESS_BYTES", 20000, 1000000), 0, "full speed");
}

TEST_F(PtyLoadTest, KeyBytesAtTheKeyboards9600Baud) {
  Run(CountFrom("BRINDLE_STRESS_PACED_BYTES", 400, 60000), 9600, "9600 baud");
}

}  // namespace
}  // namespace stress
