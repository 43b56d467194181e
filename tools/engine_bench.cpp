// Cost of TranslateKeyByte per key byte, over a paragraph typed as the keyboard sends
// it: press and release bytes, Shift for capitals, Fn for digits and signs, and
// accents left by the picker.
//
// Built twice. engine_bench runs the engine on the simulated handheld, once with the
// sim keeping its trace and once with the trace off and no sink. engine_bench_own
// (ENGINE_BENCH_STAND_IN) links the engine against stand-in platform calls that only
// count, so its figure is the program's own cost with no platform under it.
//
//   engine_bench [--benchmark_min_time=...]
//   engine_bench_own [--benchmark_min_time=...]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/shell_interface.h"
#include "engine/state.h"
#include "engine/translator.h"
#include "platform/platform.h"
#include "tools/typed_paragraph.h"
#ifndef ENGINE_BENCH_STAND_IN
#include "platform/sim/bench.h"
#endif

void OpenPicker() {}
void ClosePicker() {}
void RedrawPicker(WORD) {}

namespace {

// The paragraph and how it is typed are shared with the handheld's reference program.
using typed_paragraph::Step;
using typed_paragraph::Stream;

#ifdef ENGINE_BENCH_STAND_IN

// What the engine handed to the stand-in platform: counted, so the work cannot be
// optimised away and the figure can be checked against the sim's trace.
int64_t KeyEvents = 0;
int64_t Characters = 0;

void Prepare() {}
void Finish() {}
int64_t InputEvents() { return KeyEvents + Characters; }
void ForgetInputEvents() { KeyEvents = Characters = 0; }

#else

LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }

void Prepare() {
  bench::Reset();
  hTouchEvent = CreateEventW(nullptr, FALSE, FALSE, L"TouchEvent");
  WNDCLASSW wc = {};
  wc.lpfnWndProc = Proc;
  wc.lpszClassName = L"SettingsDlg";
  RegisterClassW(&wc);
  // The clock never moves here, so the repeat timer is armed and killed but never fires.
  hSettingsDlg = CreateWindowExW(0, L"SettingsDlg", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 nullptr, nullptr);
}

void Finish() {
  DestroyWindow(hSettingsDlg);
  hSettingsDlg = nullptr;
  CloseHandle(hTouchEvent);
  hTouchEvent = nullptr;
  bench::KeepTrace(true);
}

int64_t InputEvents() { return static_cast<int64_t>(bench::Trace({"keybd_event(", "PostKeybdMessage("}).size()); }
void ForgetInputEvents() { bench::ClearTrace(); }

#endif

// Runs the paragraph until the benchmark has its time. keepTrace: the sim records every
// call (the stand-in has no trace and ignores it).
void RunParagraphs(benchmark::State& state, bool keepTrace) {
  Prepare();
#ifndef ENGINE_BENCH_STAND_IN
  bench::KeepTrace(keepTrace);
  bench::SetTraceSink(nullptr);
#else
  (void)keepTrace;
#endif
  PrefShift = 0;
  PrefFn = 0;

  const std::vector<Step> stream = Stream();
  int64_t bytes = 0;
  int64_t events = -1;
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
    // The input events of one paragraph, for comparing the two builds.
    if (events < 0) events = InputEvents();
    ForgetInputEvents();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(bytes);
  state.counters["ns_per_byte"] = benchmark::Counter(
      static_cast<double>(bytes), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["bytes_per_paragraph"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
  // With the trace off the sim cannot count them: 0.
  state.counters["events_per_paragraph"] = static_cast<double>(events < 0 ? 0 : events);
  Finish();
}

#ifdef ENGINE_BENCH_STAND_IN
void BM_TranslateKeyByte_Own(benchmark::State& state) { RunParagraphs(state, false); }
BENCHMARK(BM_TranslateKeyByte_Own)->Unit(benchmark::kMicrosecond);
#else
void BM_TranslateKeyByte(benchmark::State& state) { RunParagraphs(state, true); }
BENCHMARK(BM_TranslateKeyByte)->Unit(benchmark::kMicrosecond);
void BM_TranslateKeyByte_TraceOff(benchmark::State& state) { RunParagraphs(state, false); }
BENCHMARK(BM_TranslateKeyByte_TraceOff)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace

#ifdef ENGINE_BENCH_STAND_IN
// The platform calls the translator makes, standing in for the handheld: each does the
// least a real one must (count what was asked), so only the engine's own work is timed.
// No picker and no menu window exist, and no string resource is found.
BOOL WINAPI SetEvent(HANDLE) { return TRUE; }
void WINAPI keybd_event(BYTE, BYTE, DWORD, ULONG_PTR) { ++KeyEvents; }
BOOL WINAPI PostKeybdMessage(HWND, UINT, UINT, UINT, UINT*, UINT*) {
  ++Characters;
  return TRUE;
}
UINT_PTR WINAPI SetTimer(HWND, UINT_PTR id, UINT, TIMERPROC) { return id; }
BOOL WINAPI KillTimer(HWND, UINT_PTR) { return TRUE; }
HWND WINAPI FindWindowW(LPCWSTR, LPCWSTR) { return nullptr; }
HWND WINAPI GetForegroundWindow(void) { return nullptr; }
BOOL WINAPI PostMessageW(HWND, UINT, WPARAM, LPARAM) { return TRUE; }
BOOL WINAPI SHSipPreference(HWND, SIPSTATE) { return TRUE; }
#endif

BENCHMARK_MAIN();
