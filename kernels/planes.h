// The pixel count of the frame, shared by the whole-plane kernels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugin/plugin_state.h"

// Pixels in the frame, counted in a pointer-sized type; 0 when the frame has
// none, so that no kernel reads a plane then.
inline ptrdiff_t pixel_count() {
  const int32_t width = plugin_state.frame_width;
  const int32_t height = plugin_state.frame_height;
  if (width <= 0 || height <= 0) return 0;
  return static_cast<ptrdiff_t>(width) * height;
}
