// The one header program code includes for platform calls. On Windows it is the
// real API plus the Pocket PC calls that desktop Windows lacks; on other systems it
// is the simulated handheld. Nothing outside platform/ asks which one it is.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#include "wince/wince.h"
#else
#include "sim/win32.h"
#endif
