// The Pocket PC calls on desktop Windows (platform/wince): what the program's calls
// turn into on a desktop, checked under Wine.
#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"

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

TEST(WinceMemory, VirtualCopyIsNotSupported) {
  void* block = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(block, nullptr);
  SetLastError(0);
  EXPECT_FALSE(VirtualCopy(block, reinterpret_cast<LPVOID>(0xA2000000u), 4096, PAGE_READWRITE | PAGE_NOCACHE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  VirtualFree(block, 0, MEM_RELEASE);
}

TEST(WinceShell, MenuBarIsRefusedAndLeavesNoHandle) {
  SHMENUBARINFO mbi = {};
  mbi.cbSize = 32;
  mbi.nToolBarId = 131;
  mbi.hwndMB = reinterpret_cast<HWND>(0x1234);
  EXPECT_FALSE(SHCreateMenuBar(&mbi));
  EXPECT_EQ(mbi.hwndMB, nullptr);
  EXPECT_FALSE(SHCreateMenuBar(nullptr));
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
