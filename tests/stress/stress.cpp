#include "stress.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "engine/keytables.h"
#include "platform/sim/bench.h"
#include "shell/resids.h"
#include "shell/state.h"

namespace stress {

static const char* Env(const char* name) {
  const char* v = getenv(name);
  return (v && *v) ? v : nullptr;
}

long Count(long shortCount, long longCount) {
  const char* scale = Env("BRINDLE_STRESS_SCALE");
  if (!scale) return shortCount;
  if (strcmp(scale, "long") == 0) return longCount;
  long n = strtol(scale, nullptr, 10);
  return n > 0 ? shortCount * n : shortCount;
}

long CountFrom(const char* name, long shortCount, long longCount) {
  const char* v = Env(name);
  if (v) {
    long n = strtol(v, nullptr, 10);
    if (n > 0) return n;
  }
  return Count(shortCount, longCount);
}

uint32_t Variant() {
  const char* v = Env("BRINDLE_STRESS_VARIANT");
  return v ? static_cast<uint32_t>(strtoul(v, nullptr, 10)) : 1u;
}

// ---- the model ------------------------------------------------------------------------

enum : unsigned { kKeyDown = 0x100, kKeyUp = 0x101, kChar = 0x102 };
enum : uint8_t {
  kVkBack = 0x08, kVkTab = 0x09, kVkReturn = 0x0D, kVkShift = 0x10, kVkCapital = 0x14,
  kVkPrior = 0x21, kVkNext = 0x22, kVkDelete = 0x2E, kVkLShift = 0xA0, kVkRShift = 0xA1, kVkOff = 0xDF,
};

static std::string HexText(unsigned v, int width) {
  char buf[32];
  snprintf(buf, sizeof buf, "0x%0*X", width, v);
  return buf;
}

static uint8_t VkOf(uint8_t scan) {
  for (const ScanVkRow& row : ScanVkTable)
    if (row.Scan == scan) return row.Vk;
  return 0;
}

static uint16_t FnCharOf(uint8_t scan) {
  for (const FnCharRow& row : FnCharTable)
    if (row.Scan == scan) return row.Char;
  return 0;
}

// The accented letter: the row whose base is the letter in the case wanted.
static uint16_t Composed(int kind, uint8_t vk, bool upper) {
  if (vk < 'A' || vk > 'Z') return 0;
  uint8_t base = upper ? vk : static_cast<uint8_t>(vk + 32);
  for (const AccentRow& row : AccentTable)
    if (row.Kind == kind && row.Base == base) return row.Composed;
  return 0;
}

static const uint16_t kSpacingAccent[6] = {0, 0x0060, 0x00B4, 0x005E, 0x007E, 0x00A8};

static int KindOfDead(uint16_t dead) {
  for (int kind = 1; kind <= 5; ++kind)
    if ((dead & ~PICKER_DEAD) == kSpacingAccent[kind]) return kind;
  return 0;
}

void KeyModel::Key(uint8_t vk, unsigned flags) {
  out_->push_back("keybd_event(" + HexText(vk, 2) + ", " + HexText(flags, 0) + ")");
  if (vk == 0) return;  // the empty key event reaches no window
  bool up = (flags & 0x2) != 0;
  down_[vk] = !up;
  held_[vk] = !up && vk != kVkCapital;
  if (!up && vk == kVkCapital && !down_[kVkLShift]) {
    // The hot key has no modifiers: with left Shift down it is an ordinary key.
    caps_ = !caps_;
    settle_ = true;
    return;
  }
  unsigned wp = (vk == kVkLShift || vk == kVkRShift) ? unsigned{kVkShift} : unsigned{vk};
  Deliver(up ? kKeyUp : kKeyDown, wp);
  // Characters the input system makes go to the same window; only their arrival counts.
  if (!up) Deliver(kChar, 0);
}

void KeyModel::Post(uint8_t vk, unsigned flags, uint16_t ch) {
  out_->push_back("PostKeybdMessage(-1, " + HexText(vk, 2) + ", " + HexText(flags, 0) + ", [" +
                  HexText(flags, 0) + "], [U+" + HexText(ch, 4).substr(2) + "])");
  bool down = (flags & 0x80) != 0;
  if (vk) {
    held_[vk] = down;
    Deliver(down ? kKeyDown : kKeyUp, vk);
  }
  if (down || vk == 0) Deliver(kChar, 0);
}

void KeyModel::Empty() {
  Key(0, 0);
  Key(0, 2);
}

void KeyModel::Character(uint16_t ch) {
  Empty();
  out_->push_back("PostKeybdMessage(-1, 0x00, 0x0, [0x0], [U+" + HexText(ch, 4).substr(2) + "])");
  Deliver(kChar, 0);
  Key(0, 2);
}

void KeyModel::PressOnce(uint8_t vk) {
  if (vk != kVkReturn && vk != kVkTab) {
    Key(vk, 0);
    return;
  }
  // Enter and Tab go as characters carrying the Shift state (no menu is ever open here).
  Empty();
  Post(vk, 0x80u | (shift_ ? 0x02000000u : 0u), vk == kVkReturn ? 0x0D : 0x09);
}

// A message for the window in front: the picker's, when one is up.
void KeyModel::Deliver(unsigned msg, unsigned wp) {
  if (picker_ != kNone) toPicker_.push_back({msg, wp});
}

// The picker's thread takes this byte's messages once the reader is done with the byte.
void KeyModel::RunPicker() {
  for (auto& m : toPicker_) {
    if (picker_ == kNone) break;
    if (picker_ == kClosing) {  // any message ends a closed picker, unread
      picker_ = kNone;
      break;
    }
    if (m.first != kKeyDown) continue;
    uint16_t picked = 0;
    for (int cell = 0; cell < PICKER_CELLS; ++cell)
      if ((layout_[cell].Key & 0xFF) == (m.second & 0xFF)) {
        picked = (shift_ || caps_) ? layout_[cell].Shifted : layout_[cell].Plain;
        break;
      }
    if (m.second == kVkShift) continue;  // Shift only changes the column
    picker_ = kNone;
    pickerFlag_ = false;
    if (picked == 0) break;
    ++picks_;
    accent_ = 0;
    if (picked & PICKER_DEAD) {
      accent_ = KindOfDead(picked);
      ++accents_;
    } else {
      Character(picked);
    }
    break;
  }
  toPicker_.clear();
}

void KeyModel::Byte(uint8_t keyByte, Lines* out) {
  out_ = out;
  settle_ = picker_ != kNone;
  const uint8_t scan = keyByte & 0x7F;
  const bool release = (keyByte & 0x80) != 0;
  uint8_t vk = VkOf(scan);
  bool oneShot = false;

  // Sticky taps: a lone press and release of Fn or Shift latches it.
  if (release && prev_ == scan && scan == kFn && !fnLatched_ && prefFn_) {
    fnLatched_ = true;
    return;
  }
  if (release && prev_ == scan && scan == kShift && !shiftLatched_ && prefShift_) {
    shiftLatched_ = true;
    Key(kVkLShift, 4);
    RunPicker();
    return;
  }
  if (scan == kShift && !release && fn_) {  // Fn+Shift: Caps Lock
    Key(kVkCapital, 0);
    Key(kVkCapital, 2);
    RunPicker();
    return;
  }
  if (release && fnLatched_ && prefFn_) {
    fnLatched_ = false;
    if (scan != kFn) fn_ = false;
  }
  if (release && shiftLatched_ && prefShift_) {
    shiftLatched_ = false;
    if (scan != kShift) {
      shift_ = false;
      Key(kVkLShift, 2);
    }
  }
  prev_ = scan;

  if (!release && vk != kVkLShift && accent_ != 0) {
    int kind = accent_;
    accent_ = 0;
    bool upper = caps_ ? !shift_ : shift_;
    if (uint16_t c = Composed(kind, vk, upper)) {
      Character(c);
      RunPicker();
      return;
    }
    Character(kSpacingAccent[kind]);
  }

  if (scan == kShift) {
    shift_ = !release;
    oneShot = true;
  } else if (scan == kFn) {
    fn_ = !release;
    if (!release) Empty();
    oneShot = true;
  }

  if (fn_ && !release && scan != kFn) {
    if (uint16_t c = FnCharOf(scan)) {
      Character(c);
      RunPicker();
      return;
    }
    if (scan == kRight) vk = kVkPrior;
    if (scan == kLeft) vk = kVkNext;
    if (scan == kSpace) {
      vk = kVkOff;
      oneShot = true;
      fn_ = false;
    }
    if (scan == kTab) {
      if (!pickerFlag_) {
        pickerFlag_ = true;
        picker_ = kOpen;  // over a closing one too: that one leaves unseen
        settle_ = true;
      } else {
        pickerFlag_ = false;
        if (picker_ == kOpen) picker_ = kClosing;
      }
      return;
    }
  }

  if (shift_ && !release && (scan == kEnter || scan == kSpace)) {
    Empty();  // then OK to the window in front, or the input panel down: no key
    RunPicker();
    return;
  }

  if (scan == kBackspace && shift_) {  // Delete, with left Shift lifted meanwhile
    vk = kVkDelete;
    Key(kVkLShift, release ? 4 : 2);
  }
  // A release lifts the key named for the byte, then any other key this scan code's
  // presses left down (Page Up, Page Down, Delete, or its own key under another name);
  // power-off is never lifted.
  if (vk != 0 && release) {
    Key(vk, 2);
    for (uint8_t other : {VkOf(scan), layered_[scan]})
      if (other != vk && other != 0 && held_[other]) Key(other, 2);
    layered_[scan] = 0;
  } else if (vk != 0) {
    if (vk != VkOf(scan) && vk != kVkOff) layered_[scan] = vk;
    PressOnce(vk);
  }
  (void)oneShot;  // a one-shot press and a repeating one inject the same events
  RunPicker();
}

void KeyModel::EndLink(bool keepLatches, Lines* out) {
  out_ = out;
  bool keepShift = keepLatches && shiftLatched_;
  for (int vk = 1; vk < 256; ++vk)
    if (vk != kVkLShift && held_[vk]) Key(static_cast<uint8_t>(vk), 2);
  if (!keepShift && held_[kVkLShift]) Key(kVkLShift, 2);
  if (keepShift && !held_[kVkLShift]) Key(kVkLShift, 4);  // Shift+Backspace had lifted it
  RunPicker();
  if (!keepShift) {
    shift_ = false;
    shiftLatched_ = false;
  }
  if (!(keepLatches && fnLatched_)) {
    fn_ = false;
    fnLatched_ = false;
  }
  prev_ = 0;
  for (uint8_t& l : layered_) l = 0;
}

int KeyModel::HeldKeys() const {
  int n = 0;
  for (bool h : held_) n += h ? 1 : 0;
  return n;
}

// ---- the stream -----------------------------------------------------------------------

uint8_t StreamMaker::AnyKey() {
  // Now and then a code the keyboard does not have.
  if (rng_() % 50 == 0) {
    static const uint8_t kUnknown[] = {0x00, 0x01, 0x39, 0x45, 0x7F};
    return kUnknown[rng_() % sizeof kUnknown];
  }
  for (;;) {
    uint8_t scan = ScanVkTable[rng_() % SCAN_VK_ROWS].Scan;
    if (scan != kShift) return scan;
  }
}

uint8_t StreamMaker::PickerKey() {
  uint16_t key = layout_[rng_() % PICKER_CELLS].Key & 0xFF;
  for (const ScanVkRow& row : ScanVkTable)
    if (row.Vk == key) return row.Scan;
  return kA;
}

std::vector<uint8_t> StreamMaker::Next() {
  uint8_t k = AnyKey(), k2 = AnyKey();
  // Gestures that need the handheld settled (Caps Lock: 11, the picker: 13 and 14) come
  // rarer than the others, so the line stays busy.
  static const uint8_t kBusy[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 15};
  unsigned g = rng_() % 64;
  if (g >= 16) g = kBusy[g % sizeof kBusy];
  switch (g) {
    case 0: case 1: case 2: case 3:
      return {k, Up(k)};
    case 4:  // a roll: the second key goes down before the first comes up
      return {k, k2, Up(k), Up(k2)};
    case 5:  // a key held over another's tap
      return {k, k2, Up(k2), Up(k)};
    case 6: case 7:
      return {kShift, k, Up(k), Up(kShift)};
    case 8:
      return {kFn, k, Up(k), Up(kFn)};
    case 9:  // sticky Shift, then a key
      return {kShift, Up(kShift), k, Up(k)};
    case 10:  // sticky Fn, then a key
      return {kFn, Up(kFn), k, Up(k)};
    case 11:  // Fn+Shift toggles Caps Lock
      return {kFn, kShift, Up(kShift), Up(kFn)};
    case 12:  // a stray release
      return {Up(k)};
    case 13: case 14: {  // the picker: opened, then a pick, a shifted pick, or a close
      std::vector<uint8_t> b = {kFn, kTab, Up(kTab), Up(kFn)};
      uint8_t p = PickerKey();
      switch (rng_() % 4) {
        case 0: b.insert(b.end(), {kShift, p, Up(p), Up(kShift)}); break;
        case 1: b.insert(b.end(), {kFn, kTab, Up(kTab), Up(kFn)}); break;
        default: b.insert(b.end(), {p, Up(p)}); break;
      }
      return b;
    }
    default: {  // a letter after whatever came before (composes with a pending accent)
      static const uint8_t kLetters[] = {0x04, 0x08, 0x0C, 0x12, 0x18, 0x11, 0x1C, 0x06, 0x1D};
      uint8_t l = kLetters[rng_() % sizeof kLetters];
      if (rng_() % 2) return {kShift, l, Up(l), Up(kShift)};
      return {l, Up(l)};
    }
  }
}

// ---- the checker ----------------------------------------------------------------------

EventChecker::EventChecker() {
  bench::SetTraceSink([this](const std::string& line) { Seen(line); });
}

EventChecker::~EventChecker() { bench::SetTraceSink(nullptr); }

void EventChecker::Seen(const std::string& line) {
  bool read = line.compare(0, 14, "ReadFile(COM1)") == 0;
  bool key = line.compare(0, 12, "keybd_event(") == 0 || line.compare(0, 17, "PostKeybdMessage(") == 0;
  std::lock_guard<std::mutex> g(mu_);
  bool counted = !counted_.empty() && line.compare(0, counted_.size(), counted_) == 0;
  if (counted) ++countedLines_;
  if (read) {
    ++bytesRead_;  // the reader reads one byte at a time
  } else if (key && expected_.empty()) {
    ++unexpected_;
    if (failure_.empty()) failure_ = "after " + std::to_string(matched_) + " matched: unexpected " + line;
  } else if (key) {
    if (expected_.front() != line && failure_.empty())
      failure_ = "event " + std::to_string(matched_) + ": expected " + expected_.front() + ", got " + line;
    expected_.pop_front();
    ++matched_;
  }
  if (read || key || counted) cv_.notify_all();
}

void EventChecker::Expect(const Lines& lines) {
  std::lock_guard<std::mutex> g(mu_);
  expected_.insert(expected_.end(), lines.begin(), lines.end());
}

bool EventChecker::WaitFor(long bytes) {
  std::unique_lock<std::mutex> lk(mu_);
  return cv_.wait_for(lk, std::chrono::seconds(30),
                      [&] { return !failure_.empty() || (expected_.empty() && bytesRead_ >= bytes); });
}

long EventChecker::Matched() {
  std::lock_guard<std::mutex> g(mu_);
  return matched_;
}

long EventChecker::BytesRead() {
  std::lock_guard<std::mutex> g(mu_);
  return bytesRead_;
}

std::string EventChecker::Failure() {
  std::lock_guard<std::mutex> g(mu_);
  if (failure_.empty() && !expected_.empty())
    return std::to_string(expected_.size()) + " expected events never came; the first: " + expected_.front();
  return failure_;
}

void EventChecker::CountLines(const std::string& prefix) {
  std::lock_guard<std::mutex> g(mu_);
  counted_ = prefix;
  countedLines_ = 0;
}

bool EventChecker::WaitForLines(long n) {
  std::unique_lock<std::mutex> lk(mu_);
  return cv_.wait_for(lk, std::chrono::seconds(30), [&] { return countedLines_ >= n; });
}

std::string EventChecker::Mismatch() {
  std::lock_guard<std::mutex> g(mu_);
  return failure_;
}

long EventChecker::Unexpected() {
  std::lock_guard<std::mutex> g(mu_);
  return unexpected_;
}

// ---- the feeder -----------------------------------------------------------------------

Feeder::Feeder(const PickerCell* layout, Writer write, long baud)
    : model(layout), maker_(Variant(), layout), write_(std::move(write)), nsPerByte_(baud ? 10L * 1000000000L / baud : 0) {
  model.SetStickyKeys(true, true);
  clock_gettime(CLOCK_MONOTONIC, &due_);
}

bool Feeder::Flush() {
  events += static_cast<long>(lines_.size());
  checker.Expect(lines_);
  lines_.clear();
  bool ok = pending_.empty() || write_(pending_);
  written += static_cast<long>(pending_.size());
  pending_.clear();
  return ok && checker.Mismatch().empty();
}

bool Feeder::Feed(uint8_t b) {
  model.Byte(b, &lines_);
  pending_.push_back(b);
  if (nsPerByte_) {
    due_.tv_nsec += nsPerByte_;
    while (due_.tv_nsec >= 1000000000L) {
      due_.tv_nsec -= 1000000000L;
      ++due_.tv_sec;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due_, nullptr) == EINTR) {
    }
  }
  if (model.SettleNeeded()) {
    // The picker's thread and the hot key's answer must be done before the next byte.
    if (!Drain()) return false;
    ++settles;
    return true;
  }
  if (nsPerByte_ || pending_.size() >= 512) return Flush();
  return true;
}

bool Feeder::Gesture() {
  for (uint8_t b : maker_.Next())
    if (!Feed(b)) return false;
  return true;
}

bool Feeder::Drain() {
  if (!Flush() || !checker.WaitFor(written)) return false;
  bench::Settle();
  return checker.Mismatch().empty();
}

bool Feeder::ClosePicker() {
  for (int i = 0; model.PickerShowing() && i < 4; ++i)
    if (!Feed(kLeft) || !Feed(Up(kLeft))) return false;
  return !model.PickerShowing();
}

void Feeder::ExpectLinkEnd(bool keepLatches) {
  model.EndLink(keepLatches, &lines_);
  events += static_cast<long>(lines_.size());
  checker.Expect(lines_);
  lines_.clear();
}

// ---- the desk -------------------------------------------------------------------------

static HWND deskWindow = nullptr;

static LRESULT CALLBACK DeskProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CHAR || msg == WM_KEYDOWN || msg == WM_KEYUP || msg == WM_COMMAND) return 0;
  return DefWindowProcW(hwnd, msg, wp, lp);
}

static DWORD WINAPI DeskThread(LPVOID) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DeskProc;
  wc.lpszClassName = L"StressDesk";
  RegisterClassW(&wc);
  deskWindow = CreateWindowExW(0, L"StressDesk", L"Desk", WS_VISIBLE, 0, 26, 240, 268, nullptr, nullptr,
                               nullptr, nullptr);
  SetForegroundWindow(deskWindow);
  SetFocus(deskWindow);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  DestroyWindow(deskWindow);
  return 0;
}

void Desk::Open() {
  thread_ = CreateThread(nullptr, 0, DeskThread, nullptr, 0, nullptr);
  bench::Settle();
}

void Desk::Close() {
  if (!thread_) return;
  PostMessageW(deskWindow, WM_QUIT, 0, 0);
  bench::Settle();
  std::string why;
  if (bench::WaitFor(thread_, bench::kWaitLimitMs, &why) != bench::Waited::Signaled)
    ADD_FAILURE() << "waited for the desk's thread to end after WM_QUIT: " << why;
  CloseHandle(thread_);
  thread_ = nullptr;
  deskWindow = nullptr;
}

HWND Desk::window() const { return deskWindow; }

std::string KeysDown() {
  std::string down;
  for (int vk = 0; vk < 256; ++vk)
    if (GetAsyncKeyState(vk) & 0x8000) down += (down.empty() ? "" : " ") + HexText(vk, 2);
  return down;
}

HWND PickerWindow() {
  WCHAR cls[RES_STRING_MAX] = {0}, title[RES_STRING_MAX] = {0};
  LoadStringW(hResDll, IDS_PICKER_CLASS, cls, RES_STRING_MAX);
  LoadStringW(hResDll, IDS_PICKER_TITLE, title, RES_STRING_MAX);
  return FindWindowW(cls, title);
}

}  // namespace stress
