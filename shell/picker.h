// The special-character picker: a pop-up over the lower screen, on a thread of its own,
// that types the character of the cell the user picks or leaves an accent pending.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/shell_interface.h"
#include "platform/platform.h"

#define PICKER_X 0
#define PICKER_Y 180
#define PICKER_WIDTH 240
#define PICKER_HEIGHT 114

// 1 asks the picker thread to leave its loop at its next message.
extern std::atomic<uint32_t> PickerStop;

// The rectangle of cell 0..29 in the picker window's client area.
RECT PickerCellRect(int cell);
// The cell under a client point, -1 for none (the gaps between cells).
int PickerCellAt(int x, int y);

// Draws picker bitmap `id` from the resource library into the picker window at once,
// outside any paint cycle.
void DrawPickerBitmap(HWND hwnd, WORD id);
// The program is ending: a picker still up closes and its thread ends, typing nothing.
void EndPicker();
DWORD WINAPI PickerThread(LPVOID param);
LRESULT CALLBACK PickerWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
