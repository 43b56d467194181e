#include "tests/support/program_run.h"

#include "platform/sim/bench_shell.h"
#include "platform/sim/bench_user.h"
#include "shell/mainwnd.h"
#include "shell/resids.h"
#include "shell/state.h"

namespace support {

static DWORD WINAPI ProgramThread(LPVOID) {
  static WCHAR commandLine[] = L"";
  return static_cast<DWORD>(wWinMain(GetModuleHandleW(nullptr), nullptr, commandLine, SW_SHOW));
}

HANDLE StartProgram() { return CreateThread(nullptr, 0, ProgramThread, nullptr, 0, nullptr); }

bool ExitProgramAsUser(HANDLE program, DWORD ms) {
  bench::AnswerNextMessageBox(IDYES);
  if (!bench::ChooseMenuCommand(hMainWnd, IDM_EXIT)) return false;
  return WaitForSingleObject(program, ms) == WAIT_OBJECT_0;
}

}  // namespace support
