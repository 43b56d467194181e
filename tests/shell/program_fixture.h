// The whole driver program on the simulated handheld: its entry runs on a simulated
// thread as the user-interface thread, and the test is the user in front of it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace programtest {

using Lines = std::vector<std::string>;

// Every process-wide variable of the program back at its start value.
void ResetProgramState();

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts brindle's entry on a new simulated thread; returns once the handheld settles.
  // The first copy is the program under test; a later one's thread is returned.
  HANDLE Launch();
  // Waits for the program's entry to return and gives its exit code.
  DWORD WaitForExit();
  // Waits for `thread` (called `what` in a failure) to end, then closes the handle. A
  // wait gives up after bench::kWaitLimitMs of real time, or as soon as the handheld
  // finds that it can never end, and fails the test saying where each thread waits;
  // the code is then 0xFFFFFFFF.
  static DWORD ExitCodeOf(HANDLE thread, const char* what = "a simulated thread");
  // The user confirms the exit with `answer` (any answer but No ends the program).
  void ExitWithAnswer(int answer);
  bool Running();

  HANDLE program_ = nullptr;
};

}  // namespace programtest
