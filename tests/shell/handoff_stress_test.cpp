// Cradle hand-offs racing a user's stop, a thousand times: whichever takes the port
// first, the port is closed once, the driver ends stopped with no resume timer, and no
// reader thread, handle or second mapping of the register block is left behind.
#include <thread>

#include "shell_fixture.h"

namespace shelltest {
namespace {

class HandOffStressTest : public ShellTest {};

TEST_F(HandOffStressTest, AThousandCradleHandOffsRacingAUserStop) {
  const int handles = bench::OpenHandles();
  int handOffs = 0;
  for (int i = 0; i < 1000; ++i) {
    SCOPED_TRACE(i);
    Start();
    ASSERT_EQ(DriverState, DRIVER_RUNNING);
    ASSERT_EQ(Readers(), 1);
    bench::ClearTrace();
    size_t started = bench::StartedPrograms().size();
    switch (i % 3) {
      case 0:  // the hand-off has begun when the stop comes
        bench::SetCarrier(true);
        bench::Settle();
        PostMessageW(hSettingsDlg, kRunStop, 0, 0);
        break;
      case 1:  // the stop comes first, the cradle right behind it
        PostMessageW(hSettingsDlg, kRunStop, 0, 0);
        bench::SetCarrier(true);
        break;
      default: {  // both at once, from two threads
        std::thread cradle([] { bench::SetCarrier(true); });
        PostMessageW(hSettingsDlg, kRunStop, 0, 0);
        cradle.join();
        break;
      }
    }
    bench::Settle();
    bench::Advance(1000);  // a hand-off that got the port sleeps its second
    ASSERT_EQ(DriverState, DRIVER_STOPPED);
    ASSERT_EQ(Readers(), 0);
    ASSERT_EQ(bench::PortOpenCount(), 0);
    ASSERT_LE(bench::Trace({"CloseHandle(COM1)"}).size(), 1u);
    bool handedOff = bench::StartedPrograms().size() > started;
    handOffs += handedOff ? 1 : 0;
    // A resume timer the hand-off armed was killed by the stop.
    Lines resume = bench::Trace({"SetTimer([SettingsDlg], 2", "KillTimer([SettingsDlg], 2"});
    if (handedOff) {
      ASSERT_EQ(resume, (Lines{DialogTimer(true, 2, 2000), DialogTimer(false, 2)}));
      ASSERT_EQ(bench::Trace(kDisplayCalls).size(), 6u);  // paused, then stopped
    } else {
      ASSERT_TRUE(resume.empty());
    }
    ASSERT_EQ(bench::Trace(kDisplayCalls).back(), Display(DRIVER_STOPPED, false).back());
    ASSERT_EQ(bench::PowerState(), bench::Power::Off);
    ASSERT_EQ(bench::AsicMappedCount(), 0);
    bench::SetCarrier(false);
    bench::ClearTrace();
    bench::Advance(4000);
    ASSERT_TRUE(bench::Trace({"CreateFile"}).empty()) << "a stopped driver never retries";
  }
  EXPECT_GE(handOffs, 333);
  EXPECT_LT(handOffs, 1000);
  EXPECT_EQ(bench::AsicMappedPeak(), 1);
  // Neither the watchdog nor a resume timer outlives the stop.
  bench::ClearTrace();
  bench::Advance(1300000);
  EXPECT_TRUE(bench::Trace({"CreateFile"}).empty());

  Run(kRunShutdown);
  EXPECT_EQ(bench::OpenHandles(), handles);
  PostMessageW(hSettingsDlg, WM_CLOSE, 0, 0);
  WaitForSingleObject(uiThread_, INFINITE);
  CloseHandle(uiThread_);
  uiThread_ = nullptr;
  bench::Settle();
  EXPECT_EQ(bench::LiveThreads(), 0);
  EXPECT_EQ(bench::OpenHandles(), handles - 1);  // less the user-interface thread's own
}

}  // namespace
}  // namespace shelltest
