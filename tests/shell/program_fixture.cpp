#include "program_fixture.h"

#include "engine/serial.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_user.h"
#include "shell/dialogs.h"
#include "shell/driver.h"
#include "shell/mainwnd.h"
#include "shell/resids.h"
#include "shell/state.h"
#include "tests/support/start_values.h"

namespace programtest {

void ResetProgramState() {
  DriverState = DRIVER_STOPPED;
  TrayIconPending = 1;
  hComm = INVALID_HANDLE_VALUE;
  ReaderStop = 0;
  ReaderExited = 1;
  ReaderRebuild = 0;
  hReaderExitEvent = nullptr;
  v_pASICRegs = nullptr;
  AsicMapped = 0;
  testsupport::ResetEngineState();
  hTouchEvent = nullptr;
  hResDll = nullptr;
  hInstance = nullptr;
  hMainWnd = nullptr;
  hMenuBar = nullptr;
  hSettingsDlg = nullptr;
  HotkeyRegistered = FALSE;
}

static DWORD WINAPI ProgramThread(LPVOID) {
  static WCHAR commandLine[] = L"";
  return static_cast<DWORD>(wWinMain(GetModuleHandleW(nullptr), nullptr, commandLine, SW_SHOW));
}

void ProgramTest::SetUp() {
  ASSERT_TRUE(bench::Reset());
  ResetProgramState();
}

void ProgramTest::TearDown() {
  if (program_ != nullptr) {
    if (Running()) ExitWithAnswer(IDYES);
    WaitForExit();
  }
  EXPECT_TRUE(bench::Reset());
}

HANDLE ProgramTest::Launch() {
  HANDLE thread = CreateThread(nullptr, 0, ProgramThread, nullptr, 0, nullptr);
  EXPECT_NE(thread, nullptr);
  bench::NameThread(thread, program_ == nullptr ? "the program (wWinMain)" : "a later copy of the program");
  bench::Settle();
  if (program_ != nullptr) return thread;
  program_ = thread;
  return nullptr;
}

DWORD ProgramTest::ExitCodeOf(HANDLE thread, const char* what) {
  DWORD code = 0xFFFFFFFF;
  std::string why;
  if (bench::WaitFor(thread, bench::kWaitLimitMs, &why) == bench::Waited::Signaled)
    GetExitCodeThread(thread, &code);
  else
    ADD_FAILURE() << "waited for " << what << " to end: " << why;
  CloseHandle(thread);
  return code;
}

bool ProgramTest::Running() {
  DWORD code = 0;
  return program_ != nullptr && GetExitCodeThread(program_, &code) && code == STILL_ACTIVE;
}

DWORD ProgramTest::WaitForExit() {
  if (program_ == nullptr) return 0xFFFFFFFF;
  HANDLE thread = program_;
  program_ = nullptr;
  return ExitCodeOf(thread, "the program's entry (wWinMain)");
}

void ProgramTest::ExitWithAnswer(int answer) {
  bench::AnswerNextMessageBox(answer);
  if (hSettingsDlg != nullptr)
    PostMessageW(hSettingsDlg, WM_COMMAND, IDC_EXIT_BUTTON, 0);
  else
    PostMessageW(hMainWnd, WM_CLOSE, 0, 0);  // no settings dialog to ask with
  bench::Settle();
}

}  // namespace programtest
