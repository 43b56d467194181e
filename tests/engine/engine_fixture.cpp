#include "engine_fixture.h"

#include <cstdio>
#include <mutex>

#include "tests/support/start_values.h"

// ---- what the engine asks of the shell --------------------------------------------

void OpenPicker() { bench::Record("OpenPicker()"); }
void ClosePicker() { bench::Record("ClosePicker()"); }
void RedrawPicker(WORD id) { bench::Record("RedrawPicker(" + std::to_string(id) + ")"); }

namespace enginetest {

// ---- expected trace lines ------------------------------------------------------------

std::string Hex2(unsigned v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%02X", v);
  return buf;
}

static std::string Hex(unsigned v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

static std::string KeyEvent(unsigned vk, unsigned flags) {
  return "keybd_event(" + Hex2(vk) + ", " + Hex(flags) + ")";
}

std::string Press(unsigned vk) { return KeyEvent(vk, 0); }
std::string Release(unsigned vk) { return KeyEvent(vk, 2); }
std::string PressSilent(unsigned vk) { return KeyEvent(vk, 4); }
std::vector<std::string> Empty() { return {Press(0), Release(0)}; }

static std::string Post(unsigned vk, unsigned flags, unsigned ch) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "PostKeybdMessage(-1, %s, %s, [%s], [U+%04X])", Hex2(vk).c_str(),
                Hex(flags).c_str(), Hex(flags).c_str(), ch);
  return buf;
}

std::vector<std::string> Character(unsigned ch) {
  std::vector<std::string> v = Empty();
  v.push_back(Post(0, 0, ch));
  v.push_back(Release(0));
  return v;
}

std::vector<std::string> KeyMessage(unsigned vk, unsigned ch, bool shift) {
  std::vector<std::string> v = Empty();
  v.push_back(Post(vk, shift ? 0x02000080u : 0x80u, ch));
  return v;
}

std::string SetRepeatTimer(unsigned ms) { return "SetTimer([SettingsDlg], 1, " + std::to_string(ms) + ")"; }
std::string KillRepeatTimer() { return "KillTimer([SettingsDlg], 1)"; }

// ---- the stand-in settings dialog and the foreground application ------------------------

static std::mutex appMu;
static std::vector<std::string> appMessages;

static LRESULT CALLBACK SettingsProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER:
      if (wp == REPEAT_TIMER_ID) {
        SetEvent(hTouchEvent);
        RepeatTick();
      }
      return 0;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

static LRESULT CALLBACK AppProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COMMAND) {
    std::lock_guard<std::mutex> g(appMu);
    appMessages.push_back("WM_COMMAND(" + std::to_string(LOWORD(wp)) + ")");
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

static HWND appWindow = nullptr;

static DWORD WINAPI DialogThread(LPVOID) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = SettingsProc;
  wc.lpszClassName = L"SettingsDlg";
  RegisterClassW(&wc);
  wc.lpfnWndProc = AppProc;
  wc.lpszClassName = L"AppWindow";
  RegisterClassW(&wc);
  hSettingsDlg = CreateWindowExW(0, L"SettingsDlg", L"Settings", WS_POPUP, 0, 0, 240, 294, nullptr,
                                 nullptr, nullptr, nullptr);
  appWindow = CreateWindowExW(0, L"AppWindow", L"Notes", WS_POPUP | WS_VISIBLE, 0, 0, 240, 294,
                              nullptr, nullptr, nullptr, nullptr);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  DestroyWindow(appWindow);
  return 0;
}

// ---- the fixture ----------------------------------------------------------------------------

void EngineTest::SetUp() {
  ASSERT_TRUE(bench::Reset());
  {
    std::lock_guard<std::mutex> g(appMu);
    appMessages.clear();
  }
  testsupport::ResetEngineState();

  hTouchEvent = CreateEventW(nullptr, FALSE, FALSE, L"TouchEvent");
  ASSERT_NE(hTouchEvent, nullptr);

  dialogThread_ = CreateThread(nullptr, 0, DialogThread, nullptr, 0, nullptr);
  ASSERT_NE(dialogThread_, nullptr);
  bench::NameThread(dialogThread_, "the stand-in settings dialog's thread");
  bench::Settle();
  ASSERT_NE(hSettingsDlg, nullptr);
  app_ = appWindow;
  ASSERT_NE(app_, nullptr);
  SetForegroundWindow(app_);
  bench::Settle();
  bench::ClearTrace();
}

void EngineTest::TearDown() {
  if (dialogThread_ != nullptr) {
    PostMessageW(hSettingsDlg, WM_CLOSE, 0, 0);
    std::string why;
    if (bench::WaitFor(dialogThread_, bench::kWaitLimitMs, &why) != bench::Waited::Signaled)
      ADD_FAILURE() << "waited for the stand-in settings dialog's thread to end after WM_CLOSE: " << why;
    CloseHandle(dialogThread_);
    dialogThread_ = nullptr;
  }
  hSettingsDlg = nullptr;
  appWindow = nullptr;
  if (hTouchEvent != nullptr) CloseHandle(hTouchEvent);
  hTouchEvent = nullptr;
  EXPECT_TRUE(bench::Reset());
}

void EngineTest::Feed(const std::vector<uint8_t>& bytes) {
  for (uint8_t b : bytes) TranslateKeyByte(b);
  bench::Settle();
}

std::vector<std::string> EngineTest::Keys() {
  return bench::Trace({"keybd_event", "PostKeybdMessage", "SetTimer", "KillTimer", "SHSipPreference",
                       "OpenPicker", "ClosePicker"});
}

void EngineTest::OpenMenu() {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.lpszClassName = L"MNU";
  RegisterClassW(&wc);
  ASSERT_NE(CreateWindowExW(0, L"MNU", L"", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr,
                            nullptr, nullptr),
            nullptr);
  bench::ClearTrace();
}

std::vector<std::string> EngineTest::AppMessages() {
  std::lock_guard<std::mutex> g(appMu);
  return appMessages;
}

}  // namespace enginetest
