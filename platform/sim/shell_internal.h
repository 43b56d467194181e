// What the simulated shell needs from the window manager.
#pragma once

#include "win32.h"

namespace sim {

// The first child of `parent` whose control id (the HMENU given to CreateWindowExW, or
// GWLP_ID) is `id`; null when there is none. Lock held. The window manager provides it;
// until it does, no control can be found by id.
HWND ChildById(HWND parent, LONG_PTR id);

// Icon `name` of a module, from the image of its RT_GROUP_ICON nearest `size` pixels
// (0: the first image). Shared: one handle per resource and size that DestroyIcon
// leaves loaded; otherwise a new handle that DestroyIcon frees. Lock held. shell.cpp.
HICON LoadIconSized(HMODULE module, LPCWSTR name, int size, bool shared);

// The resource id an icon was loaded from (0: none, or a string name). Lock held.
int IconResourceId(HICON icon);

}  // namespace sim
