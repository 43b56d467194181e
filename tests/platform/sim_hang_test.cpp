// A test's wait that can never end is reported, not waited on forever: under virtual
// time a Sleep ends only when someone moves the clock, and when the only one who would
// is the test, itself waiting, nothing ever will. And a wait that something can still
// end is never reported, however quiet the handheld looks meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <functional>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/sim/bench.h"

namespace {

using Clock = std::chrono::steady_clock;

DWORD WINAPI SleepsAQuarterSecond(LPVOID) {
  Sleep(250);
  return 7;
}

// Waits for the event it is given, with no time limit.
DWORD WINAPI WaitsForItsEvent(LPVOID event) {
  WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
  return 8;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A thread of the test that the handheld has seen (it has made a platform call) before
// `known` is set, and that then does `then` without waiting in the handheld.
std::thread KnownThread(std::promise<void>* known, std::function<void()> then) {
  std::future<void> seen = known->get_future();
  std::thread t([known, then] {
    GetCurrentThreadId();
    known->set_value();
    then();
  });
  seen.wait();
  return t;
}

class SimHang : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bench::Reset());
    bench::SetHangReportAfter(200);
  }
  void TearDown() override { EXPECT_TRUE(bench::Reset()); }
};

TEST_F(SimHang, AWaitOnlyTheClockCouldEndIsReportedWithWhoSleepsWhereAndUntilWhen) {
  bench::Advance(1300000);
  HANDLE sleeper = CreateThread(nullptr, 0, SleepsAQuarterSecond, nullptr, 0, nullptr);
  ASSERT_NE(sleeper, nullptr);
  bench::NameThread(sleeper, "the sleeper");
  bench::Settle();

  std::string why;
  auto start = Clock::now();
  EXPECT_EQ(bench::WaitFor(sleeper, bench::kWaitLimitMs, &why), bench::Waited::NeverEnds);
  double took = SecondsSince(start);
  EXPECT_GE(took, 0.2) << "reported before the handheld had been quiet for the time set";
  EXPECT_LT(took, 20.0) << "not reported until long after";
  EXPECT_NE(why.find("Only the clock could end these waits"), std::string::npos) << why;
  EXPECT_NE(why.find("the sleeper: Sleep(250) until 1300250 ms"), std::string::npos) << why;
  EXPECT_NE(why.find("clock: 1300000 ms (virtual)"), std::string::npos) << why;
  EXPECT_NE(why.find("in bench::WaitFor(thread "), std::string::npos) << "the test's own wait: " << why;

  // Nothing was lost: once the clock moves the sleep ends as it would have.
  bench::Advance(250);
  EXPECT_EQ(bench::WaitFor(sleeper, bench::kWaitLimitMs, &why), bench::Waited::Signaled) << why;
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(sleeper, &code));
  EXPECT_EQ(code, 7u);
  CloseHandle(sleeper);
}

TEST_F(SimHang, AWaitOnAnotherWaitThatNothingEndsIsReportedToo) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE waiter = CreateThread(nullptr, 0, WaitsForItsEvent, event, 0, nullptr);
  ASSERT_NE(waiter, nullptr);
  bench::Settle();
  std::string why;
  EXPECT_EQ(bench::WaitFor(waiter, bench::kWaitLimitMs, &why), bench::Waited::NeverEnds);
  EXPECT_EQ(why.find("Only the clock"), std::string::npos) << "no sleeper here: " << why;
  EXPECT_NE(why.find("in WaitForSingleObject(an event), no deadline"), std::string::npos) << why;
  SetEvent(event);
  EXPECT_EQ(bench::WaitFor(waiter, bench::kWaitLimitMs, &why), bench::Waited::Signaled) << why;
  CloseHandle(waiter);
  CloseHandle(event);
}

struct EndedRow {
  const char* name;
  bool byTheClock;  // the wait is for the sleeper, else for the event's waiter
  // Runs beside the test's wait, on a thread of the test, and ends it.
  void (*helper)(HANDLE event);
};

// However long the handheld stays quiet, a wait is not reported while a thread of the
// test could still end it: one that moves the clock, or one the handheld has seen and
// that is busy elsewhere.
TEST_F(SimHang, AWaitSomethingStillEndsIsNeverReported) {
  const EndedRow rows[] = {
      {"the clock moved by another thread of the test", true,
       [](HANDLE) {
         for (int i = 0; i < 100; ++i) bench::Advance(10);
       }},
      {"an event set by a thread of the test that was busy elsewhere meanwhile", false,
       [](HANDLE event) {
         std::this_thread::sleep_for(std::chrono::milliseconds(1000));
         SetEvent(event);
       }},
  };
  for (const EndedRow& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(bench::Reset());
    bench::SetHangReportAfter(100);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE sleeper = CreateThread(nullptr, 0, SleepsAQuarterSecond, nullptr, 0, nullptr);
    HANDLE waiter = CreateThread(nullptr, 0, WaitsForItsEvent, event, 0, nullptr);
    bench::Settle();
    std::promise<void> known;
    std::thread helper = KnownThread(&known, [&row, event] { row.helper(event); });
    std::string why;
    EXPECT_EQ(bench::WaitFor(row.byTheClock ? sleeper : waiter, bench::kWaitLimitMs, &why), bench::Waited::Signaled)
        << why;
    helper.join();
    SetEvent(event);
    bench::Advance(250);
    EXPECT_EQ(bench::WaitFor(sleeper, bench::kWaitLimitMs, &why), bench::Waited::Signaled) << why;
    EXPECT_EQ(bench::WaitFor(waiter, bench::kWaitLimitMs, &why), bench::Waited::Signaled) << why;
    CloseHandle(sleeper);
    CloseHandle(waiter);
    CloseHandle(event);
  }
}

// A wait that something could still end, but nothing does, ends at its limit in real
// time, with the same account of who waits where.
TEST_F(SimHang, TheRealTimeLimitEndsAWaitThatNothingEnds) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE waiter = CreateThread(nullptr, 0, WaitsForItsEvent, event, 0, nullptr);
  bench::NameThread(waiter, "the waiter");
  bench::Settle();
  std::atomic<bool> done{false};
  // Known to the handheld and never waiting in it: the test's wait is never hopeless.
  std::promise<void> known;
  std::thread busy = KnownThread(&known, [&done] {
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  std::string why;
  auto start = Clock::now();
  EXPECT_EQ(bench::WaitFor(waiter, 300, &why), bench::Waited::TimedOut);
  EXPECT_GE(SecondsSince(start), 0.3);
  EXPECT_NE(why.find("still waiting after 300 ms of real time"), std::string::npos) << why;
  EXPECT_NE(why.find("the waiter: in WaitForSingleObject(an event), no deadline"), std::string::npos) << why;
  done = true;
  busy.join();
  SetEvent(event);
  EXPECT_EQ(bench::WaitFor(waiter, bench::kWaitLimitMs, &why), bench::Waited::Signaled) << why;
  CloseHandle(waiter);
  CloseHandle(event);
}

TEST_F(SimHang, AWaitOnNoObjectSaysSo) {
  std::string why;
  EXPECT_EQ(bench::WaitFor(reinterpret_cast<HANDLE>(0x7777), 1000, &why), bench::Waited::NoObject);
  EXPECT_EQ(why, "not an open handle");
}

// A platform call has no way to say "never": the test program stops with the report.
TEST(SimHangDeathTest, AnInfiniteWaitOnlyTheClockCouldEndStopsTheProgramSayingWhy) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        bench::Reset();
        bench::SetHangReportAfter(100);
        bench::Advance(1300000);
        HANDLE sleeper = CreateThread(nullptr, 0, SleepsAQuarterSecond, nullptr, 0, nullptr);
        bench::Settle();
        WaitForSingleObject(sleeper, INFINITE);
      },
      "a wait that can never end.*thread [0-9]+: Sleep\\(250\\) until 1300250 ms.*in "
      "WaitForSingleObject\\(thread [0-9]+\\), no deadline");
}

}  // namespace
