// A notes program on the simulated handheld: one window with an edit control that takes
// the focus, so what the driver types shows up as text.
#pragma once

#include "platform/platform.h"

namespace web {

// Starts it on a simulated thread of its own; its window lies in front once shown.
// Returns the thread (null when it could not start).
HANDLE StartNotes();
// The notes window and its edit control (null until made).
HWND NotesWindow();
HWND NotesEdit();

}  // namespace web
