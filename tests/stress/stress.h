// The stress suite's common parts: how big a run is, a model of what the input system
// must receive for a stream of key bytes, a checker that holds the program's injected
// key events against that model as they happen, and the checks that nothing is left
// behind after a storm.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <time.h>

#include "platform/platform.h"
#include "shell/layouts.h"
#include "platform/sim/bench_gdi.h"
#include "tests/shell/shell_fixture.h"

namespace stress {

using Lines = std::vector<std::string>;

// A count scaled by BRINDLE_STRESS_SCALE (default 1, the short run): `longCount` when
// the scale is "long", else `shortCount` times the scale.
long Count(long shortCount, long longCount);
// An explicit count from the environment variable `name`, else Count(...).
long CountFrom(const char* name, long shortCount, long longCount);
// The variant every generator of the suite starts from (BRINDLE_STRESS_VARIANT, default 1).
uint32_t Variant();

// Key bytes of the folding keyboard.
enum : uint8_t {
  kA = 0x04, kB = 0x05, kC = 0x06, kE = 0x08, kZ = 0x1D, kEnter = 0x28, kBackspace = 0x2A,
  kTab = 0x2B, kSpace = 0x2C, kRight = 0x4F, kLeft = 0x50, kShift = 0x74, kFn = 0x77,
};
inline uint8_t Up(uint8_t scan) { return static_cast<uint8_t>(scan | 0x80); }

// What the input system must receive, from the keyboard's rules, one byte at a time.
// It reads the key tables but never calls the translator. Effects the program makes on
// other threads (the Caps Lock hot key on the user-interface thread, the picker's own
// thread) are folded in at the byte that causes them; a caller that feeds bytes
// asynchronously must let the handheld settle whenever SettleNeeded() says so.
class KeyModel {
 public:
  explicit KeyModel(const PickerCell* layout) : layout_(layout) {}
  void SetStickyKeys(bool shift, bool fn) {
    prefShift_ = shift;
    prefFn_ = fn;
  }
  // Appends the lines one byte makes (keybd_event / PostKeybdMessage, as traced).
  void Byte(uint8_t keyByte, Lines* out);
  // The link ended: every key still held is lifted, left Shift last (kept when
  // keepLatches and a sticky Shift is latched).
  void EndLink(bool keepLatches, Lines* out);
  // True after a byte whose outcome depends on another thread: the picker opened, is
  // open or closing, or the Caps Lock hot key went to the user-interface thread.
  bool SettleNeeded() const { return settle_; }
  bool PickerShowing() const { return picker_ != kNone; }
  int HeldKeys() const;
  long Picks() const { return picks_; }
  long Accents() const { return accents_; }

 private:
  enum Picker { kNone, kOpen, kClosing };
  void Key(uint8_t vk, unsigned flags);
  void Post(uint8_t vk, unsigned flags, uint16_t ch);
  void Empty();
  void Character(uint16_t ch);
  void PressOnce(uint8_t vk);
  void Deliver(unsigned msg, unsigned wp);
  void RunPicker();

  const PickerCell* layout_;
  bool prefShift_ = false, prefFn_ = false;
  bool shift_ = false, fn_ = false, shiftLatched_ = false, fnLatched_ = false;
  uint8_t prev_ = 0;
  int accent_ = 0;
  bool pickerFlag_ = false;  // the translator's PickerOpen
  bool caps_ = false;        // the driver's Caps Lock copy
  Picker picker_ = kNone;
  bool held_[256] = {};      // pressed into the input system by the engine, not released
  bool down_[256] = {};      // the input system's key state, as keybd_event left it
  uint8_t layered_[0x80] = {};  // the key a scan code's press put down in place of its own
  std::vector<std::pair<unsigned, unsigned>> toPicker_;  // messages of this byte
  bool settle_ = false;
  long picks_ = 0, accents_ = 0;
  Lines* out_ = nullptr;
};

// A random but typical stream: taps, rolls, Shift and Fn chords, sticky taps, Caps Lock,
// picker openings with picks and closes, accents, stray releases and unknown codes.
class StreamMaker {
 public:
  explicit StreamMaker(uint32_t variant, const PickerCell* layout) : rng_(variant), layout_(layout) {}
  // One gesture's bytes.
  std::vector<uint8_t> Next();

 private:
  uint8_t AnyKey();
  uint8_t PickerKey();
  std::mt19937 rng_;
  const PickerCell* layout_;
};

// Holds every keybd_event / PostKeybdMessage line the program records against the
// lines expected, one for one and in order, as they are recorded (so a run of 10^6
// bytes keeps no trace). Also counts the bytes the reader has read.
class EventChecker {
 public:
  EventChecker();
  ~EventChecker();
  void Expect(const Lines& lines);
  // Waits (real time, up to 30 s) until every expected line has come and `bytes` bytes
  // have been read by the program; false on time-out.
  bool WaitFor(long bytes);
  long Matched();
  long BytesRead();
  // Empty while all is well; else what went wrong first (expected lines still to come
  // count as wrong).
  std::string Failure();
  // A line that came but was not the one expected; empty when none.
  std::string Mismatch();
  // Lines recorded beyond those expected so far.
  long Unexpected();
  // Lines starting with `prefix` are counted (one prefix; set before the lines come).
  void CountLines(const std::string& prefix);
  // Waits (real time, up to 30 s) until `n` such lines have come; false on time-out.
  bool WaitForLines(long n);

 private:
  void Seen(const std::string& line);
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::string> expected_;
  long matched_ = 0;
  long unexpected_ = 0;
  long bytesRead_ = 0;
  std::string failure_;
  std::string counted_;
  long countedLines_ = 0;
};

// Generated gestures fed to the program through `write` (a pseudo-terminal or the
// bench's line), the model's lines expected for each, the handheld settled where the
// model needs it. Every call returns false once something went wrong.
class Feeder {
 public:
  using Writer = std::function<bool(const std::vector<uint8_t>&)>;
  // `baud` paces the bytes (ten bits each) when not 0.
  Feeder(const PickerCell* layout, Writer write, long baud = 0);
  bool Feed(uint8_t b);
  bool Gesture();
  bool Flush();
  // Everything written has been read and every expected line has come.
  bool Drain();
  // A picker still up is closed by a key, as a user would.
  bool ClosePicker();
  // The link is about to end: the model's lifts are expected.
  void ExpectLinkEnd(bool keepLatches);

  KeyModel model;
  EventChecker checker;
  long written = 0, events = 0, settles = 0;

 private:
  StreamMaker maker_;
  Writer write_;
  long nsPerByte_;
  timespec due_;
  std::vector<uint8_t> pending_;
  Lines lines_;
};

// A program the user types into, in front: keeps nothing, answers everything.
class Desk {
 public:
  void Open();   // on a simulated thread of its own; the handheld is settled after
  void Close();  // ends the thread
  HWND window() const;

 private:
  HANDLE thread_ = nullptr;
};

// No key down in the input system, over all 256 keys; names the first one found.
std::string KeysDown();
// The picker's window, null when none.
HWND PickerWindow();

// The program with its driver stopped (shell_fixture.h) and a desk in front to type into.
class StormTest : public shelltest::ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    desk_.Open();
    handles_ = bench::OpenHandles();
    gdi_ = bench::LiveGdiObjects();
  }
  void TearDown() override {
    desk_.Close();
    ShellTest::TearDown();
  }
  // The driver's threads: all but the user-interface thread and the desk's.
  static int DriverThreads() { return bench::LiveThreads() - 2; }
  // The user starts the driver, then goes back to typing into the desk.
  void StartTyping() {
    Start();
    SetForegroundWindow(desk_.window());
    bench::Settle();
  }
  // The user's stop, posted from a thread of its own while `other` runs on this one.
  template <class F>
  void StopMeeting(F other) {
    std::thread user([] { PostStartStop(); });
    other();
    user.join();
  }
  void StickyKeysOn() {
    SetForegroundWindow(hMainWnd);
    bench::Settle();
    bench::ToggleCheckBox(hSettingsDlg, IDC_STICKY_SHIFT);
    bench::ToggleCheckBox(hSettingsDlg, IDC_STICKY_FN);
    bench::Settle();
    ASSERT_EQ(PrefShift, 1u);
    ASSERT_EQ(PrefFn, 1u);
  }

  // The driver stopped by the user after a storm: nothing of it is left.
  void ExpectNothingLeftAfterStop() {
    if (DriverState != DRIVER_STOPPED) Stop();
    EXPECT_EQ(DriverState, DRIVER_STOPPED);
    EXPECT_EQ(DriverThreads(), 0);
    EXPECT_EQ(bench::PortOpenCount(), 0);
    EXPECT_EQ(bench::AsicMappedCount(), 0);
    EXPECT_NE(bench::PowerState(), bench::Power::On);
    EXPECT_EQ(KeysDown(), "");
    EXPECT_EQ(bench::OpenHandles(), handles_);
    EXPECT_EQ(bench::LiveGdiObjects(), gdi_);
    EXPECT_EQ(bench::OpenWindowDCs(), 0);
    // No timer of the driver's still runs: twice the watchdog's time passes unseen.
    TimerTicks();
    bench::ClearTrace();
    bench::Advance(1300000);
    EXPECT_EQ(TimerTicks(), std::vector<unsigned>{});
    EXPECT_EQ(bench::Trace({"CreateFile", "SetTimer", "keybd_event"}), Lines{});
  }

  int handles_ = 0;
  int gdi_ = 0;
  Desk desk_;
};


}  // namespace stress
