// The process entry of a desktop program built for the host: Windows calls WinMain with
// the module, no previous instance, the command line after the program name and the
// show state; here those are a stand-in module, null, "" and SW_SHOWNORMAL.
#include "platform/platform.h"

int main() {
  static char emptyCommandLine[] = "";
  return WinMain((HINSTANCE)&emptyCommandLine, nullptr, emptyCommandLine, SW_SHOWNORMAL);
}
