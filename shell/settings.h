// The four user settings in the handheld's registry, and the handheld's language.
#pragma once

#include "platform/platform.h"

#define SETTINGS_SUBKEY L"Tavlo"
#define LANGUAGE_COUNT 9

// Stores one REG_DWORD under HKEY_CURRENT_USER\SOFTWARE\Corvane\<subkey>, creating the
// keys as needed: 1 when stored, else 0.
int WriteSetting(LPCWSTR subkey, LPCWSTR name, DWORD value);
// Reads one stored value of at most 4 bytes: 1 when read, else 0 (destination untouched).
int ReadSetting(LPCWSTR subkey, LPCWSTR name, DWORD* destination);
// Index of string 20 of the resource library among "USA", "FRA", "GER", "ESP", "PTB",
// "ITA", "CHS", "CHT", "JPN" (letter case ignored); 0 when it is none of them.
int GetLanguageIndex();
// Once, at the end of the driver's initialisation: settings, picker layout, engine state.
void LoadSettings();
