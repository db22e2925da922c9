// The pixel count of a frame, shared by the whole-plane kernels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/frame_types.h"

// Pixels in the frame, counted in a pointer-sized type; 0 when the frame has
// none, so that no kernel reads a plane then.
inline ptrdiff_t pixel_count(FrameGeometry frame) {
  if (frame.width <= 0 || frame.height <= 0) return 0;
  return static_cast<ptrdiff_t>(frame.width) * frame.height;
}
