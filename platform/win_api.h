// The window-system operations the plug-in uses. The DLL gets them from
// <windows.h> and USER32; the native build gets the same names from our
// headless window layer (winlayer/), so the dialog code is one file for both.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "winlayer/headless_win_api.h"
#endif

// Functions that foreign code calls (the host, the window system): their
// callers may leave the stack only 4-byte aligned, and the SSE code they
// reach needs 16.
#ifdef _WIN32
#define FOREIGN_ENTRY __attribute__((force_align_arg_pointer))
#else
#define FOREIGN_ENTRY
#endif
