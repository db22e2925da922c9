// Pixel values of a 5 x 5 block and of the region around it, for the checks'
// medians and noise. value(x, y) gives the pixel of the plane looked at.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "diagnostics/diagnostics.h"

// The block with top-left pixel (x, y), read as the glow measurement reads it:
// coordinates clamped into the frame.
template <class Value>
std::vector<double> block_values(int32_t width, int32_t height, int32_t x, int32_t y, Value value) {
  std::vector<double> values;
  values.reserve(25);
  for (int32_t row = y; row < y + 5; ++row)
    for (int32_t column = x; column < x + 5; ++column)
      values.push_back(value(std::clamp(column, 0, width - 1), std::clamp(row, 0, height - 1)));
  return values;
}

// The square around the block with top-left pixel (x, y), clipped to the
// frame, without the block's own pixels.
template <class Value>
std::vector<double> region_values(int32_t width, int32_t height, int32_t x, int32_t y,
                                  Value value) {
  const int32_t margin = (diagnostic_limits::region_side - 5) / 2;
  std::vector<double> values;
  values.reserve(diagnostic_limits::region_side * diagnostic_limits::region_side);
  for (int32_t row = std::max(0, y - margin); row < std::min(height, y + 5 + margin); ++row)
    for (int32_t column = std::max(0, x - margin); column < std::min(width, x + 5 + margin);
         ++column)
      if (row < y || row >= y + 5 || column < x || column >= x + 5)
        values.push_back(value(column, row));
  return values;
}
