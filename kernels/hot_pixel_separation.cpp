// The glow plane of a dark frame: every interior pixel that is more than 1.25
// times the median of its 3x3 neighbourhood is replaced by that median; the
// border is copied.
#include <cstddef>
#include <cstring>

#include "kernels/kernels.h"

namespace {

void copy_pixels(const float* source, float* destination, ptrdiff_t index, ptrdiff_t count) {
  std::memcpy(destination + index, source + index, static_cast<size_t>(count) * sizeof(float));
}

}  // namespace

void separate_hot_pixels(const float* source, float* destination) {
  const int32_t width = plugin_state.frame_width;
  const int32_t height = plugin_state.frame_height;
  if (width <= 0 || height <= 0) return;
  const ptrdiff_t stride = width;

  // The interior.
  if (width >= 3 && height >= 3) {
    float neighbourhood[9];
    for (int32_t y = 1; y <= height - 2; ++y) {
      const float* row = source + stride * y;
      for (int32_t x = 1; x <= width - 2; ++x) {
        // Row after row, left to right; the centre is kept apart because the
        // network reorders the array.
        std::memcpy(neighbourhood + 0, row - stride + x - 1, 3 * sizeof(float));
        std::memcpy(neighbourhood + 3, row + x - 1, 3 * sizeof(float));
        std::memcpy(neighbourhood + 6, row + stride + x - 1, 3 * sizeof(float));
        const float centre = row[x];
        float median = median_of_9(neighbourhood);
        // No division by zero or NaN; the substitute is also what a hot
        // centre over such a neighbourhood becomes.
        if (median == 0.0f || median != median) median = 1.0f;
        // In double, so that a quotient just above 1.25 is not rounded onto it.
        const double quotient = static_cast<double>(centre) / static_cast<double>(median);
        destination[stride * y + x] = quotient > 1.25 ? median : centre;
      }
    }
  }

  // The first and the last row, then the first and the last column.
  copy_pixels(source, destination, 0, width);
  copy_pixels(source, destination, stride * (height - 1), width);
  for (int32_t y = 1; y <= height - 2; ++y) {
    copy_pixels(source, destination, stride * y, 1);
    copy_pixels(source, destination, stride * y + width - 1, 1);
  }
}
