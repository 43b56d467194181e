#include "shell/settings.h"

#include <cstring>
#include <cwctype>

#include "shell/layouts.h"
#include "shell/resids.h"
#include "shell/state.h"

static const WCHAR kCompanyKey[] = L"SOFTWARE\\Corvane";
static const WCHAR* const kLanguageCodes[LANGUAGE_COUNT] = {L"USA", L"FRA", L"GER", L"ESP", L"PTB",
                                                            L"ITA", L"CHS", L"CHT", L"JPN"};

int WriteSetting(LPCWSTR subkey, LPCWSTR name, DWORD value) {
  HKEY company, key;
  DWORD disposition;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kCompanyKey, 0, nullptr, 0, 0, nullptr, &company, &disposition) !=
      ERROR_SUCCESS)
    return 0;
  if (RegCreateKeyExW(company, subkey, 0, nullptr, 0, 0, nullptr, &key, &disposition) != ERROR_SUCCESS) {
    RegCloseKey(company);
    return 0;
  }
  LONG stored = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
  RegCloseKey(key);
  RegCloseKey(company);
  return stored == ERROR_SUCCESS ? 1 : 0;
}

int ReadSetting(LPCWSTR subkey, LPCWSTR name, DWORD* destination) {
  HKEY company, key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kCompanyKey, 0, 0, &company) != ERROR_SUCCESS) return 0;
  if (RegOpenKeyExW(company, subkey, 0, 0, &key) != ERROR_SUCCESS) {
    RegCloseKey(company);
    return 0;
  }
  // A value shorter than 4 bytes is zero-extended: it never mixes with what the
  // setting held before.
  DWORD value = 0;
  DWORD size = 4;
  LONG read = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  RegCloseKey(company);
  if (read != ERROR_SUCCESS) return 0;
  *destination = value;
  return 1;
}

static bool SameCode(const WCHAR* a, const WCHAR* b) {
  for (; *a && *b; ++a, ++b)
    if (towupper(*a) != towupper(*b)) return false;
  return *a == *b;
}

int GetLanguageIndex() {
  for (int i = 0; i < LANGUAGE_COUNT; ++i) {
    WCHAR code[RES_LANGUAGE_MAX] = {0};
    LoadStringW(hResDll, IDS_LANGUAGE, code, RES_LANGUAGE_MAX);
    if (SameCode(code, kLanguageCodes[i])) return i;
  }
  return 0;
}

// Reads a delay or rate; a missing one takes its default, which is written back.
static uint32_t LoadNumber(LPCWSTR name, DWORD fallback) {
  DWORD value;
  if (ReadSetting(SETTINGS_SUBKEY, name, &value)) return value;
  WriteSetting(SETTINGS_SUBKEY, name, fallback);
  return fallback;
}

// Reads a sticky-key flag: on when stored non-zero (its box is checked then); a missing
// one is written back as 0. Values out of range stay in the registry as stored.
static uint32_t LoadFlag(LPCWSTR name, int checkBox) {
  DWORD value;
  if (!ReadSetting(SETTINGS_SUBKEY, name, &value)) {
    WriteSetting(SETTINGS_SUBKEY, name, 0);
    return 0;
  }
  if (value == 0) return 0;
  SendDlgItemMessageW(hSettingsDlg, checkBox, BM_SETCHECK, BST_CHECKED, 0);
  return 1;
}

void LoadSettings() {
  // Out-of-range values are loaded as stored: the repeat timer clamps them for itself.
  InitialDelay = LoadNumber(L"InitialDelay", 500);
  RepeatRate = LoadNumber(L"RepeatRate", 20);
  memcpy(ActiveLayout, PickerLayout[LayoutForLanguage(GetLanguageIndex())], sizeof ActiveLayout);
  PickerBitmapBase = IDB_PICKER;
  ShiftDown = 0;
  FnDown = 0;
  PrefShift = 0;
  RepeatTimerOn = 0;
  StickyShiftLatched = 0;
  PrefShift = LoadFlag(L"PrefShift", IDC_STICKY_SHIFT);
  StickyFnLatched = 0;
  PrefFn = 0;
  PrefFn = LoadFlag(L"PrefFn", IDC_STICKY_FN);
}
