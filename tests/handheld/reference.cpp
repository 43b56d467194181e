// The host's account of what the engine asks of the platform, for comparison with the
// handheld's brindle.exe run in an emulator (compare_with_host.py). Built with the host
// compiler from the engine's sources, the serial link and the settings store, linked
// against the stand-in platform calls below instead of the simulated handheld: each
// prints itself in one canonical text form, and the emulator prints the handheld's calls
// in the same form.
//
// It also makes the inputs: the random key streams, the typed paragraph, the settings'
// registries and the serial line's script are written here, as steps the emulator
// replays, so both sides run exactly the same things.
//
//   handheld_reference streams VARIANT FIRST COUNT  COUNT random streams from number FIRST
//   handheld_reference paragraph                    the paragraph engine_bench types
//   handheld_reference settings                     the settings load, empty and stored registry
//   handheld_reference layout CODE                  the settings load with string 20 = CODE
//   handheld_reference serial                       the serial link opened, read, handed off, closed
//
// Output, one line each:
//   stream N | scenario NAME         a new stream or scenario
//   given WHAT ...                   what the platform holds before it starts (registry, port)
//   step K KIND ARGS                 an input the emulator applies the same way
//     CALL(ARGS)                     a platform call made by that step, indented
//     = WORDS                        the engine's words after the step
//     -> VALUE                       what the called function returned
//   layout ... | registry ...        the picker layout in use, the registry's values
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/inject.h"
#include "engine/keytables.h"
#include "engine/serial.h"
#include "engine/shell_interface.h"
#include "engine/state.h"
#include "engine/translator.h"
#include "platform/platform.h"
#include "shell/layouts.h"
#include "shell/resids.h"
#include "shell/settings.h"
#include "shell/state.h"
#include "tools/typed_paragraph.h"

namespace {

// Handles the harness gives the program; the emulator uses the same values.
const uint32_t kSettingsDlg = 0x4000;
const uint32_t kTouchEvent = 0x5000;
const uint32_t kResDll = 0x6000;
const uint32_t kForeground = 0x1000;
const uint32_t kMenu = 0x3000;
const uint32_t kPort = 0x7000;
const uint32_t kExitEvent = 0x7100;
const uint32_t kThread = 0x7200;
const uint32_t kFirstKey = 0x100;

uint32_t Word(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }
template <typename T>
T* Handle(uint32_t v) {
  return reinterpret_cast<T*>(static_cast<uintptr_t>(v));
}

void Call(const char* fmt, ...) {
  std::fputs("  ", stdout);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stdout, fmt, ap);
  va_end(ap);
  std::fputc('\n', stdout);
}

// A string argument: quoted, anything outside printable ASCII as \uXXXX; a value below
// 0x10000 is a resource number.
std::string Text(const WCHAR* s) {
  if (s == nullptr) return "NULL";
  if (reinterpret_cast<uintptr_t>(s) < 0x10000) return "#" + std::to_string(reinterpret_cast<uintptr_t>(s));
  std::string out = "\"";
  for (; *s; ++s) {
    uint32_t c = static_cast<uint32_t>(*s);
    char buf[16];
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\')
      out += static_cast<char>(c);
    else {
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    }
  }
  return out + "\"";
}

std::string Hex(const void* data, size_t n) {
  std::string out;
  char buf[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", static_cast<const uint8_t*>(data)[i]);
    out += buf;
  }
  return out;
}

std::vector<uint8_t> Unhex(const std::string& s) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < s.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(s.substr(i, 2), nullptr, 16)));
  return out;
}

// ---- the engine's words, by name, as the emulator reads and writes them ---------------
struct Named {
  const char* name;
  uint32_t (*get)();
  void (*set)(uint32_t);
};
#define WORD_ACCESS(w, T) \
  { #w, [] { return static_cast<uint32_t>(w.load()); }, [](uint32_t v) { w = static_cast<T>(v); } }
const Named kWords[] = {
    WORD_ACCESS(ShiftDown, uint32_t),         WORD_ACCESS(FnDown, uint32_t),
    WORD_ACCESS(StickyShiftLatched, uint32_t), WORD_ACCESS(StickyFnLatched, uint32_t),
    WORD_ACCESS(PrevScanCode, uint8_t),        WORD_ACCESS(PendingAccent, int32_t),
    WORD_ACCESS(PickerOpen, uint32_t),         WORD_ACCESS(RepeatKey, uint8_t),
    WORD_ACCESS(RepeatArmed, uint32_t),        WORD_ACCESS(RepeatTimerOn, uint32_t),
    WORD_ACCESS(CapsLockOn, uint32_t),         WORD_ACCESS(PrefShift, uint32_t),
    WORD_ACCESS(PrefFn, uint32_t),             WORD_ACCESS(InitialDelay, uint32_t),
    WORD_ACCESS(RepeatRate, uint32_t),         WORD_ACCESS(PickerBitmapBase, uint32_t),
    WORD_ACCESS(ReaderStop, uint32_t),         WORD_ACCESS(ReaderExited, uint32_t),
    WORD_ACCESS(ReaderRebuild, uint32_t),      WORD_ACCESS(AsicMapped, uint32_t),
};
#undef WORD_ACCESS

const Named& Find(const std::string& name) {
  for (const Named& w : kWords)
    if (name == w.name) return w;
  std::fprintf(stderr, "no word %s\n", name.c_str());
  std::exit(2);
}

// The state line: the words the translator and the repeat keep, in this order.
void PrintState() {
  static const char* const shown[] = {"ShiftDown",   "FnDown",    "StickyShiftLatched", "StickyFnLatched",
                                      "PrevScanCode", "PendingAccent", "PickerOpen",     "RepeatKey",
                                      "RepeatArmed", "RepeatTimerOn", "CapsLockOn"};
  std::string line = "  =";
  for (const char* name : shown) line += " " + std::to_string(static_cast<int32_t>(Find(name).get()));
  std::puts(line.c_str());
}

// ---- the platform as the program finds it ---------------------------------------------
bool menuUp = false;
std::string languageCode = "USA";

// The registry: values by key path (as opened, case kept) and name.
struct Value {
  uint32_t type;
  std::vector<uint8_t> data;
};
std::map<std::string, std::map<std::string, Value>> registry;
std::map<uint32_t, std::string> openKeys;
uint32_t nextKey = kFirstKey;

std::string Narrow(const WCHAR* s) {
  std::string out;
  for (; s && *s; ++s) out += static_cast<char>(*s);
  return out;
}

bool KeyPath(HKEY parent, const WCHAR* sub, std::string* path) {
  uint32_t p = Word(parent);
  std::string base;
  if (p == 0x80000001u)
    base = "HKCU";
  else if (openKeys.count(p))
    base = openKeys[p];
  else
    return false;
  *path = base + "\\" + Narrow(sub);
  return true;
}

// The serial port: the DCB and time-outs it starts with, and what each wait and read gives.
uint8_t portDcb[28];
uint8_t portTimeouts[20];
struct Wait {
  bool ok;
  uint32_t events;
  std::vector<uint8_t> bytes;  // what ReadFile gives after this wait, a byte a call
  bool stop;                   // a close from the other thread sets ReaderStop meanwhile
  uint32_t modem;              // what GetCommModemStatus reports from this wait on
};
std::vector<Wait> waits;
size_t waitAt = 0;
size_t readAt = 0;
uint32_t modemStatus = 0;
alignas(4) uint8_t asicBlock[4096];

void ResetPlatform() {
  menuUp = false;
  registry.clear();
  openKeys.clear();
  nextKey = kFirstKey;
  waits.clear();
  waitAt = readAt = 0;
  modemStatus = 0;
  std::memset(asicBlock, 0, sizeof asicBlock);
}

}  // namespace

// ---- stand-in platform calls: each prints itself ----------------------------------------
BOOL WINAPI SetEvent(HANDLE h) {
  Call("SetEvent(0x%x)", Word(h));
  return TRUE;
}

void WINAPI keybd_event(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR extra) {
  Call("keybd_event(0x%x,0x%x,0x%x,0x%x)", vk, scan, flags, static_cast<uint32_t>(extra));
}

BOOL WINAPI PostKeybdMessage(HWND hwnd, UINT vk, UINT flags, UINT count, UINT* shiftStates, UINT* chars) {
  std::string shifts, text;
  char buf[16];
  for (UINT i = 0; i < count && i < 8; ++i) {
    std::snprintf(buf, sizeof buf, "%s0x%x", i ? "," : "", shiftStates[i]);
    shifts += buf;
    std::snprintf(buf, sizeof buf, "%s0x%x", i ? "," : "", chars[i]);
    text += buf;
  }
  Call("PostKeybdMessage(0x%x,0x%x,0x%x,%u,[%s],[%s])", Word(hwnd), vk, flags, count, shifts.c_str(), text.c_str());
  return TRUE;
}

UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC proc) {
  Call("SetTimer(0x%x,%u,%u,0x%x)", Word(hwnd), static_cast<uint32_t>(id), ms, Word(reinterpret_cast<void*>(proc)));
  return id;
}

BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id) {
  Call("KillTimer(0x%x,%u)", Word(hwnd), static_cast<uint32_t>(id));
  return TRUE;
}

HWND WINAPI FindWindowW(LPCWSTR cls, LPCWSTR title) {
  Call("FindWindowW(%s,%s)", Text(cls).c_str(), Text(title).c_str());
  bool menu = menuUp && cls != nullptr && Text(cls) == "\"MNU\"" && title == nullptr;
  return Handle<HWND__>(menu ? kMenu : 0);
}

HWND WINAPI GetForegroundWindow(void) {
  Call("GetForegroundWindow()");
  return Handle<HWND__>(kForeground);
}

BOOL WINAPI PostMessageW(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Call("PostMessageW(0x%x,0x%x,0x%x,0x%x)", Word(hwnd), msg, static_cast<uint32_t>(wp), static_cast<uint32_t>(lp));
  return TRUE;
}

BOOL WINAPI SHSipPreference(HWND hwnd, SIPSTATE state) {
  Call("SHSipPreference(0x%x,%d)", Word(hwnd), static_cast<int>(state));
  return TRUE;
}

// The shell's side of the engine: the emulator stops the handheld's at the same point.
void OpenPicker() { Call("OpenPicker()"); }
void ClosePicker() { Call("ClosePicker()"); }
void RedrawPicker(WORD id) { Call("RedrawPicker(%u)", id); }
void PauseDriver() { Call("PauseDriver()"); }

LONG WINAPI RegOpenKeyExW(HKEY key, LPCWSTR sub, DWORD options, REGSAM sam, PHKEY result) {
  Call("RegOpenKeyExW(0x%x,%s,%u,%u)", Word(key), Text(sub).c_str(), options, static_cast<uint32_t>(sam));
  std::string path;
  if (!KeyPath(key, sub, &path) || !registry.count(path)) return ERROR_FILE_NOT_FOUND;
  openKeys[nextKey] = path;
  *result = Handle<HKEY__>(nextKey++);
  return ERROR_SUCCESS;
}

LONG WINAPI RegCreateKeyExW(HKEY key, LPCWSTR sub, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM sam,
                            LPSECURITY_ATTRIBUTES sa, PHKEY result, LPDWORD disposition) {
  Call("RegCreateKeyExW(0x%x,%s,%u,%s,%u,%u,0x%x)", Word(key), Text(sub).c_str(), reserved, Text(keyClass).c_str(),
       options, static_cast<uint32_t>(sam), Word(sa));
  std::string path;
  if (!KeyPath(key, sub, &path)) return ERROR_FILE_NOT_FOUND;
  bool existed = registry.count(path) != 0;
  registry[path];
  openKeys[nextKey] = path;
  *result = Handle<HKEY__>(nextKey++);
  if (disposition) *disposition = existed ? 2 : 1;  // REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY
  return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY key) {
  Call("RegCloseKey(0x%x)", Word(key));
  return openKeys.erase(Word(key)) ? ERROR_SUCCESS : 6;  // ERROR_INVALID_HANDLE
}

LONG WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  Call("RegSetValueExW(0x%x,%s,%u,%u,[%s],%u)", Word(key), Text(name).c_str(), reserved, type,
       Hex(data, size).c_str(), size);
  if (!openKeys.count(Word(key))) return 6;
  registry[openKeys[Word(key)]][Narrow(name)] = Value{type, std::vector<uint8_t>(data, data + size)};
  return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
  Call("RegQueryValueExW(0x%x,%s,0x%x,%s,%s,%s)", Word(key), Text(name).c_str(), Word(reserved),
       type ? "type" : "NULL", data ? "data" : "NULL", size ? std::to_string(*size).c_str() : "NULL");
  if (!openKeys.count(Word(key))) return 6;
  auto& values = registry[openKeys[Word(key)]];
  auto found = values.find(Narrow(name));
  if (found == values.end()) return ERROR_FILE_NOT_FOUND;
  const Value& v = found->second;
  if (type) *type = v.type;
  DWORD room = size ? *size : 0;
  if (size) *size = static_cast<DWORD>(v.data.size());
  if (data == nullptr) return ERROR_SUCCESS;
  if (v.data.size() > room) return ERROR_MORE_DATA;
  std::memcpy(data, v.data.data(), v.data.size());
  return ERROR_SUCCESS;
}

int WINAPI LoadStringW(HINSTANCE inst, UINT id, LPWSTR buf, int max) {
  Call("LoadStringW(0x%x,%u,%d)", Word(inst), id, max);
  if (id != IDS_LANGUAGE || max <= 0) return 0;
  int n = 0;
  for (; n + 1 < max && n < static_cast<int>(languageCode.size()); ++n) buf[n] = static_cast<WCHAR>(languageCode[n]);
  buf[n] = 0;
  return n;
}

LRESULT WINAPI SendDlgItemMessageW(HWND dialog, int id, UINT msg, WPARAM wp, LPARAM lp) {
  Call("SendDlgItemMessageW(0x%x,%d,0x%x,0x%x,0x%x)", Word(dialog), id, msg, static_cast<uint32_t>(wp),
       static_cast<uint32_t>(lp));
  return 0;
}

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES sa, BOOL manual, BOOL initial, LPCWSTR name) {
  Call("CreateEventW(0x%x,%d,%d,%s)", Word(sa), manual, initial, Text(name).c_str());
  return Handle<void>(kExitEvent);
}

DWORD WINAPI MsgWaitForMultipleObjects(DWORD, const HANDLE*, BOOL, DWORD, DWORD) {
  std::fprintf(stderr, "the scenario never waits for the reader\n");
  std::exit(3);
}

BOOL WINAPI PeekMessageW(LPMSG, HWND, UINT, UINT, UINT) {
  std::fprintf(stderr, "the scenario never waits for the reader\n");
  std::exit(3);
}

HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD creation,
                          DWORD flags, HANDLE templ) {
  Call("CreateFileW(%s,0x%x,%u,0x%x,%u,0x%x,0x%x)", Text(name).c_str(), access, share, Word(sa), creation, flags,
       Word(templ));
  return Handle<void>(kPort);
}

BOOL WINAPI GetCommModemStatus(HANDLE h, LPDWORD status) {
  Call("GetCommModemStatus(0x%x)", Word(h));
  *status = modemStatus;
  return TRUE;
}

BOOL WINAPI GetCommState(HANDLE h, LPDCB dcb) {
  Call("GetCommState(0x%x,[%s])", Word(h), Hex(dcb, sizeof *dcb).c_str());
  std::memcpy(dcb, portDcb, sizeof portDcb);
  return TRUE;
}

BOOL WINAPI SetCommState(HANDLE h, LPDCB dcb) {
  Call("SetCommState(0x%x,[%s])", Word(h), Hex(dcb, sizeof *dcb).c_str());
  return TRUE;
}

BOOL WINAPI GetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS t) {
  Call("GetCommTimeouts(0x%x,[%s])", Word(h), Hex(t, sizeof *t).c_str());
  std::memcpy(t, portTimeouts, sizeof portTimeouts);
  return TRUE;
}

BOOL WINAPI SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS t) {
  Call("SetCommTimeouts(0x%x,[%s])", Word(h), Hex(t, sizeof *t).c_str());
  return TRUE;
}

BOOL WINAPI SetCommMask(HANDLE h, DWORD mask) {
  Call("SetCommMask(0x%x,0x%x)", Word(h), mask);
  return TRUE;
}

BOOL WINAPI EscapeCommFunction(HANDLE h, DWORD func) {
  Call("EscapeCommFunction(0x%x,%u)", Word(h), func);
  return TRUE;
}

BOOL WINAPI WaitCommEvent(HANDLE h, LPDWORD events, LPOVERLAPPED ov) {
  Call("WaitCommEvent(0x%x,0x%x)", Word(h), Word(ov));
  if (waitAt >= waits.size()) {
    std::fprintf(stderr, "the reader waited more often than the script says\n");
    std::exit(3);
  }
  const Wait& w = waits[waitAt++];
  readAt = 0;
  modemStatus = w.modem;
  if (w.stop) ReaderStop = 1;
  if (!w.ok) return FALSE;
  *events = w.events;
  return TRUE;
}

BOOL WINAPI ReadFile(HANDLE h, LPVOID buf, DWORD want, LPDWORD got, LPOVERLAPPED ov) {
  Call("ReadFile(0x%x,%u,0x%x)", Word(h), want, Word(ov));
  const Wait& w = waits[waitAt - 1];
  *got = 0;
  if (readAt < w.bytes.size() && want >= 1) {
    static_cast<uint8_t*>(buf)[0] = w.bytes[readAt++];
    *got = 1;
  }
  return TRUE;
}

LPVOID WINAPI VirtualAlloc(LPVOID addr, SIZE_T size, DWORD type, DWORD protect) {
  Call("VirtualAlloc(0x%x,%u,0x%x,0x%x)", Word(addr), static_cast<uint32_t>(size), type, protect);
  return asicBlock;
}

BOOL WINAPI VirtualCopy(LPVOID dest, LPVOID src, DWORD size, DWORD protect) {
  Call("VirtualCopy(%s,0x%x,%u,0x%x)", dest == asicBlock ? "block" : "elsewhere", Word(src), size, protect);
  return TRUE;
}

BOOL WINAPI VirtualFree(LPVOID addr, SIZE_T size, DWORD type) {
  Call("VirtualFree(%s,%u,0x%x)", addr == asicBlock ? "block" : "elsewhere", static_cast<uint32_t>(size), type);
  return TRUE;
}

int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  Call("MessageBoxW(0x%x,%s,%s,0x%x)", Word(owner), Text(text).c_str(), Text(caption).c_str(), type);
  return IDOK;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES sa, SIZE_T stack, LPTHREAD_START_ROUTINE start, LPVOID param,
                           DWORD flags, LPDWORD id) {
  Call("CreateThread(0x%x,%u,%s,0x%x,0x%x,0x%x)", Word(sa), static_cast<uint32_t>(stack),
       start == ReaderThread ? "ReaderThread" : "elsewhere", Word(param), flags, Word(id));
  return Handle<void>(kThread);
}

BOOL WINAPI CloseHandle(HANDLE h) {
  Call("CloseHandle(0x%x)", Word(h));
  return TRUE;
}

LRESULT WINAPI SendMessageW(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Call("SendMessageW(0x%x,0x%x,0x%x,0x%x)", Word(hwnd), msg, static_cast<uint32_t>(wp), static_cast<uint32_t>(lp));
  return 0;
}

// The record's size differs between a 64-bit host and the handheld: the emulator checks
// that the handheld's is 60 on its own.
BOOL WINAPI ShellExecuteExW(LPSHELLEXECUTEINFOW info) {
  Call("ShellExecuteEx(mask=0x%x,hwnd=0x%x,verb=%s,file=%s,parameters=%s,directory=%s,show=%d)", info->fMask,
       Word(info->hwnd), Text(info->lpVerb).c_str(), Text(info->lpFile).c_str(), Text(info->lpParameters).c_str(),
       Text(info->lpDirectory).c_str(), info->nShow);
  return TRUE;
}

void WINAPI Sleep(DWORD ms) { Call("Sleep(%u)", ms); }

namespace {

// ---- steps ------------------------------------------------------------------------------
int stepNumber = 0;

void Step(const char* fmt, ...) {
  std::printf("step %d ", stepNumber++);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stdout, fmt, ap);
  va_end(ap);
  std::fputc('\n', stdout);
}

void Key(uint8_t byte) {
  Step("key %02x", byte);
  TranslateKeyByte(byte);
  PrintState();
}

void Set(const char* name, uint32_t value) {
  Step("set %s %d", name, static_cast<int32_t>(value));
  Find(name).set(value);
  PrintState();
}

void Tick() {
  Step("tick");
  RepeatTick();
  PrintState();
}

void Menu(bool up) {
  Step("menu %d", up ? 1 : 0);
  menuUp = up;
  PrintState();
}

void End(bool keepLatches) {
  Step("end %d", keepLatches ? 1 : 0);
  ReleaseHeldKeys(keepLatches);
  PrintState();
}

void Start(const char* what, long number) {
  if (number >= 0)
    std::printf("%s %ld\n", what, number);
  else
    std::printf("%s\n", what);
  stepNumber = 0;
  ResetPlatform();
  hSettingsDlg = Handle<HWND__>(kSettingsDlg);
  hTouchEvent = Handle<void>(kTouchEvent);
  hResDll = Handle<HINSTANCE__>(kResDll);
}

// ---- random streams -----------------------------------------------------------------------
struct Rng {
  uint64_t s;
  uint64_t Next() {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
};

// Every key of the keyboard, and a few codes it never sends.
std::vector<uint8_t> KeyPool() {
  std::vector<uint8_t> pool;
  auto add = [&pool](uint8_t scan) {
    for (uint8_t s : pool)
      if (s == scan) return;
    pool.push_back(scan);
  };
  for (const ScanVkRow& row : ScanVkTable) add(row.Scan);
  for (const FnCharRow& row : FnCharTable) add(row.Scan);
  add(SCAN_SHIFT);
  add(SCAN_FN);
  for (uint8_t odd : {0x00, 0x01, 0x03, 0x29, 0x39, 0x51, 0x75, 0x7F}) add(odd);
  return pool;
}

// Delays and rates the settings may hold, the dialog's range, its ends and beyond it.
const uint32_t kDelays[] = {0, 1, 249, 250, 500, 777, 1000, 1001, 0xFFFFFFFFu};
const uint32_t kRates[] = {0, 1, 2, 3, 7, 20, 29, 30, 31, 1000, 0xFFFFFFFFu};

void RandomStream(Rng& rng, const std::vector<uint8_t>& pool) {
  // Each stream starts from a link's end, with its own settings: it depends on nothing
  // before it, so the emulator may run any share of the streams.
  End(false);
  Set("PrefShift", rng.Below(2));
  Set("PrefFn", rng.Below(2));
  Set("CapsLockOn", rng.Below(4) == 0);
  Set("InitialDelay", kDelays[rng.Below(sizeof kDelays / sizeof *kDelays)]);
  Set("RepeatRate", kRates[rng.Below(sizeof kRates / sizeof *kRates)]);
  Set("PickerOpen", 0);
  Set("PendingAccent", 0);
  Menu(rng.Below(6) == 0);
  std::vector<uint8_t> down;
  // Shift and Fn come up often: they are what the states turn on.
  auto pick = [&]() -> uint8_t {
    uint32_t r = rng.Below(10);
    if (r < 2) return SCAN_SHIFT;
    if (r < 4) return SCAN_FN;
    return pool[rng.Below(static_cast<uint32_t>(pool.size()))];
  };
  uint32_t n = 8 + rng.Below(48);
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t r = rng.Below(100);
    if (r < 30) {
      uint8_t scan = pick();
      Key(scan);
      down.push_back(scan);
    } else if (r < 56) {
      // Most releases are of a key that is down, the latest most often.
      if (!down.empty()) {
        size_t at = rng.Below(3) == 0 ? rng.Below(static_cast<uint32_t>(down.size())) : down.size() - 1;
        uint8_t scan = down[at];
        down.erase(down.begin() + static_cast<long>(at));
        Key(static_cast<uint8_t>(scan | 0x80));
      } else {
        Key(static_cast<uint8_t>(pick() | 0x80));
      }
    } else if (r < 64) {
      uint8_t scan = pick();
      Key(scan);
      Key(static_cast<uint8_t>(scan | 0x80));
    } else if (r < 66) {
      Key(static_cast<uint8_t>(rng.Below(256)));
    } else if (r < 70) {
      // An Fn chord, Fn+Tab (the picker) among the likeliest.
      uint8_t scan = rng.Below(3) == 0 ? SCAN_TAB : pool[rng.Below(static_cast<uint32_t>(pool.size()))];
      Key(SCAN_FN);
      Key(scan);
      Key(static_cast<uint8_t>(scan | 0x80));
      Key(SCAN_FN | 0x80);
    } else if (r < 79) {
      Tick();
    } else if (r < 84) {
      Set("PendingAccent", 1 + rng.Below(5));  // an accent picked from the picker
    } else if (r < 87) {
      Set("CapsLockOn", CapsLockOn == 0);  // the Caps Lock hot key
    } else if (r < 90) {
      Menu(!menuUp);
    } else if (r < 91) {
      Set("PickerOpen", 0);  // the picker closed by a pick or a tap elsewhere
    } else if (r < 94) {
      Set(rng.Below(2) ? "PrefShift" : "PrefFn", rng.Below(2));
    } else if (r < 96) {
      Set(rng.Below(2) ? "InitialDelay" : "RepeatRate", rng.Below(2) ? kDelays[rng.Below(9)] : kRates[rng.Below(11)]);
    } else {
      End(rng.Below(2) != 0);
      down.clear();
    }
  }
}

void Streams(uint64_t variant, long first, long count) {
  const std::vector<uint8_t> pool = KeyPool();
  for (long i = first; i < first + count; ++i) {
    Start("stream", i);
    Rng rng{variant * 0x100000001B3ull + static_cast<uint64_t>(i)};
    RandomStream(rng, pool);
  }
}

void Paragraph() {
  Start("scenario paragraph", -1);
  End(false);
  Set("PrefShift", 0);
  Set("PrefFn", 0);
  Set("CapsLockOn", 0);
  Set("InitialDelay", 500);
  Set("RepeatRate", 20);
  Set("PickerOpen", 0);
  Set("PendingAccent", 0);
  for (const typed_paragraph::Step& s : typed_paragraph::Stream()) {
    if (s.accent != 0)
      Set("PendingAccent", static_cast<uint32_t>(s.accent));
    else
      Key(s.byte);
  }
}

// ---- the settings load ---------------------------------------------------------------------
void Given(const std::string& path, const std::string& name, uint32_t type, const std::string& hex) {
  std::printf("given value %s %s %u %s\n", path.c_str(), name.c_str(), type, hex.c_str());
  registry[path][name] = Value{type, Unhex(hex)};
  // Its key's parents exist too.
  for (std::string parent = path; parent.rfind('\\') != std::string::npos;) {
    parent.resize(parent.rfind('\\'));
    if (parent != "HKCU") registry[parent];
  }
}

void PrintLoaded() {
  std::string line = "  =";
  for (const char* name : {"InitialDelay", "RepeatRate", "PrefShift", "PrefFn", "PickerBitmapBase", "ShiftDown",
                           "FnDown", "StickyShiftLatched", "StickyFnLatched", "RepeatTimerOn"})
    line += " " + std::to_string(Find(name).get());
  std::puts(line.c_str());
  std::string layout = "layout";
  char buf[24];
  for (const PickerCell& cell : ActiveLayout) {
    std::snprintf(buf, sizeof buf, " %x/%x/%x", cell.Key, cell.Plain, cell.Shifted);
    layout += buf;
  }
  std::puts(layout.c_str());
  for (const auto& key : registry)
    for (const auto& value : key.second)
      std::printf("registry %s %s %u %s\n", key.first.c_str(), value.first.c_str(), value.second.type,
                  Hex(value.second.data.data(), value.second.data.size()).c_str());
}

// The load starts from whatever a previous run left: every word it sets is dirtied first.
void LoadWithDirtyWords() {
  for (const char* name : {"InitialDelay", "RepeatRate", "PrefShift", "PrefFn", "PickerBitmapBase", "ShiftDown",
                           "FnDown", "StickyShiftLatched", "StickyFnLatched", "RepeatTimerOn"})
    Set(name, 0xA5A5A5A5u);
  std::memset(ActiveLayout, 0xA5, sizeof ActiveLayout);
  Step("load");
  LoadSettings();
  PrintLoaded();
}

void Settings() {
  Start("scenario settings-empty", -1);
  std::printf("given language %s\n", languageCode.c_str());
  LoadWithDirtyWords();

  // Stored values of every kind the load meets: a delay in range, a rate stored in two
  // bytes, a sticky flag other than 1, one too long to read (written back as 0).
  Start("scenario settings-stored", -1);
  languageCode = "fra";
  std::printf("given language %s\n", languageCode.c_str());
  const std::string key = "HKCU\\SOFTWARE\\Corvane\\Tavlo";
  Given(key, "InitialDelay", REG_DWORD, "ee020000");
  Given(key, "RepeatRate", REG_BINARY, "0c00");
  Given(key, "PrefShift", REG_DWORD, "07000000");
  Given(key, "PrefFn", REG_BINARY, "0100000000000000");
  LoadWithDirtyWords();
  languageCode = "USA";
}

void Layout(const char* code) {
  Start(("scenario layout " + std::string(code)).c_str(), -1);
  languageCode = code;
  std::printf("given language %s\n", code);
  Step("load");
  LoadSettings();
  PrintLoaded();
  languageCode = "USA";
}

// ---- the serial link ------------------------------------------------------------------------
void GivenPort() {
  // The DCB the port reports: every field set to something the program must keep or
  // overwrite, the reserved bits (fDummy2) among them.
  static const char dcb[] = "1c00000000c201006cff5a5a11112222333307020211131a3f045555";
  static const char timeouts[] = "0a000000140000001e0000002800000032000000";
  std::printf("given dcb %s\ngiven timeouts %s\n", dcb, timeouts);
  std::vector<uint8_t> d = Unhex(dcb), t = Unhex(timeouts);
  std::memcpy(portDcb, d.data(), sizeof portDcb);
  std::memcpy(portTimeouts, t.data(), sizeof portTimeouts);
}

void GivenWait(bool ok, uint32_t events, const std::string& bytes, bool stop, uint32_t modem) {
  std::printf("given wait %d 0x%x %s %d 0x%x\n", ok ? 1 : 0, events, bytes.empty() ? "-" : bytes.c_str(), stop ? 1 : 0,
              modem);
  waits.push_back(Wait{ok, events, Unhex(bytes), stop, modem});
}

void PrintLink() {
  uint32_t on, off;
  std::memcpy(&on, asicBlock + 0x764, 4);
  std::memcpy(&off, asicBlock + 0x760, 4);
  std::printf("  = %u %u %u %u 0x%x 0x%x 0x%x\n", static_cast<uint32_t>(ReaderStop), static_cast<uint32_t>(ReaderExited),
              static_cast<uint32_t>(AsicMapped), Word(hComm.load()), Word(hReaderExitEvent), on, off);
}

void Serial() {
  // Opened, keys read, a resume, failed waits until the port is given up, then closed.
  Start("scenario serial-read", -1);
  GivenPort();
  // Shift down, a down, a up, Shift up; then a resume and a carrier change with no carrier.
  GivenWait(true, EV_RXCHAR, "740484f4", false, 0);
  GivenWait(true, EV_POWER | EV_RLSD, "", false, 0);
  GivenWait(true, EV_RXCHAR | EV_CTS, "2c", false, 0);
  // Four failed waits in a row: the fourth gives the link up.
  for (int i = 0; i < 4; ++i) GivenWait(false, 0, "", false, 0);
  Step("open");
  std::printf("  -> %d\n", OpenSerialLink());
  PrintLink();
  Step("reader");
  std::printf("  -> %u\n", ReaderThread(nullptr));
  PrintLink();
  Step("close");
  CloseSerialLink();
  PrintLink();

  // In the cradle while reading: the line is handed to synchronisation.
  Start("scenario serial-handoff", -1);
  GivenPort();
  GivenWait(true, EV_RXCHAR, "7404", false, 0);
  GivenWait(true, EV_RLSD, "", false, MS_RLSD_ON);
  Step("open");
  std::printf("  -> %d\n", OpenSerialLink());
  PrintLink();
  Step("reader");
  std::printf("  -> %u\n", ReaderThread(nullptr));
  PrintLink();

  // A close from the user-interface thread while the reader waits.
  Start("scenario serial-close", -1);
  GivenPort();
  GivenWait(false, 0, "", true, 0);
  Step("open");
  std::printf("  -> %d\n", OpenSerialLink());
  PrintLink();
  Step("reader");
  std::printf("  -> %u\n", ReaderThread(nullptr));
  PrintLink();
  Step("close");
  CloseSerialLink();
  PrintLink();
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "streams" && argc == 5) {
    Streams(std::strtoull(argv[2], nullptr, 0), std::strtol(argv[3], nullptr, 0), std::strtol(argv[4], nullptr, 0));
  } else if (mode == "paragraph" && argc == 2) {
    Paragraph();
  } else if (mode == "settings" && argc == 2) {
    Settings();
  } else if (mode == "layout" && argc == 3) {
    Layout(argv[2]);
  } else if (mode == "serial" && argc == 2) {
    Serial();
  } else {
    std::fprintf(stderr,
                 "usage: handheld_reference streams VARIANT FIRST COUNT | paragraph | settings | layout CODE | serial\n");
    return 2;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
