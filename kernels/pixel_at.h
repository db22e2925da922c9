// The clamped read: every coordinate pair reads the nearest pixel of the
// frame, so windows may reach past the edges.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/force_inline.h"
#include "kernels/frame_types.h"

// The stored value itself, with no arithmetic on it. A frame without pixels
// has nothing to read, so the plane is not touched and the answer is 0.
TENVORA_FORCE_INLINE float pixel_at(FrameGeometry frame, const float* plane, int32_t x, int32_t y) {
  const int32_t width = frame.width;
  const int32_t height = frame.height;
  if (width <= 0 || height <= 0) return 0.0f;
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  if (x >= width) x = width - 1;
  if (y >= height) y = height - 1;
  return plane[x + static_cast<ptrdiff_t>(width) * y];
}
