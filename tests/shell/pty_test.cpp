// The program on a pseudo-terminal through the sim's tty backend, on the real clock: its
// driver starts on the terminal by itself.
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "shell_fixture.h"

namespace shelltest {
namespace {

class PtyTest : public ShellTest {
 protected:
  PtyTest() { launchStopped_ = false; }
  void SetUp() override {
    ShellTest::SetUp();
    char name[256];
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    bench::UseRealClock(true);
    bench::UseComPath(name);
    LaunchHooked();
  }
  void TearDown() override {
    ShellTest::TearDown();
    bench::UseRealClock(false);
    bench::UseComPath("");
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
  }
  // Waits up to 5 s of real time for a condition of the running program.
  static bool Within5s(const std::function<bool()>& done) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
  static double CpuSeconds() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  }

  int master_ = -1;
  int slave_ = -1;
};

TEST_F(PtyTest, KeyBytesWrittenToTheTerminalAreTyped) {
  ASSERT_EQ(DriverState, DRIVER_RUNNING);
  bench::ClearTrace();
  const unsigned char bytes[] = {0x0B, 0x8B, 0x0C, 0x8C};  // h, i
  ASSERT_EQ(write(master_, bytes, sizeof bytes), (ssize_t)sizeof bytes);
  EXPECT_TRUE(Within5s([] { return bench::Trace({"keybd_event"}).size() >= 4; }));
  EXPECT_EQ(bench::Trace({"keybd_event"}), (Lines{"keybd_event(0x48, 0x0)", "keybd_event(0x48, 0x2)",
                                                  "keybd_event(0x49, 0x0)", "keybd_event(0x49, 0x2)"}));
  Stop();
  EXPECT_EQ(Readers(), 0);
}

TEST_F(PtyTest, LostTerminalPausesTheDriverWhichThenUsesNoCpu) {
  ASSERT_EQ(DriverState, DRIVER_RUNNING);
  close(master_);  // the adapter is pulled out
  master_ = -1;
  ASSERT_TRUE(Within5s([this] { return DriverState == DRIVER_PAUSED && Readers() == 0; }));
  EXPECT_TRUE(bench::StartedPrograms().empty());

  // CPU is measured over real time; the retry then comes from the bench's clock, so the
  // test never waits out the 2000 ms itself.
  bench::UseRealClock(false);
  size_t tries = bench::Trace({"CreateFile"}).size();
  double cpu0 = CpuSeconds();
  auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  double cpu = CpuSeconds() - cpu0;
  double real = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LT(cpu / real, 0.05) << cpu << " s of CPU in " << real << " s";
  bench::Advance(2000);
  EXPECT_GT(bench::Trace({"CreateFile"}).size(), tries) << "the retries go on";
  EXPECT_EQ(DriverState, DRIVER_PAUSED);
  EXPECT_EQ(Readers(), 0);
  RecordProperty("cpu_percent", std::to_string(100.0 * cpu / real));
}

}  // namespace
}  // namespace shelltest
