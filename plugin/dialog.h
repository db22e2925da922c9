// The plug-in's dialog, IDD_MAIN.
#pragma once

#include "platform/win_api.h"

// Dialog procedure: choosing the frames, Subtract Bias and its factor, the
// Final Step radio buttons, About, Cancel and Go (which runs the pipeline).
FOREIGN_ENTRY INT_PTR CALLBACK plugin_dialog_proc(HWND dialog, UINT message, WPARAM wparam,
                                                  LPARAM lparam);
