// Auto-stretched 8-bit grey previews of frames.
#pragma once

#include <string>

#include "tools/tenvora_match/frame.h"

// Maps the frame to 0-255: black a little below the median background, white
// at the 99.9th percentile, with a midtone curve that puts the median at a
// quarter of full scale. The last row comes first, so the picture stands as
// FITS viewers show it. Throws ToolError naming the path.
void write_preview_png(const std::string& path, const Frame& frame);
