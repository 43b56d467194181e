// Cradle hand-offs meeting a user's stop, a thousand times, in each order the two can
// come in: whichever takes the port first, the port is closed once, the driver ends
// stopped with no resume timer, and no reader thread, handle or second mapping of the
// register block is left behind.
#include "shell_fixture.h"

namespace shelltest {
namespace {

class HandOffStressTest : public ShellTest {};

enum Order {
  kHandOffThenStop,      // the hand-off has begun (the reader sleeps its second) when the stop comes
  kStopThenCradle,       // the stop has finished when the cradle is entered
  kPauseWaitsThenStop,   // the reader's pause waits on a busy user-interface thread, then the stop
  kOrders,
};

TEST_F(HandOffStressTest, AThousandCradleHandOffsMeetingAUserStop) {
  const int handles = bench::OpenHandles();
  int handOffs = 0;
  for (int i = 0; i < 1000; ++i) {
    SCOPED_TRACE(i);
    // The round number decides the order, so every run meets each order the same times.
    const Order order = static_cast<Order>(i % kOrders);
    Start();
    ASSERT_EQ(DriverState, DRIVER_RUNNING);
    ASSERT_EQ(Readers(), 1);
    bench::ClearTrace();
    size_t started = bench::StartedPrograms().size();
    switch (order) {
      case kHandOffThenStop:
        bench::SetCarrier(true);
        bench::Settle();
        PostStartStop();
        break;
      case kStopThenCradle:
        PostStartStop();
        bench::Settle();
        ASSERT_EQ(DriverState, DRIVER_STOPPED);
        bench::SetCarrier(true);
        break;
      default:
        bench::SetCarrier(true);
        bench::Settle();
        PostMessageW(hSettingsDlg, kRunBlockThenStop, 0, 0);
        bench::Advance(1000);  // the reader's pause now waits for the busy thread
        ASSERT_EQ(Readers(), 1);
        ASSERT_EQ(DriverState, DRIVER_RUNNING);
        SetEvent(release_);
        break;
    }
    bench::Settle();
    bench::Advance(1000);  // a hand-off that got the port sleeps its second
    ASSERT_EQ(DriverState, DRIVER_STOPPED);
    ASSERT_EQ(Readers(), 0);
    ASSERT_EQ(bench::PortOpenCount(), 0);
    ASSERT_EQ(bench::Trace({"CloseHandle(COM1)"}).size(), 1u);
    const bool handedOff = bench::StartedPrograms().size() > started;
    ASSERT_EQ(handedOff, order != kStopThenCradle);
    handOffs += handedOff ? 1 : 0;
    Lines resume = bench::Trace({"SetTimer([Dialog], 2", "KillTimer([Dialog], 2"});
    Lines shown;
    if (handedOff) {
      // The hand-off's pause shows itself, and the stop then kills the resume timer it armed.
      ASSERT_EQ(resume, (Lines{DialogTimer(true, 2, 2000), DialogTimer(false, 2)}));
      shown = Display(DRIVER_PAUSED, false);
    } else {
      ASSERT_TRUE(resume.empty());
    }
    for (auto& l : Display(DRIVER_STOPPED, false)) shown.push_back(l);
    ASSERT_EQ(bench::Trace(kDisplayCalls), shown);
    ASSERT_EQ(bench::PowerState(), bench::Power::Off);
    ASSERT_EQ(bench::AsicMappedCount(), 0);
    bench::SetCarrier(false);
    bench::ClearTrace();
    bench::Advance(4000);
    ASSERT_TRUE(bench::Trace({"CreateFile"}).empty()) << "a stopped driver never retries";
  }
  EXPECT_EQ(handOffs, 667);  // every round but the stop-first ones
  EXPECT_EQ(bench::AsicMappedPeak(), 1);
  // Neither the watchdog nor a resume timer outlives the stop.
  bench::ClearTrace();
  bench::Advance(1300000);
  EXPECT_TRUE(bench::Trace({"CreateFile"}).empty());
  EXPECT_EQ(bench::OpenHandles(), handles);

  // The exit leaves no thread behind.
  ExitWithAnswer(IDYES);
  EXPECT_EQ(WaitForExit(), 0u);
  bench::Settle();
  EXPECT_EQ(bench::LiveThreads(), 0);
}

}  // namespace
}  // namespace shelltest
