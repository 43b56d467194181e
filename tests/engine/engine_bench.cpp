// Cost of TranslateKeyByte per key byte, on the simulated handheld, over a
// paragraph typed as the keyboard sends it: press and release bytes, Shift for
// capitals, Fn for digits and signs, and accents left by the picker.
//
//   engine_bench [--benchmark_min_time=...]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/picker.h"
#include "engine/state.h"
#include "engine/translator.h"
#include "platform/platform.h"
#include "platform/sim/bench.h"

void OpenPicker() {}
void ClosePicker() {}
void DrawPickerBitmap(HWND, WORD) {}

namespace {

// One step of the stream: a key byte, or an accent picked before the next byte.
struct Step {
  uint8_t byte;
  int32_t accent;  // non-zero: set PendingAccent, no byte
};

const char kParagraph[] =
    "Dear Ms Brown, the 3 boxes (12 kg) arrived on 14/06 at 9:45. Please pay 250$ "
    "by Friday; call me at 555-0199 if anything is missing! Regards, Ken. "
    "P.S. The cafe^ au lait and the ni~no's creme brulee were lovely.";

uint8_t LetterScan(char c) { return static_cast<uint8_t>(0x04 + (c - 'a')); }

void Tap(std::vector<Step>& s, uint8_t scan) {
  s.push_back({scan, 0});
  s.push_back({static_cast<uint8_t>(scan | 0x80), 0});
}

void Fn(std::vector<Step>& s, uint8_t scan) {
  s.push_back({0x77, 0});
  Tap(s, scan);
  s.push_back({0xF7, 0});
}

std::vector<Step> Stream() {
  // Fn characters by their key's scan code.
  const struct {
    char ch;
    uint8_t scan;
  } fn[] = {{'0', 0x13}, {'1', 0x14}, {'2', 0x1A}, {'3', 0x08}, {'4', 0x15}, {'5', 0x17},
            {'6', 0x1C}, {'7', 0x18}, {'8', 0x0C}, {'9', 0x12}, {'!', 0x04}, {'$', 0x09},
            {'/', 0x0E}, {'-', 0x0F}, {'(', 0x05}, {')', 0x11}, {';', 0x36}, {':', 0x37},
            {'\'', 0x1D}};
  std::vector<Step> s;
  for (const char* p = kParagraph; *p; ++p) {
    char c = *p;
    if (c >= 'a' && c <= 'z') {
      // A following ^ or ~ means the letter carries that accent, picked before it.
      if (p[1] == '^') s.push_back({0, 3});
      if (p[1] == '~') s.push_back({0, 4});
      Tap(s, LetterScan(c));
    } else if (c >= 'A' && c <= 'Z') {
      s.push_back({0x74, 0});
      Tap(s, LetterScan(static_cast<char>(c - 'A' + 'a')));
      s.push_back({0xF4, 0});
    } else if (c == ' ') {
      Tap(s, 0x2C);
    } else if (c == ',') {
      Tap(s, 0x36);
    } else if (c == '.') {
      Tap(s, 0x37);
    } else if (c == '^' || c == '~') {
      // consumed with the letter before it
    } else {
      bool found = false;
      for (const auto& f : fn) {
        if (f.ch == c) {
          Fn(s, f.scan);
          found = true;
        }
      }
      if (!found) std::fprintf(stderr, "no key for '%c'\n", c);
    }
  }
  Tap(s, 0x28);
  return s;
}

LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }

void BM_TranslateKeyByte(benchmark::State& state) {
  bench::Reset();
  hResDll = LoadLibraryW(L"brindleres.dll");
  hTouchEvent = CreateEventW(nullptr, FALSE, FALSE, L"TouchEvent");
  WNDCLASSW wc = {};
  wc.lpfnWndProc = Proc;
  wc.lpszClassName = L"SettingsDlg";
  RegisterClassW(&wc);
  // The clock never moves here, so the repeat timer is armed and killed but never fires.
  hSettingsDlg = CreateWindowExW(0, L"SettingsDlg", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 nullptr, nullptr);
  PrefShift = 0;
  PrefFn = 0;

  const std::vector<Step> stream = Stream();
  int64_t bytes = 0;
  for (auto _ : state) {
    for (const Step& st : stream) {
      if (st.accent != 0) {
        PendingAccent = st.accent;
      } else {
        TranslateKeyByte(st.byte);
        ++bytes;
      }
    }
    state.PauseTiming();
    bench::ClearTrace();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(bytes);
  state.counters["ns_per_byte"] = benchmark::Counter(
      static_cast<double>(bytes), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["bytes_per_paragraph"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());

  DestroyWindow(hSettingsDlg);
  hSettingsDlg = nullptr;
  CloseHandle(hTouchEvent);
  hTouchEvent = nullptr;
  if (hResDll) FreeLibrary(hResDll);
  hResDll = nullptr;
}
BENCHMARK(BM_TranslateKeyByte)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
