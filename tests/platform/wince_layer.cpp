// The Pocket PC calls on desktop Windows (platform/wince): what the program's calls
// turn into on a desktop, checked under Wine.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "platform/platform.h"

#include <commctrl.h>

namespace {

struct KeyMsg {
  UINT msg;
  WPARAM wParam;
  bool operator==(const KeyMsg& o) const { return msg == o.msg && wParam == o.wParam; }
};

std::vector<KeyMsg> g_keys;
const UINT kSentinel = VK_F24;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
      g_keys.push_back({msg, wParam});
      return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

class WinceKeys : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = RecordingProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"WinceKeysTarget";
    RegisterClassW(&wc);
    hwnd_ = CreateWindowExW(0, L"WinceKeysTarget", L"keys", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                            nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(hwnd_, nullptr) << "no window: is there a display?";
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
    SetFocus(hwnd_);
    Drain();
    g_keys.clear();
  }
  void TearDown() override {
    if (hwnd_) DestroyWindow(hwnd_);
    UnregisterClassW(L"WinceKeysTarget", GetModuleHandleW(nullptr));
  }

  // Dispatches whatever is queued now.
  static void Drain() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  }

  // Injects a sentinel key after the input under test and dispatches until it comes
  // back: input is delivered in order, so everything before it has arrived. Returns
  // the messages before the sentinel.
  static std::vector<KeyMsg> Collect() {
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = kSentinel;
    SendInput(1, &in, sizeof in);
    DWORD start = GetTickCount();
    for (;;) {
      Drain();
      for (size_t i = 0; i < g_keys.size(); ++i) {
        if (g_keys[i].msg == WM_KEYDOWN && g_keys[i].wParam == kSentinel) {
          std::vector<KeyMsg> got(g_keys.begin(), g_keys.begin() + i);
          in.ki.dwFlags = KEYEVENTF_KEYUP;
          SendInput(1, &in, sizeof in);
          Drain();
          g_keys.clear();
          return got;
        }
      }
      DWORD waited = GetTickCount() - start;
      if (waited >= 5000) {
        ADD_FAILURE() << "the injected input never reached the focus window";
        return g_keys;
      }
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5000 - waited, QS_ALLINPUT);
    }
  }

  HWND hwnd_ = nullptr;
};

TEST(WinceValues, SilentFlagIsNoDesktopKeyFlag) {
  const DWORD desktop = KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP | KEYEVENTF_UNICODE | KEYEVENTF_SCANCODE;
  EXPECT_EQ(KEYEVENTF_SILENT & desktop, 0u);
  EXPECT_EQ(VK_OFF, 0xDF);
  EXPECT_EQ(PAGE_READWRITE | PAGE_NOCACHE, 0x204);
  EXPECT_EQ(SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN, 0x0D);
  EXPECT_EQ(SHIDIF_DONEBUTTON | SHIDIF_SIPDOWN | SHIDIF_FULLSCREENNOMENUBAR, 0x19);
  EXPECT_EQ(SIP_FORCEDOWN, 2);
  EXPECT_EQ(SHFS_HIDESIPBUTTON, 8);
}

TEST_F(WinceKeys, SilentPressIsAPlainKeyPressNotACharacter) {
  keybd_event('A', 0, KEYEVENTF_SILENT, 0);
  keybd_event('A', 0, KEYEVENTF_SILENT | KEYEVENTF_KEYUP, 0);
  std::vector<KeyMsg> want = {{WM_KEYDOWN, 'A'}, {WM_CHAR, 'a'}, {WM_KEYUP, 'A'}};
  EXPECT_EQ(Collect(), want);
}

TEST_F(WinceKeys, CharacterWithoutKeyIsTypedOnce) {
  // A character without a virtual key and with flags 0 is still typed.
  UINT shift = 0, ch = 0x00E9;
  EXPECT_TRUE(PostKeybdMessage(reinterpret_cast<HWND>(-1), 0, 0, 1, &shift, &ch));
  std::vector<KeyMsg> got = Collect();
  std::vector<KeyMsg> chars;
  for (const KeyMsg& k : got)
    if (k.msg == WM_CHAR) chars.push_back(k);
  std::vector<KeyMsg> want = {{WM_CHAR, 0x00E9}};
  EXPECT_EQ(chars, want);
}

TEST_F(WinceKeys, EnterWithItsCharacterGivesOneCarriageReturn) {
  UINT shift = KeyStateDownFlag, ch = 0x0D;
  EXPECT_TRUE(PostKeybdMessage(reinterpret_cast<HWND>(-1), VK_RETURN, KeyStateDownFlag, 1, &shift, &ch));
  std::vector<KeyMsg> chars;
  for (const KeyMsg& k : Collect())
    if (k.msg == WM_CHAR) chars.push_back(k);
  std::vector<KeyMsg> want = {{WM_CHAR, 0x0D}};
  EXPECT_EQ(chars, want);
}

TEST_F(WinceKeys, NoCharacterEntriesTypeNothing) {
  UINT shift = KeyStatePrevDownFlag | KeyShiftNoCharacterFlag, ch = 'x';
  EXPECT_TRUE(PostKeybdMessage(reinterpret_cast<HWND>(-1), 0, KeyShiftNoCharacterFlag, 1, &shift, &ch));
  EXPECT_TRUE(Collect().empty());
}

TEST_F(WinceKeys, KeyWithoutCharactersGoesDownAndUpByItsFlag) {
  EXPECT_TRUE(PostKeybdMessage(reinterpret_cast<HWND>(-1), 'B', KeyStateDownFlag, 0, nullptr, nullptr));
  EXPECT_TRUE(PostKeybdMessage(reinterpret_cast<HWND>(-1), 'B', KeyStatePrevDownFlag, 0, nullptr, nullptr));
  std::vector<KeyMsg> want = {{WM_KEYDOWN, 'B'}, {WM_CHAR, 'b'}, {WM_KEYUP, 'B'}};
  EXPECT_EQ(Collect(), want);
}

TEST_F(WinceKeys, GivenWindowGetsTheMessagesPosted) {
  UINT shift = 0, ch = 0x20AC;
  EXPECT_TRUE(PostKeybdMessage(hwnd_, 0, 0, 1, &shift, &ch));
  EXPECT_TRUE(PostKeybdMessage(hwnd_, 'C', KeyStateDownFlag, 0, nullptr, nullptr));
  Drain();
  // The key message goes through TranslateMessage like any other.
  std::vector<KeyMsg> want = {{WM_CHAR, 0x20AC}, {WM_KEYDOWN, 'C'}, {WM_CHAR, 'c'}};
  EXPECT_EQ(g_keys, want);
}

// A top-level window whose focus is its child's, as a text editor's is its edit control's:
// key messages that reach the frame instead of the child are typed nowhere.
static LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_SETFOCUS) {
    SetFocus(GetWindow(hwnd, GW_CHILD));
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// What the picker does once a pick is made: on a thread of its own it brings the user's
// window back to the front and types at once, before that window's thread has run.
// (Its window, gone by then, stays here: destroying it would activate the user's window
// by itself, in its own time.)
struct HandBack {
  HWND target;
  void (*type)();
  HANDLE front, go, done;
  HWND frontThen;  // the foreground window as the call returned
};

static DWORD WINAPI HandBackThread(LPVOID param) {
  HandBack* h = static_cast<HandBack*>(param);
  HWND own = CreateWindowExW(0, L"WinceKeysTarget", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
  SetForegroundWindow(own);
  SetEvent(h->front);
  WaitForSingleObject(h->go, 5000);
  SetForegroundWindow(h->target);
  h->frontThen = GetForegroundWindow();
  h->type();
  SetEvent(h->done);
  DestroyWindow(own);
  return 0;
}

// Dispatches until `done()` holds or `ms` have passed, waking for messages and for
// `event` when there is one; true when it held.
template <typename Done>
static bool Pump(DWORD ms, HANDLE event, Done done) {
  DWORD start = GetTickCount();
  for (;;) {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
    if (done()) return true;
    DWORD waited = GetTickCount() - start;
    if (waited >= ms) return false;
    MsgWaitForMultipleObjects(event ? 1 : 0, event ? &event : nullptr, FALSE, ms - waited, QS_ALLINPUT);
  }
}

// Dispatches until `event` is set or `ms` have passed; true when it was set.
static bool PumpUntil(HANDLE event, DWORD ms) {
  return Pump(ms, event, [event] { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; });
}

TEST_F(WinceKeys, InputRightAfterAnotherThreadBringsTheWindowBackReachesItsFocus) {
  struct Row {
    const char* name;
    void (*type)();
    std::vector<KeyMsg> want;
  };
  const Row rows[] = {
      {"a character", [] {
         UINT shift = 0, ch = 0x00DC;
         PostKeybdMessage(reinterpret_cast<HWND>(-1), 0, 0, 1, &shift, &ch);
       }, {{WM_CHAR, 0x00DC}}},
      {"a key", [] {
         PostKeybdMessage(reinterpret_cast<HWND>(-1), 'B', KeyStateDownFlag, 0, nullptr, nullptr);
         PostKeybdMessage(reinterpret_cast<HWND>(-1), 'B', KeyStatePrevDownFlag, 0, nullptr, nullptr);
       }, {{WM_KEYDOWN, 'B'}, {WM_CHAR, 'b'}, {WM_KEYUP, 'B'}}},
      {"keybd_event", [] {
         keybd_event('D', 0, 0, 0);
         keybd_event('D', 0, KEYEVENTF_KEYUP, 0);
       }, {{WM_KEYDOWN, 'D'}, {WM_CHAR, 'd'}, {WM_KEYUP, 'D'}}},
  };
  WNDCLASSW wc = {};
  wc.lpfnWndProc = FrameProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"WinceKeysFrame";
  RegisterClassW(&wc);
  HWND frame = CreateWindowExW(0, L"WinceKeysFrame", L"frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                               nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(frame, nullptr);
  SetParent(hwnd_, frame);
  SetWindowLongPtrW(hwnd_, GWL_STYLE, WS_CHILD | WS_VISIBLE);
  SetForegroundWindow(frame);
  SetFocus(hwnd_);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HandBack h = {frame, row.type, CreateEventW(nullptr, TRUE, FALSE, nullptr),
                  CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr};
    HANDLE thread = CreateThread(nullptr, 0, HandBackThread, &h, 0, nullptr);
    ASSERT_TRUE(PumpUntil(h.front, 5000)) << "the other window never came to the front";
    PumpUntil(h.done, 200);  // takes the deactivation
    EXPECT_EQ(GetActiveWindow(), nullptr) << "the other window took the activation";
    EXPECT_EQ(GetFocus(), nullptr);
    g_keys.clear();
    SetEvent(h.go);
    // Not reading messages meanwhile, as a busy program would not: the input must wait
    // for this thread to take the activation rather than go astray.
    WaitForSingleObject(h.done, 300);
    EXPECT_TRUE(PumpUntil(h.done, 5000)) << "the typing never ended";
    EXPECT_EQ(h.frontThen, frame) << "in front once SetForegroundWindow returned";
    // A character comes as VK_PACKET's press and release around its WM_CHAR.
    std::vector<KeyMsg> got;
    for (const KeyMsg& k : Collect())
      if (k.msg == WM_CHAR || k.wParam != VK_PACKET) got.push_back(k);
    EXPECT_EQ(got, row.want);
    EXPECT_EQ(GetFocus(), hwnd_);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    for (HANDLE e : {h.front, h.go, h.done}) CloseHandle(e);
  }
  SetParent(hwnd_, nullptr);
  DestroyWindow(frame);
  UnregisterClassW(L"WinceKeysFrame", wc.hInstance);
}

TEST(WinceKeyArgs, CharactersWithoutABufferAreRefused) {
  SetLastError(0);
  EXPECT_FALSE(PostKeybdMessage(reinterpret_cast<HWND>(-1), 0, 0, 1, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_FALSE(PostKeybdMessage(reinterpret_cast<HWND>(-1), 0x100, 0, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

struct EventCase {
  BOOL manualReset;
  BOOL initial;
  DWORD func;
  BOOL result;
  DWORD waitAfter;
};

TEST(WinceEvents, EventModifyIsSetResetAndPulse) {
  const EventCase cases[] = {
      {TRUE, FALSE, EVENT_SET, TRUE, WAIT_OBJECT_0},
      {TRUE, TRUE, EVENT_RESET, TRUE, WAIT_TIMEOUT},
      {TRUE, FALSE, EVENT_PULSE, TRUE, WAIT_TIMEOUT},  // nobody waiting: stays unsignalled
      {FALSE, FALSE, EVENT_SET, TRUE, WAIT_OBJECT_0},
      {FALSE, TRUE, EVENT_RESET, TRUE, WAIT_TIMEOUT},
      {TRUE, TRUE, 0, FALSE, WAIT_OBJECT_0},  // unknown function: refused, state kept
      {TRUE, FALSE, 4, FALSE, WAIT_TIMEOUT},
  };
  for (const EventCase& c : cases) {
    HANDLE ev = CreateEventW(nullptr, c.manualReset, c.initial, nullptr);
    ASSERT_NE(ev, nullptr);
    SetLastError(0);
    EXPECT_EQ(EventModify(ev, c.func), c.result) << "func " << c.func;
    if (!c.result) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(WaitForSingleObject(ev, 0), c.waitAfter) << "func " << c.func;
    CloseHandle(ev);
  }
}

// ---- registry --------------------------------------------------------------------

const wchar_t kTestKey[] = L"SOFTWARE\\CorvaneLayerTest";

class WinceRegistry : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static void Clean() {
    RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\CorvaneLayerTest\\Tavlo");
    RegDeleteKeyW(HKEY_CURRENT_USER, kTestKey);
  }
};

struct DwordSetting {
  const wchar_t* name;
  DWORD value;
};

// The program's own sequence: create the parent and the subkey with access 0, write
// DWORDs, then open each level with access 0 and read into a 4-byte buffer.
TEST_F(WinceRegistry, AccessZeroWritesAndReadsAsOnTheHandheld) {
  const DwordSetting settings[] = {
      {L"StickyShift", 1}, {L"StickyFn", 0}, {L"RepeatRate", 30}, {L"InitialDelay", 1000}, {L"Big", 0xFFFFFFFFu},
  };
  HKEY parent = nullptr, key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, 0, nullptr, &parent, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  ASSERT_EQ(RegCreateKeyExW(parent, L"Tavlo", 0, nullptr, 0, 0, nullptr, &key, &disposition), ERROR_SUCCESS);
  for (const DwordSetting& s : settings) {
    EXPECT_EQ(RegSetValueExW(key, s.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&s.value), 4), ERROR_SUCCESS)
        << "write " << s.value;
  }
  RegCloseKey(key);
  RegCloseKey(parent);

  // A second create finds the key there.
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, 0, nullptr, &parent, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  RegCloseKey(parent);

  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kTestKey, 0, 0, &parent), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExW(parent, L"Tavlo", 0, 0, &key), ERROR_SUCCESS);
  for (const DwordSetting& s : settings) {
    DWORD value = 0x5A5A5A5A, type = 0, size = 4;
    EXPECT_EQ(RegQueryValueExW(key, s.name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
    EXPECT_EQ(value, s.value);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(size, 4u);
  }
  DWORD value = 0, size = 4;
  EXPECT_EQ(RegQueryValueExW(key, L"Missing", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
  RegCloseKey(parent);
}

// Explicit rights keep their desktop meaning, in the W calls and in the A calls (the
// installer's), where access 0 is still no access at all.
TEST_F(WinceRegistry, ExplicitRightsAndTheACallsAreUnchanged) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\CorvaneLayerTest\\Tavlo", 0, nullptr, 0, 0, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  DWORD one = 1;
  ASSERT_EQ(RegSetValueExW(key, L"StickyShift", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4), ERROR_SUCCESS);
  RegCloseKey(key);

  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\CorvaneLayerTest\\Tavlo", 0, KEY_QUERY_VALUE, &key),
            ERROR_SUCCESS);
  DWORD two = 2;
  EXPECT_EQ(RegSetValueExW(key, L"StickyShift", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), 4),
            ERROR_ACCESS_DENIED);
  RegCloseKey(key);

  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\CorvaneLayerTest\\Tavlo", 0, 0, &key), ERROR_SUCCESS);
  DWORD value = 0, size = 4;
  EXPECT_EQ(RegQueryValueExA(key, "StickyShift", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
            ERROR_ACCESS_DENIED);
  RegCloseKey(key);

  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\CorvaneLayerTest\\Tavlo", 0, KEY_READ, &key), ERROR_SUCCESS);
  size = 4;
  EXPECT_EQ(RegQueryValueExA(key, "StickyShift", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 1u);
  RegCloseKey(key);
}

TEST_F(WinceRegistry, OpeningAMissingKeyFailsAsOnTheDesktop) {
  HKEY key = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\CorvaneLayerTest\\Tavlo", 0, 0, &key), ERROR_FILE_NOT_FOUND);
}

// ---- memory ----------------------------------------------------------------------

// The driver's own sequence: reserve, copy the registers in, write the power bits.
TEST(WinceMemory, VirtualCopyCommitsAnOrdinaryPage) {
  const DWORD size = 4096;
  BYTE* block = static_cast<BYTE*>(VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(VirtualCopy(block, reinterpret_cast<LPVOID>(0xA2000000u), size, PAGE_READWRITE | PAGE_NOCACHE));
  MEMORY_BASIC_INFORMATION info = {};
  ASSERT_EQ(VirtualQuery(block, &info, sizeof info), sizeof info);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READWRITE));
  EXPECT_GE(info.RegionSize, size);
  volatile DWORD* on = reinterpret_cast<volatile DWORD*>(block + 0x764);
  volatile DWORD* off = reinterpret_cast<volatile DWORD*>(block + 0x760);
  *on = 0x10;
  *off = 0x10;
  EXPECT_EQ(*on, 0x10u);
  EXPECT_EQ(block[size - 1], 0);
  EXPECT_TRUE(VirtualFree(block, 0, MEM_RELEASE));
}

TEST(WinceMemory, VirtualCopyRefusesWhatCannotBeCommitted) {
  SetLastError(0);
  EXPECT_FALSE(VirtualCopy(nullptr, reinterpret_cast<LPVOID>(0xA2000000u), 4096, PAGE_READWRITE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  void* block = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(block, nullptr);
  SetLastError(0);
  EXPECT_FALSE(VirtualCopy(block, reinterpret_cast<LPVOID>(0xA2000000u), 0, PAGE_READWRITE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // Released: there is no reservation left to commit.
  VirtualFree(block, 0, MEM_RELEASE);
  SetLastError(0);
  EXPECT_FALSE(VirtualCopy(block, reinterpret_cast<LPVOID>(0xA2000000u), 4096, PAGE_READWRITE));
  EXPECT_NE(GetLastError(), 0u);
}

// ---- common controls ---------------------------------------------------------------

// A dialog template in memory with one control of the given class, id 100.
std::vector<DWORD> OneControlDialog(const wchar_t* cls) {
  std::vector<WORD> w;
  auto dword = [&w](DWORD v) {
    w.push_back(LOWORD(v));
    w.push_back(HIWORD(v));
  };
  auto text = [&w](const wchar_t* s) {
    for (; *s; ++s) w.push_back(static_cast<WORD>(*s));
    w.push_back(0);
  };
  dword(WS_POPUP);  // DLGTEMPLATE
  dword(0);
  w.push_back(1);
  for (WORD v : {0, 0, 100, 40}) w.push_back(v);
  w.push_back(0);  // no menu
  w.push_back(0);  // standard class
  w.push_back(0);  // no title
  if (w.size() % 2) w.push_back(0);
  dword(WS_CHILD | WS_VISIBLE);  // DLGITEMTEMPLATE
  dword(0);
  for (WORD v : {4, 4, 90, 16, 100}) w.push_back(v);
  text(cls);
  w.push_back(0);  // no title
  w.push_back(0);  // no creation data
  std::vector<DWORD> aligned((w.size() + 1) / 2);
  memcpy(aligned.data(), w.data(), w.size() * sizeof(WORD));
  return aligned;
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT msg, WPARAM, LPARAM) {
  return msg == WM_INITDIALOG;
}

// The program never initialises the common controls itself; the layer has by now.
TEST(WinceControls, ADialogWithATrackbarCanBeCreated) {
  // Loaded before any control was asked for: Wine loads the common controls itself on
  // a first trackbar window or class query, so creating one alone proves little there.
  EXPECT_NE(GetModuleHandleW(L"comctl32.dll"), nullptr);
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  EXPECT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), TRACKBAR_CLASSW, &wc));
  std::vector<DWORD> tmpl = OneControlDialog(L"msctls_trackbar32");
  HWND dlg = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()),
                                        nullptr, QuietDialogProc, 0);
  ASSERT_NE(dlg, nullptr) << "error " << GetLastError();
  HWND bar = GetDlgItem(dlg, 100);
  ASSERT_NE(bar, nullptr);
  wchar_t cls[64] = L"";
  GetClassNameW(bar, cls, 64);
  EXPECT_EQ(lstrcmpiW(cls, L"msctls_trackbar32"), 0);
  // A real trackbar: it keeps a position within its range.
  SendMessageW(bar, TBM_SETRANGE, FALSE, MAKELPARAM(250, 1000));
  SendMessageW(bar, TBM_SETPOS, TRUE, 2000);
  EXPECT_EQ(SendMessageW(bar, TBM_GETPOS, 0, 0), 1000);
  DestroyWindow(dlg);
}

// ---- menu bar ----------------------------------------------------------------------

std::vector<WPARAM> g_commands;

LRESULT CALLBACK CommandProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COMMAND) {
    g_commands.push_back(wParam);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

class WinceMenuBar : public ::testing::Test {
 protected:
  void SetUp() override {
    res_ = LoadLibraryW(L"wince_menubar.dll");
    ASSERT_NE(res_, nullptr) << "wince_menubar.dll beside the test program";
    WNDCLASSW wc = {};
    wc.lpfnWndProc = CommandProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"WinceMenuBarParent";
    RegisterClassW(&wc);
    hwnd_ = CreateWindowExW(0, L"WinceMenuBarParent", L"bar", WS_OVERLAPPEDWINDOW, 0, 0, 240, 320, nullptr,
                            nullptr, wc.hInstance, nullptr);
    ASSERT_NE(hwnd_, nullptr) << "no window: is there a display?";
    g_commands.clear();
  }
  void TearDown() override {
    if (hwnd_) DestroyWindow(hwnd_);
    UnregisterClassW(L"WinceMenuBarParent", GetModuleHandleW(nullptr));
    if (res_) FreeLibrary(res_);
  }

  SHMENUBARINFO Info(UINT id, DWORD flags = 0) {
    SHMENUBARINFO mbi = {};
    mbi.cbSize = sizeof mbi;
    mbi.hwndParent = hwnd_;
    mbi.dwFlags = flags;
    mbi.nToolBarId = id;
    mbi.hInstRes = res_;
    mbi.hwndMB = reinterpret_cast<HWND>(0x1234);
    return mbi;
  }

  static std::wstring Text(HMENU menu, UINT pos) {
    wchar_t buf[64] = L"";
    GetMenuStringW(menu, pos, buf, 64, MF_BYPOSITION);
    return buf;
  }

  // The command ids of a menu's items, -1 for a popup.
  static std::vector<int> Ids(HMENU menu) {
    std::vector<int> ids;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) ids.push_back(static_cast<int>(GetMenuItemID(menu, i)));
    return ids;
  }

  HMODULE res_ = nullptr;
  HWND hwnd_ = nullptr;
};

struct BarButton {
  const wchar_t* text;
  std::vector<int> popup;  // the popup's command ids; empty for a plain item
  int command;             // a plain item's command; -1 for a popup
  bool grayed;
};

struct GoodBar {
  UINT id;
  std::vector<BarButton> buttons;
};

TEST_F(WinceMenuBar, ButtonsBecomeTheParentsMenu) {
  const GoodBar bars[] = {
      {310,
       {{L"Tools", {40010, 40020}, -1, false}, {L"Exit", {}, 40012, false}, {L"Help", {40015}, -1, false}}},
      // One sub-menu on two buttons; a disabled button grayed; a hidden one left out.
      {311, {{L"Help", {40015}, -1, false}, {L"Help", {40015}, -1, false}, {L"Exit", {}, 40005, true}}},
      {312, {}},
      {313, {{L"Exit", {}, 40012, false}}},
  };
  for (const GoodBar& b : bars) {
    SCOPED_TRACE(b.id);
    SHMENUBARINFO mbi = Info(b.id);
    ASSERT_TRUE(SHCreateMenuBar(&mbi)) << "error " << GetLastError();
    ASSERT_NE(mbi.hwndMB, nullptr);
    EXPECT_EQ(GetParent(mbi.hwndMB), hwnd_);
    EXPECT_FALSE(IsWindowVisible(mbi.hwndMB));
    HMENU bar = GetMenu(hwnd_);
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(GetMenuItemCount(bar), static_cast<int>(b.buttons.size()));
    for (UINT i = 0; i < b.buttons.size(); ++i) {
      const BarButton& want = b.buttons[i];
      EXPECT_EQ(Text(bar, i), want.text) << "button " << i;
      HMENU sub = GetSubMenu(bar, i);
      if (want.popup.empty()) {
        EXPECT_EQ(sub, nullptr) << "button " << i;
        EXPECT_EQ(static_cast<int>(GetMenuItemID(bar, i)), want.command) << "button " << i;
      } else {
        ASSERT_NE(sub, nullptr) << "button " << i;
        EXPECT_EQ(Ids(sub), want.popup) << "button " << i;
      }
      EXPECT_EQ((GetMenuState(bar, i, MF_BYPOSITION) & MF_GRAYED) != 0, want.grayed) << "button " << i;
    }
    // Destroying the bar's window takes its menu off the parent and frees it.
    EXPECT_TRUE(DestroyWindow(mbi.hwndMB));
    EXPECT_EQ(GetMenu(hwnd_), nullptr);
    EXPECT_FALSE(IsMenu(bar));
  }
}

TEST_F(WinceMenuBar, BadOrMissingResourcesAreRefused) {
  // 320..328: cut short, a count without buttons, a sub-menu out of range or not a
  // sub-menu, a missing MENU, a missing text, an odd byte; 330: no such resource.
  const UINT bad[] = {320, 321, 322, 323, 324, 325, 326, 327, 328, 330, 300};
  for (UINT id : bad) {
    SHMENUBARINFO mbi = Info(id);
    SetLastError(0);
    EXPECT_FALSE(SHCreateMenuBar(&mbi)) << id;
    EXPECT_EQ(mbi.hwndMB, nullptr) << id;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND)) << id;
    EXPECT_EQ(GetMenu(hwnd_), nullptr) << id;
    EXPECT_EQ(FindWindowExW(hwnd_, nullptr, nullptr, nullptr), nullptr) << id << ": a window was left behind";
  }
  // No resource library at all.
  SHMENUBARINFO none = Info(310);
  none.hInstRes = nullptr;
  EXPECT_FALSE(SHCreateMenuBar(&none));
  EXPECT_EQ(none.hwndMB, nullptr);
}

TEST_F(WinceMenuBar, TheParentMustBeATopLevelWindow) {
  SHMENUBARINFO gone = Info(310);
  gone.hwndParent = nullptr;
  EXPECT_FALSE(SHCreateMenuBar(&gone));
  EXPECT_EQ(gone.hwndMB, nullptr);
  HWND child = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 10, 10, hwnd_, nullptr, nullptr, nullptr);
  ASSERT_NE(child, nullptr);
  SHMENUBARINFO onChild = Info(310);
  onChild.hwndParent = child;
  SetLastError(0);
  EXPECT_FALSE(SHCreateMenuBar(&onChild));
  EXPECT_EQ(onChild.hwndMB, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(SHCreateMenuBar(nullptr));
}

TEST_F(WinceMenuBar, EmptyAndMenuFlags) {
  SHMENUBARINFO empty = Info(999, SHCMBF_EMPTYBAR);
  ASSERT_TRUE(SHCreateMenuBar(&empty));
  EXPECT_NE(empty.hwndMB, nullptr);
  EXPECT_EQ(GetMenuItemCount(GetMenu(hwnd_)), 0);
  DestroyWindow(empty.hwndMB);

  SHMENUBARINFO menu = Info(300, SHCMBF_HMENU);
  ASSERT_TRUE(SHCreateMenuBar(&menu));
  HMENU bar = GetMenu(hwnd_);
  EXPECT_EQ(Text(bar, 0), L"Tools");
  EXPECT_EQ(Text(bar, 1), L"Help");
  DestroyWindow(menu.hwndMB);

  SHMENUBARINFO missing = Info(399, SHCMBF_HMENU);
  EXPECT_FALSE(SHCreateMenuBar(&missing));
  EXPECT_EQ(missing.hwndMB, nullptr);
}

TEST_F(WinceMenuBar, DestroyingTheParentFreesTheMenu) {
  SHMENUBARINFO mbi = Info(310);
  ASSERT_TRUE(SHCreateMenuBar(&mbi));
  HMENU bar = GetMenu(hwnd_);
  HMENU tools = GetSubMenu(bar, 0);
  ASSERT_TRUE(IsMenu(bar));
  DestroyWindow(hwnd_);
  hwnd_ = nullptr;
  EXPECT_FALSE(IsWindow(mbi.hwndMB));
  EXPECT_FALSE(IsMenu(bar));
  EXPECT_FALSE(IsMenu(tools));
}

// Chooses from the menu bar by keyboard, as a user can: F10, Right to the button,
// Enter, and for a popup Down to the item and Enter.
void ChooseByKeys(UINT button, int item) {
  std::vector<WORD> keys = {VK_F10};
  for (UINT i = 0; i < button; ++i) keys.push_back(VK_RIGHT);
  keys.push_back(VK_RETURN);
  if (item >= 0) {
    for (int i = 0; i < item; ++i) keys.push_back(VK_DOWN);
    keys.push_back(VK_RETURN);
  }
  for (WORD vk : keys) {
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_KEYBOARD;
    in[0].ki.wVk = in[1].ki.wVk = vk;
    in[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, in, sizeof in[0]);
  }
}

// Dispatches until a command arrives (the menu's own loop runs inside), at most 5 s.
bool WaitForCommand() {
  return Pump(5000, nullptr, [] { return !g_commands.empty(); });
}

struct Choice {
  UINT button;
  int item;  // -1: the button itself
  WPARAM command;
};

TEST_F(WinceMenuBar, ChosenCommandsReachTheParent) {
  const Choice choices[] = {
      {0, 0, 40010},   // Tools > About
      {0, 1, 40020},   // Tools > Options
      {1, -1, 40012},  // Exit
      {2, 0, 40015},   // Help > Contents
  };
  SHMENUBARINFO mbi = Info(310);
  ASSERT_TRUE(SHCreateMenuBar(&mbi));
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
  SetFocus(hwnd_);
  for (const Choice& c : choices) {
    g_commands.clear();
    ChooseByKeys(c.button, c.item);
    ASSERT_TRUE(WaitForCommand()) << "no command for button " << c.button << " item " << c.item;
    std::vector<WPARAM> want = {c.command};
    EXPECT_EQ(g_commands, want);
  }
}

TEST(WinceShell, DialogCallsAreAcceptedForAWindow) {
  HWND w = CreateWindowExW(0, L"STATIC", L"dlg", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  SHINITDLGINFO sh = {SHIDIM_FLAGS, w, SHIDIF_DONEBUTTON | SHIDIF_SIPDOWN | SHIDIF_FULLSCREENNOMENUBAR};
  EXPECT_TRUE(SHInitDialog(&sh));
  EXPECT_TRUE(SHFullScreen(w, SHFS_HIDESIPBUTTON));
  EXPECT_TRUE(SHSipPreference(w, SIP_FORCEDOWN));
  DestroyWindow(w);
  SHINITDLGINFO gone = {SHIDIM_FLAGS, w, SHIDIF_DONEBUTTON};
  EXPECT_FALSE(SHInitDialog(&gone));
  EXPECT_FALSE(SHInitDialog(nullptr));
}

}  // namespace

namespace {

RECT WorkArea() {
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return work;
}

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(WinceWindows, DefaultTopLevelWindowFillsTheWorkAreaOthersKeepTheirPlace) {
  RECT work = WorkArea();
  ASSERT_GT(work.right - work.left, 0);
  HWND fill = CreateWindowExW(0, L"STATIC", L"main", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(fill, nullptr);
  RECT r;
  GetWindowRect(fill, &r);
  EXPECT_TRUE(SameRect(r, work)) << r.left << "," << r.top << " " << r.right << "," << r.bottom;
  HWND placed = CreateWindowExW(0, L"STATIC", L"placed", WS_POPUP, 3, 4, 50, 60, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(placed, nullptr);
  GetWindowRect(placed, &r);
  EXPECT_TRUE(SameRect(r, RECT{3, 4, 53, 64}));
  HWND child = CreateWindowExW(0, L"STATIC", L"child", WS_CHILD, 5, 6, 20, 10, fill, nullptr, nullptr, nullptr);
  ASSERT_NE(child, nullptr);
  GetWindowRect(child, &r);
  EXPECT_EQ(r.right - r.left, 20);
  EXPECT_EQ(r.bottom - r.top, 10);
  DestroyWindow(placed);
  DestroyWindow(fill);
}

TEST(WinceShell, FullScreenPopUpDialogFillsTheWorkAreaAChildKeepsItsSize) {
  RECT work = WorkArea();
  HWND popup = CreateWindowExW(0, L"STATIC", L"about", WS_POPUP, 0, 0, 300, 50, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(popup, nullptr);
  HWND child = CreateWindowExW(0, L"STATIC", L"page", WS_CHILD, 0, 0, 30, 40, popup, nullptr, nullptr, nullptr);
  ASSERT_NE(child, nullptr);
  SHINITDLGINFO sh = {SHIDIM_FLAGS, child, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
  EXPECT_TRUE(SHInitDialog(&sh));
  RECT r;
  GetWindowRect(child, &r);
  EXPECT_EQ(r.right - r.left, 30);
  EXPECT_EQ(r.bottom - r.top, 40);
  sh = {SHIDIM_FLAGS, popup, SHIDIF_DONEBUTTON | SHIDIF_SIPDOWN};  // no sizing asked
  EXPECT_TRUE(SHInitDialog(&sh));
  GetWindowRect(popup, &r);
  EXPECT_EQ(r.right - r.left, 300);
  sh = {SHIDIM_FLAGS, popup, SHIDIF_DONEBUTTON | SHIDIF_SIPDOWN | SHIDIF_FULLSCREENNOMENUBAR};
  EXPECT_TRUE(SHInitDialog(&sh));
  GetWindowRect(popup, &r);
  EXPECT_TRUE(SameRect(r, work));
  DestroyWindow(popup);
}

// The handheld's call: no start-up record, no process information.
TEST(WinceProcesses, CreateProcessWithoutStartUpRecordOrProcessInformation) {
  WCHAR self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  WCHAR args[] = L"x --gtest_list_tests --gtest_filter=None";
  EXPECT_TRUE(CreateProcessW(self, args, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, nullptr));
  WCHAR missing[] = L"tavlo.htc#extkbd_help";
  EXPECT_FALSE(CreateProcessW(L"NoSuchHelpViewer.exe", missing, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              nullptr, nullptr));
}

}  // namespace
