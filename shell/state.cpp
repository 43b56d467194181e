#include "shell/state.h"

HMODULE hResDll = nullptr;
HINSTANCE hInstance = nullptr;
HWND hMainWnd = nullptr;
HWND hMenuBar = nullptr;
