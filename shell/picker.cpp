// The special-character picker's window is not part of the program yet: Fn+Tab
// toggles the translator's picker flag and nothing opens.
#include "engine/picker.h"

void OpenPicker() {}
void ClosePicker() {}
void DrawPickerBitmap(HWND, WORD) {}
