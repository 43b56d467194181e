// Stands in for the synchronisation software's application manager in the Wine tests:
// appends the command line it was started with, byte for byte and then a newline, to
// "<its own path>.cmdline", and ends.
#include <windows.h>

#include <string.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char path[MAX_PATH + 16];
  DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 2;
  memcpy(path + n, ".cmdline", sizeof ".cmdline");
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            NULL);
  if (file == INVALID_HANDLE_VALUE) return 3;
  const char* line = GetCommandLineA();
  DWORD written = 0;
  BOOL ok = WriteFile(file, line, (DWORD)strlen(line), &written, NULL) && WriteFile(file, "\n", 1, &written, NULL);
  CloseHandle(file);
  return ok ? 0 : 4;
}
