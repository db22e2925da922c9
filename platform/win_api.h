// The window-system operations the plug-in uses. The DLL gets them from
// <windows.h> and USER32; the native build gets the same names from our
// headless window layer (winlayer/), so the dialog code is one file for both.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "winlayer/headless_win_api.h"
#endif
