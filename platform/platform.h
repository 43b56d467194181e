// The one header program code includes for platform calls. On the handheld it is the
// handheld's own API; on Windows the real API plus the Pocket PC calls that desktop
// Windows lacks; on other systems the simulated handheld. Nothing outside platform/
// asks which one it is.
#pragma once

#if defined(_WIN32_WCE)
#include "pocketpc/pocketpc.h"
#elif defined(_WIN32)
#include <windows.h>
#include "wince/wince.h"
#else
#include "sim/win32.h"
#endif
