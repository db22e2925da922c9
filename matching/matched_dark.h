// The work of the Go button.
#pragma once

// Builds the glow, hot-pixel and matched dark images (and, when asked, the
// corrected image) from the chosen frames in the plug-in state.
void run_matched_dark();
