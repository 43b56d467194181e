// The desktop installer: finds the synchronisation software through the registry, copies
// the device package and its description from the current directory into a folder of
// its own under the software's install folder, and starts the application manager on
// that description. Windowless; takes no arguments; exit code 0 or 1.
#include <string.h>

#include "platform/platform.h"

#define BUFFER_SIZE 256

static const char AppMgrKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CEAPPMGR.EXE";
static const char SyncKey[] = "Software\\Microsoft\\Windows CE Services";
static const char InstalledDirValue[] = "InstalledDir";
static const char PackageFolder[] = "corvane tavlo";
static const char PackageFile[] = "keybd.PPC_ARM.cab";
static const char DescriptionFile[] = "install.ini";
static const char Backslash[] = "\\";
static const char SourcePrefix[] = ".\\";
static const char Quote[] = "\"";
static const char ArgumentSeparator[] = "\" \"";
static const char BoxCaption[] = "corvane tavlo driver";
static const char NoAppMgrText[] = "Windows CE Services not installed!";
static const char NoSyncKeyText[] = "Cannot find ActiveSync path!";

static char AppMgrPath[BUFFER_SIZE];
static char InstallDir[BUFFER_SIZE];
static char DestPath[BUFFER_SIZE];
static char SourcePath[BUFFER_SIZE];
static STARTUPINFOA StartupInfo;
static PROCESS_INFORMATION ProcessInfo;

// Reads one registry value as text into a 256-byte buffer. FALSE when the key cannot
// be read or the value has no NUL within 256 bytes and no room for one.
static BOOL ReadValue(HKEY key, const char* name, char* buf) {
  DWORD size = BUFFER_SIZE;
  LONG rc = RegQueryValueExA(key, name, NULL, NULL, (LPBYTE)buf, &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || size > BUFFER_SIZE) return FALSE;
  if (size == 0 || buf[size - 1] != '\0') {
    // A full buffer is still a string when its zero lies inside it.
    if (size == BUFFER_SIZE) return memchr(buf, '\0', size) != NULL;
    buf[size] = '\0';
  }
  return TRUE;
}

// Appends text to a 256-byte buffer holding a NUL-terminated string; never writes past it.
static void Append(char* buf, const char* text) {
  size_t used = strlen(buf);
  size_t room = BUFFER_SIZE - 1 - used;
  size_t len = strlen(text);
  if (len > room) len = room;
  memcpy(buf + used, text, len);
  buf[used + len] = '\0';
}

// Composes <install folder>\corvane tavlo into DestPath.
static void ComposePackageFolder() {
  DestPath[0] = '\0';
  Append(DestPath, InstallDir);
  Append(DestPath, Backslash);
  Append(DestPath, PackageFolder);
}

// Copies .\<file> into the package folder, over a copy an earlier run left there.
static void CopyIntoPackage(const char* file) {
  ComposePackageFolder();
  Append(DestPath, Backslash);
  Append(DestPath, file);
  SourcePath[0] = '\0';
  Append(SourcePath, SourcePrefix);
  Append(SourcePath, file);
  CopyFileA(SourcePath, DestPath, FALSE);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  HKEY key;

  memset(AppMgrPath, 0, sizeof AppMgrPath);
  memset(InstallDir, 0, sizeof InstallDir);

  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, AppMgrKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    MessageBoxA(NULL, NoAppMgrText, BoxCaption, MB_OK | MB_ICONWARNING);
    return 1;
  }
  if (!ReadValue(key, NULL, AppMgrPath)) {
    MessageBeep(MB_OK);
    return 1;
  }

  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SyncKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    MessageBoxA(NULL, NoSyncKeyText, BoxCaption, MB_OK | MB_ICONWARNING);
    return 1;
  }
  if (!ReadValue(key, InstalledDirValue, InstallDir)) {
    MessageBeep(MB_OK);
    return 1;
  }

  // Values that fit their buffers can still make a path or the command line too long for
  // 256 bytes. Such an install is refused like an unreadable value, before anything is
  // created or started, rather than run with a cut path.
  size_t dirLen = strlen(InstallDir);
  size_t longestPath = dirLen + 1 + strlen(PackageFolder) + 1 + strlen(PackageFile);
  size_t commandLine = 1 + strlen(AppMgrPath) + 3 + dirLen + 1 + strlen(PackageFolder) + 1 +
                       strlen(DescriptionFile) + 1;
  if (longestPath >= BUFFER_SIZE || commandLine >= BUFFER_SIZE) {
    MessageBeep(MB_OK);
    return 1;
  }

  ComposePackageFolder();
  CreateDirectoryA(DestPath, NULL);
  CopyIntoPackage(PackageFile);
  CopyIntoPackage(DescriptionFile);

  SourcePath[0] = '\0';
  Append(SourcePath, Quote);
  Append(SourcePath, AppMgrPath);
  Append(SourcePath, ArgumentSeparator);
  Append(SourcePath, InstallDir);
  Append(SourcePath, Backslash);
  Append(SourcePath, PackageFolder);
  Append(SourcePath, Backslash);
  Append(SourcePath, DescriptionFile);
  Append(SourcePath, Quote);

  GetStartupInfoA(&StartupInfo);
  CreateProcessA(NULL, SourcePath, NULL, NULL, FALSE, 0, NULL, NULL, &StartupInfo, &ProcessInfo);
  return 0;
}
