// The plug-in started afresh in the host emulation, and activations with a
// user acting in the dialog.
#pragma once

#include <functional>
#include <string>

#include "plugin/entry_points.h"
#include "plugin/plugin_state.h"
#include "testhost/host_emulation.h"
#include "winlayer/headless_user.h"

// Loads fresh plug-in state and a fresh window layer, opens six 2 x 2 images
// "Image 1" .. "Image 6" in `host`, which the user picks in that order, and
// initializes the plug-in under a main window with the given title.
void start_plugin(testhost::HostEmulation& host, const std::string& main_window_title = "Host");

// Runs one activation with `user` acting in the dialog; returns its result.
// The default active image is none of the host's.
INT_PTR activate(const std::function<void(HWND dialog)>& user, ImageHandle active_image = 7);
