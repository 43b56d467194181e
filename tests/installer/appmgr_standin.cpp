// Stands in for the synchronisation software's application manager in the Wine tests.
// It appends the command line it was started with, byte for byte and then a newline, to
// "<its own path>.cmdline". Then, as the real one would, it reads the install.ini named
// by its argument, finds the component's CabFiles and opens that cabinet, relative to
// the ini's folder. What it found goes to "<its own path>.found", one "key=value" a line
// (ini, component, cabfiles, cab, signature, members, member for each name in the
// cabinet's order, or error), and the bytes it read to "<its own path>.cab".
#include <windows.h>

#include <stdio.h>
#include <string.h>

static char ownPath[MAX_PATH + 16];
static DWORD ownLength;

static HANDLE CreateBeside(const char* suffix, DWORD access, DWORD disposition) {
  char path[MAX_PATH + 16];
  memcpy(path, ownPath, ownLength);
  strcpy(path + ownLength, suffix);
  return CreateFileA(path, access, FILE_SHARE_READ, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
}

static BOOL WriteAll(HANDLE file, const void* data, DWORD size) {
  DWORD written = 0;
  return WriteFile(file, data, size, &written, NULL) && written == size;
}

static HANDLE found = INVALID_HANDLE_VALUE;

static void Found(const char* key, const char* value) {
  WriteAll(found, key, (DWORD)strlen(key));
  WriteAll(found, "=", 1);
  WriteAll(found, value, (DWORD)strlen(value));
  WriteAll(found, "\n", 1);
}

static unsigned Read16(const unsigned char* p) { return p[0] | (p[1] << 8); }
static unsigned long Read32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | ((unsigned long)p[3] << 24);
}

// The members of a Microsoft cabinet: CFHEADER holds the offset of the first CFFILE
// (at 16) and their count (at 28); each CFFILE is 16 bytes and a NUL-ended name.
static void ListMembers(const unsigned char* cab, DWORD size) {
  char text[64];
  if (size < 36) {
    Found("error", "shorter than a cabinet header");
    return;
  }
  unsigned long at = Read32(cab + 16);
  unsigned count = Read16(cab + 28);
  sprintf(text, "%u", count);
  Found("members", text);
  for (unsigned i = 0; i < count; i++) {
    if (at + 16 >= size) {
      Found("error", "member list runs past the file");
      return;
    }
    const char* name = (const char*)cab + at + 16;
    const void* end = memchr(name, 0, size - (at + 16));
    if (!end) {
      Found("error", "member name runs past the file");
      return;
    }
    Found("member", name);
    at = (unsigned long)((const unsigned char*)end - cab) + 1;
  }
}

static void OpenPackage(const char* ini) {
  char component[256] = "";
  char cabFiles[256] = "";
  char cabPath[MAX_PATH * 2];
  Found("ini", ini);
  GetPrivateProfileStringA("CEAppManager", "Component", "", component, sizeof component, ini);
  Found("component", component);
  if (!component[0]) {
    Found("error", "no Component in [CEAppManager]");
    return;
  }
  GetPrivateProfileStringA(component, "CabFiles", "", cabFiles, sizeof cabFiles, ini);
  Found("cabfiles", cabFiles);
  if (!cabFiles[0]) {
    Found("error", "no CabFiles");
    return;
  }
  // The first cabinet of the list; ours names one.
  char* comma = strchr(cabFiles, ',');
  if (comma) *comma = 0;
  const char* slash = strrchr(ini, '\\');
  size_t dirLength = slash ? (size_t)(slash - ini) + 1 : 0;
  if (dirLength + strlen(cabFiles) >= sizeof cabPath) {
    Found("error", "cabinet path too long");
    return;
  }
  memcpy(cabPath, ini, dirLength);
  strcpy(cabPath + dirLength, cabFiles);
  Found("cab", cabPath);

  HANDLE file = CreateFileA(cabPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    Found("error", "cannot open the cabinet");
    return;
  }
  DWORD size = GetFileSize(file, NULL);
  unsigned char* data = (unsigned char*)HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
  DWORD got = 0;
  BOOL read = data && ReadFile(file, data, size, &got, NULL) && got == size;
  CloseHandle(file);
  if (!read) {
    Found("error", "cannot read the cabinet");
    return;
  }
  HANDLE copy = CreateBeside(".cab", GENERIC_WRITE, CREATE_ALWAYS);
  if (copy != INVALID_HANDLE_VALUE) {
    WriteAll(copy, data, size);
    CloseHandle(copy);
  }
  char signature[5] = "";
  if (size >= 4) memcpy(signature, data, 4);
  for (int i = 0; i < 4; i++)
    if (signature[i] < 0x20 || signature[i] > 0x7E) signature[i] = '?';
  Found("signature", signature);
  if (size >= 4 && memcmp(data, "MSCF", 4) == 0)
    ListMembers(data, size);
  else
    Found("error", "not a cabinet");
  HeapFree(GetProcessHeap(), 0, data);
}

// The argument after the program's own (quoted) path, without its quotes.
static BOOL Argument(const char* line, char* out, size_t room) {
  const char* p = line;
  if (*p == '"') {
    p = strchr(p + 1, '"');
    if (!p) return FALSE;
    p++;
  } else {
    while (*p && *p != ' ') p++;
  }
  while (*p == ' ') p++;
  const char* end;
  if (*p == '"') {
    p++;
    end = strchr(p, '"');
    if (!end) end = p + strlen(p);
  } else {
    end = p + strlen(p);
  }
  if (end == p || (size_t)(end - p) >= room) return FALSE;
  memcpy(out, p, end - p);
  out[end - p] = 0;
  return TRUE;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ownLength = GetModuleFileNameA(NULL, ownPath, MAX_PATH);
  if (ownLength == 0 || ownLength >= MAX_PATH) return 2;
  HANDLE file = CreateBeside(".cmdline", FILE_APPEND_DATA, OPEN_ALWAYS);
  if (file == INVALID_HANDLE_VALUE) return 3;
  const char* line = GetCommandLineA();
  BOOL ok = WriteAll(file, line, (DWORD)strlen(line)) && WriteAll(file, "\n", 1);
  CloseHandle(file);
  if (!ok) return 4;

  found = CreateBeside(".found", GENERIC_WRITE, CREATE_ALWAYS);
  if (found == INVALID_HANDLE_VALUE) return 5;
  char ini[MAX_PATH];
  if (Argument(line, ini, sizeof ini))
    OpenPackage(ini);
  else
    Found("error", "no install.ini on the command line");
  CloseHandle(found);
  return 0;
}
