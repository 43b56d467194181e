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

// While a picker is open, PickerOpen holds the number of its opening (2 and up) in place
// of the translator's 1: the translator only asks whether it is 0, and a picker thread
// clears it only while it still holds its own number, so an older thread never undoes a
// newer opening.

// How long the program's exit waits for picker threads to end before it frees the
// resource library they draw from.
#define PICKER_END_WAIT_MS 2000

// The rectangle of cell 0..29 in the picker window's client area.
RECT PickerCellRect(int cell);
// The cell under a client point, -1 for none (the gaps between cells).
int PickerCellAt(int x, int y);

// Draws picker bitmap `id` from the resource library into the picker window at once,
// outside any paint cycle.
void DrawPickerBitmap(HWND hwnd, WORD id);
// The program is ending, its driver stopped (nothing opens another picker): a picker
// still up closes without a pick, and every picker thread is waited for, at most
// PICKER_END_WAIT_MS, so that none still draws from the resource library once it is freed.
void EndPicker();
DWORD WINAPI PickerThread(LPVOID param);
LRESULT CALLBACK PickerWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
