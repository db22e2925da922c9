// Auto-stretched 8-bit grey previews of frames.
#pragma once

#include <string>

#include "fits/frame.h"

constexpr int32_t kPreviewSide = 2048;

// Maps the frame to 0-255: black a little below the median background, white
// at the 99.9th percentile, with a midtone curve that puts the median at a
// quarter of full scale. The last row comes first, so the picture stands as
// FITS viewers show it. Frames longer than kPreviewSide on a side are shrunk
// by a whole factor (block means) to fit. Throws ToolError naming the path.
void write_preview_png(const std::string& path, const Frame& frame);
