// The simulated desktop's files (a scratch directory of the host) and process start.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "bench_files.h"
#include "core.h"
#include "win32.h"

namespace fs = std::filesystem;

namespace {

struct SimProcess : sim::KObject {
  const char* Kind() const override { return "process"; }
};
struct SimProcessThread : sim::KObject {
  const char* Kind() const override { return "thread"; }
};

struct Files {
  std::string scratch;  // made on first use
  std::string cwd = "C:\\";
  std::set<std::string> unwritable;  // normalised Windows paths, upper-case drive
  std::set<std::string> missingPrograms;  // lower-case
  DWORD startFlags = STARTF_USESHOWWINDOW;
  WORD startShow = SW_SHOWNORMAL;
  std::vector<bench::StartedProcess> started;
  DWORD nextId = 0x600;
};

Files& F() {
  static Files* f = new Files;
  return *f;
}

void RemoveScratch() {
  std::error_code ec;
  if (!F().scratch.empty()) fs::remove_all(F().scratch, ec);
}

// The scratch directory, with drive C present. Lock held.
const std::string& Scratch() {
  Files& f = F();
  if (f.scratch.empty()) {
    const char* tmp = getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/brindle-sim-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
      fprintf(stderr, "simulated files: cannot make a scratch directory under %s\n", templ.c_str());
      abort();
    }
    f.scratch = buf.data();
    atexit(RemoveScratch);
  }
  std::error_code ec;
  fs::create_directories(f.scratch + "/C", ec);
  return f.scratch;
}

void DropAll() {
  Files& f = F();
  if (!f.scratch.empty()) {
    std::error_code ec;
    for (auto& e : fs::directory_iterator(f.scratch, ec)) fs::remove_all(e.path(), ec);
    Scratch();
  }
  f.cwd = "C:\\";
  f.unwritable.clear();
  f.missingPrograms.clear();
  f.startFlags = STARTF_USESHOWWINDOW;
  f.startShow = SW_SHOWNORMAL;
  f.started.clear();
}

const bool kResetHook = (sim::OnReset(DropAll), true);

// A Windows path taken apart: drive letter and components, "." and ".." resolved.
struct WinPath {
  bool ok = false;
  DWORD error = ERROR_PATH_NOT_FOUND;
  char drive = 'C';
  std::vector<std::string> parts;

  std::string Text() const {
    std::string s = std::string(1, drive) + ":\\";
    for (size_t i = 0; i < parts.size(); ++i) s += (i ? "\\" : "") + parts[i];
    return s;
  }
  std::string Host() const {
    std::string s = Scratch() + "/" + std::string(1, drive);
    for (auto& p : parts) s += "/" + p;
    return s;
  }
  WinPath Parent() const {
    WinPath p = *this;
    if (!p.parts.empty()) p.parts.pop_back();
    return p;
  }
};

char Upper(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Lock held.
WinPath Parse(const char* path) {
  WinPath w;
  if (!path || !*path) return w;
  std::string s(path);
  for (char& c : s)
    if (c == '/') c = '\\';
  if (s.size() >= 2 && s[0] == '\\' && s[1] == '\\') return w;  // network paths: none here
  WinPath cwd;
  cwd.drive = F().cwd[0];
  {
    std::string rest = F().cwd.substr(3);
    std::stringstream ss(rest);
    std::string part;
    while (std::getline(ss, part, '\\'))
      if (!part.empty()) cwd.parts.push_back(part);
  }
  std::string rest;
  if (s.size() >= 2 && IsLetter(s[0]) && s[1] == ':') {
    w.drive = Upper(s[0]);
    rest = s.substr(2);
    if (rest.empty() || rest[0] != '\\') {
      // "D:x": relative to the current directory when it is on that drive.
      if (w.drive == cwd.drive) w.parts = cwd.parts;
    }
  } else if (s[0] == '\\') {
    w.drive = cwd.drive;
    rest = s;
  } else {
    w = cwd;
    rest = s;
  }
  std::stringstream ss(rest);
  std::string part;
  while (std::getline(ss, part, '\\')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!w.parts.empty()) w.parts.pop_back();
      continue;
    }
    if (part.find_first_of("<>:\"|?*") != std::string::npos) {
      w.error = 123;  // ERROR_INVALID_NAME
      return w;
    }
    w.parts.push_back(part);
  }
  w.ok = true;
  return w;
}

bool Unwritable(const WinPath& dir) {
  std::string text = dir.Text();
  for (auto& u : F().unwritable) {
    if (text == u) return true;
    std::string prefix = u.back() == '\\' ? u : u + "\\";
    if (text.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

bool IsDir(const std::string& host) {
  struct stat st;
  return stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
bool IsFile(const std::string& host) {
  struct stat st;
  return stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
bool Exists(const std::string& host) {
  struct stat st;
  return stat(host.c_str(), &st) == 0;
}

std::string Quoted(const char* s) { return s ? std::string(s) : std::string("(null)"); }

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  return s;
}

// The program a command line names: its first token, quotes removed.
std::string FirstToken(const char* cmd) {
  std::string s = cmd ? cmd : "";
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  if (i < s.size() && s[i] == '"') {
    size_t end = s.find('"', i + 1);
    return s.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
  }
  size_t end = s.find_first_of(" \t", i);
  return s.substr(i, end == std::string::npos ? std::string::npos : end - i);
}

bool ReadHostFile(const std::string& host, std::string* out) {
  std::ifstream in(host, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool WriteHostFile(const std::string& host, const std::string& bytes) {
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), (std::streamsize)bytes.size());
  return (bool)out;
}

}  // namespace

// ---- the program's calls -----------------------------------------------------------

BOOL WINAPI CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES sa) {
  sim::Lock lk(sim::Mu());
  sim::Record("CreateDirectory(" + Quoted(path) + (sa ? ", sa" : "") + ")");
  WinPath w = Parse(path);
  if (!w.ok) {
    sim::SetError(w.error);
    return FALSE;
  }
  if (w.parts.empty()) {
    sim::SetError(IsDir(w.Host()) ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  std::string host = w.Host();
  if (Exists(host)) {
    sim::SetError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  if (!IsDir(w.Parent().Host())) {
    sim::SetError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (Unwritable(w.Parent())) {
    sim::SetError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (mkdir(host.c_str(), 0777) != 0) {
    sim::SetError(errno == EEXIST ? ERROR_ALREADY_EXISTS : errno == ENOENT ? ERROR_PATH_NOT_FOUND
                                                                           : ERROR_ACCESS_DENIED);
    return FALSE;
  }
  sim::SetError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI CopyFileA(LPCSTR existing, LPCSTR target, BOOL failIfExists) {
  sim::Lock lk(sim::Mu());
  sim::Record("CopyFile(" + Quoted(existing) + ", " + Quoted(target) + ", " +
              (failIfExists ? "TRUE" : "FALSE") + ")");
  WinPath src = Parse(existing);
  WinPath dst = Parse(target);
  if (!src.ok || !dst.ok) {
    sim::SetError(!src.ok ? src.error : dst.error);
    return FALSE;
  }
  std::string srcHost = src.Host(), dstHost = dst.Host();
  if (!IsFile(srcHost)) {
    sim::SetError(IsDir(srcHost) ? ERROR_ACCESS_DENIED
                                 : IsDir(src.Parent().Host()) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (dst.parts.empty() || !IsDir(dst.Parent().Host())) {
    sim::SetError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (srcHost == dstHost) {
    sim::SetError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  if (IsDir(dstHost) || Unwritable(dst.Parent())) {
    sim::SetError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (failIfExists && Exists(dstHost)) {
    sim::SetError(ERROR_FILE_EXISTS);
    return FALSE;
  }
  std::string bytes;
  if (!ReadHostFile(srcHost, &bytes) || !WriteHostFile(dstHost, bytes)) {
    sim::SetError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  sim::SetError(ERROR_SUCCESS);
  return TRUE;
}

DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buf) {
  sim::Lock lk(sim::Mu());
  const std::string& cwd = F().cwd;
  if (!buf || size <= cwd.size()) return (DWORD)cwd.size() + 1;
  memcpy(buf, cwd.c_str(), cwd.size() + 1);
  return (DWORD)cwd.size();
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR path) {
  sim::Lock lk(sim::Mu());
  WinPath w = Parse(path);
  if (!w.ok) {
    sim::SetError(w.error);
    return FALSE;
  }
  std::string host = w.Host();
  if (!IsDir(host)) {
    sim::SetError(Exists(host) ? ERROR_DIRECTORY : ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  F().cwd = w.Text();
  return TRUE;
}

void WINAPI GetStartupInfoA(LPSTARTUPINFOA info) {
  if (!info) return;
  sim::Lock lk(sim::Mu());
  memset(info, 0, sizeof *info);
  info->cb = sizeof *info;
  info->dwFlags = F().startFlags;
  info->wShowWindow = F().startShow;
}

BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                           LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags, LPVOID environment,
                           LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                           LPPROCESS_INFORMATION processInformation) {
  sim::Lock lk(sim::Mu());
  if ((!application && !commandLine) || !startupInfo || !processInformation) {
    sim::SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  bench::StartedProcess p;
  p.hasApplication = application != nullptr;
  if (application) p.application = application;
  if (commandLine) p.commandLine = commandLine;
  p.program = application ? std::string(application) : FirstToken(commandLine);
  p.hasProcessAttributes = processAttributes != nullptr;
  p.hasThreadAttributes = threadAttributes != nullptr;
  p.inheritHandles = inheritHandles != FALSE;
  p.creationFlags = creationFlags;
  p.hasEnvironment = environment != nullptr;
  p.hasCurrentDirectory = currentDirectory != nullptr;
  if (currentDirectory) p.currentDirectory = currentDirectory;
  p.parentCurrentDirectory = F().cwd;
  p.hasStartupInfo = true;
  p.startupInfo = *startupInfo;
  p.started = F().missingPrograms.count(Lower(p.program)) == 0;
  sim::Record("CreateProcess(app=" + Quoted(application) + ", cmd=[" + Quoted(commandLine) + "]" +
              (processAttributes ? ", process sa" : "") + (threadAttributes ? ", thread sa" : "") + ", inherit=" + (inheritHandles ? "TRUE" : "FALSE") + ", flags=" + sim::Hex(creationFlags) +
              ", env=" + (environment ? "given" : "(null)") + ", cwd=" + Quoted(currentDirectory) + ")");
  F().started.push_back(p);
  memset(processInformation, 0, sizeof *processInformation);
  if (!p.started) {
    sim::SetError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  processInformation->hProcess = sim::NewHandle(std::make_shared<SimProcess>());
  processInformation->hThread = sim::NewHandle(std::make_shared<SimProcessThread>());
  processInformation->dwProcessId = F().nextId;
  processInformation->dwThreadId = F().nextId + 4;
  F().nextId += 8;
  sim::SetError(ERROR_SUCCESS);
  return TRUE;
}

// ---- the bench --------------------------------------------------------------------

namespace bench {

std::string ScratchDir() {
  sim::Lock lk(sim::Mu());
  return Scratch();
}

std::string HostPath(const std::string& windowsPath) {
  sim::Lock lk(sim::Mu());
  WinPath w = Parse(windowsPath.c_str());
  return w.ok ? w.Host() : std::string();
}

bool MakeDirs(const std::string& windowsPath) {
  sim::Lock lk(sim::Mu());
  WinPath w = Parse(windowsPath.c_str());
  if (!w.ok) return false;
  std::error_code ec;
  fs::create_directories(w.Host(), ec);
  return IsDir(w.Host());
}

bool PutFile(const std::string& windowsPath, const std::string& bytes) {
  sim::Lock lk(sim::Mu());
  WinPath w = Parse(windowsPath.c_str());
  if (!w.ok || w.parts.empty()) return false;
  std::error_code ec;
  fs::create_directories(w.Parent().Host(), ec);
  return WriteHostFile(w.Host(), bytes);
}

std::optional<std::string> FileContents(const std::string& windowsPath) {
  sim::Lock lk(sim::Mu());
  WinPath w = Parse(windowsPath.c_str());
  std::string bytes;
  if (!w.ok || !IsFile(w.Host()) || !ReadHostFile(w.Host(), &bytes)) return std::nullopt;
  return bytes;
}

bool FileExists(const std::string& windowsPath) {
  sim::Lock lk(sim::Mu());
  WinPath w = Parse(windowsPath.c_str());
  return w.ok && IsFile(w.Host());
}

bool DirExists(const std::string& windowsPath) {
  sim::Lock lk(sim::Mu());
  WinPath w = Parse(windowsPath.c_str());
  return w.ok && IsDir(w.Host());
}

std::vector<std::string> ListDir(const std::string& windowsPath) {
  sim::Lock lk(sim::Mu());
  std::vector<std::string> out;
  WinPath w = Parse(windowsPath.c_str());
  if (!w.ok) return out;
  std::error_code ec;
  for (auto& e : fs::directory_iterator(w.Host(), ec))
    out.push_back(e.path().filename().string() + (e.is_directory() ? "/" : ""));
  std::sort(out.begin(), out.end());
  return out;
}

void SetWritable(const std::string& windowsPath, bool writable) {
  sim::Lock lk(sim::Mu());
  WinPath w = Parse(windowsPath.c_str());
  if (!w.ok) return;
  if (writable) F().unwritable.erase(w.Text());
  else F().unwritable.insert(w.Text());
}

void SetCurrentDir(const std::string& windowsPath) {
  sim::Lock lk(sim::Mu());
  WinPath w = Parse(windowsPath.c_str());
  if (!w.ok) return;
  std::error_code ec;
  fs::create_directories(w.Host(), ec);
  F().cwd = w.Text();
}

std::string CurrentDir() {
  sim::Lock lk(sim::Mu());
  return F().cwd;
}

void SetStartupInfo(DWORD flags, WORD showWindow) {
  sim::Lock lk(sim::Mu());
  F().startFlags = flags;
  F().startShow = showWindow;
}

std::vector<StartedProcess> StartedProcesses() {
  sim::Lock lk(sim::Mu());
  return F().started;
}

void SetProgramMissing(const std::string& program, bool missing) {
  sim::Lock lk(sim::Mu());
  if (missing) F().missingPrograms.insert(Lower(program));
  else F().missingPrograms.erase(Lower(program));
}

}  // namespace bench
