// The handheld's entry point. The loader calls it with the four WinMain arguments; it
// readies the common controls the program's dialogs use, runs wWinMain, and ends the
// process with its result: the primary thread's exit ends a CE process, with that
// thread's exit code as the process's.
//
// No static constructors are run: the compiler driver refuses any object that has one.
#include "platform/pocketpc/pocketpc.h"

extern "C" int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);

extern "C" void WinMainCRTStartup(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand) {
  // The trackbar class comes from commctrl.dll.
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  ExitThread(static_cast<DWORD>(wWinMain(instance, previous, commandLine, showCommand)));
}
