// A handheld for engine tests: the translator runs on the test's own thread (the
// reader), a simulated thread owns a stand-in settings dialog that routes the
// repeat timer as the real one does, and what the engine asks of the shell is stood
// in for by calls that write to the bench trace, so their order against key events
// is checked too.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/inject.h"
#include "engine/keytables.h"
#include "engine/shell_interface.h"
#include "engine/state.h"
#include "engine/translator.h"
#include "platform/platform.h"
#include "platform/sim/bench.h"

namespace enginetest {

// Expected trace lines.
std::string Hex2(unsigned v);
std::string Press(unsigned vk);          // keybd_event(vk, 0)
std::string Release(unsigned vk);        // keybd_event(vk, KEYEVENTF_KEYUP)
std::string PressSilent(unsigned vk);    // keybd_event(vk, KEYEVENTF_SILENT)
std::vector<std::string> Empty();        // the empty key event
std::vector<std::string> Character(unsigned ch);  // SendCharacter's three calls
// PressKeyOnce of Enter or Tab with no menu open.
std::vector<std::string> KeyMessage(unsigned vk, unsigned ch, bool shift);
std::string SetRepeatTimer(unsigned ms);
std::string KillRepeatTimer();

// Concatenates expected pieces.
struct Seq : std::vector<std::string> {
  Seq& operator<<(const std::string& s) {
    push_back(s);
    return *this;
  }
  Seq& operator<<(const std::vector<std::string>& v) {
    insert(end(), v.begin(), v.end());
    return *this;
  }
};

// Press and release bytes.
inline uint8_t Dn(uint8_t scan) { return scan; }
inline uint8_t Up(uint8_t scan) { return static_cast<uint8_t>(scan | 0x80); }

// Scan codes used by the tests.
enum : uint8_t {
  kA = 0x04, kB = 0x05, kC = 0x06, kE = 0x08, kI = 0x0C, kN = 0x11, kO = 0x12, kQ = 0x14,
  kU = 0x18, kY = 0x1C, kZ = 0x1D, kDigit1 = 0x1E, kEnter = 0x28, kBack = 0x2A, kTab = 0x2B,
  kSpace = 0x2C, kRight = 0x4F, kLeft = 0x50, kShift = 0x74, kFn = 0x77
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Feeds bytes to the translator as the reader thread does, then lets the
  // handheld settle.
  void Feed(const std::vector<uint8_t>& bytes);
  // What the engine asked of the platform (and of the picker), in order, without
  // the "TouchEvent" signals.
  std::vector<std::string> Keys();
  // A window of class "MNU": a pop-up menu is open.
  void OpenMenu();
  // Messages the foreground application window received, as "WM_COMMAND(id)".
  std::vector<std::string> AppMessages();

  HWND app_ = nullptr;  // the foreground application, owned by the dialog thread
  HANDLE dialogThread_ = nullptr;
};

}  // namespace enginetest
