// Entry points of the special-character picker that the translator calls. The
// picker (shell) defines them; the picker thread owns the window they act on.
#pragma once

#include "platform/platform.h"

void OpenPicker();
void ClosePicker();
// Draws picker bitmap `id` from the resource library into the picker window.
void DrawPickerBitmap(HWND hwnd, WORD id);
