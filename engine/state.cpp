#include "engine/state.h"

HWND hSettingsDlg = nullptr;
HANDLE hTouchEvent = nullptr;

std::atomic<uint32_t> InitialDelay{500};
std::atomic<uint32_t> RepeatRate{20};
std::atomic<uint32_t> PrefShift{0};
std::atomic<uint32_t> PrefFn{0};

std::atomic<uint32_t> CapsLockOn{0};

std::atomic<uint32_t> ShiftDown{0};
std::atomic<uint32_t> FnDown{0};
std::atomic<uint32_t> StickyShiftLatched{0};
std::atomic<uint32_t> StickyFnLatched{0};
std::atomic<uint8_t> PrevScanCode{0};
std::atomic<int32_t> PendingAccent{0};
std::atomic<uint32_t> PickerOpen{0};
std::atomic<uint32_t> PickerBitmapBase{148};

std::atomic<uint8_t> RepeatKey{0};
std::atomic<uint32_t> RepeatArmed{0};
std::atomic<uint32_t> RepeatTimerOn{0};
