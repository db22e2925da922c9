// The functions the host calls, exported from the DLL under these names.
#pragma once

#include <cstdint>

#include "platform/win_api.h"
#include "plugin/host_commands.h"

extern "C" {

// Registers the plug-in: writes its name ("Tenvora") and its description
// ("Tenvora.") into the host's buffers, keeps the host's command function and
// learns the host's edition from its main window's title. Returns 1.
FOREIGN_ENTRY int32_t WINAPI pi_initialize(HostCallback host_callback, char* name,
                                           char* description, HWND main_window);

// Runs the dialog on the active image, owned by host_window; returns 1 after
// Go, 2 after Cancel, or the window system's failure value.
FOREIGN_ENTRY INT_PTR WINAPI pi_activate(ImageHandle active_image, HWND host_window);

// Nothing to release: the plug-in owns nothing but its state record.
FOREIGN_ENTRY void WINAPI pi_finalize(HostWord ignored);

FOREIGN_ENTRY BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
}
