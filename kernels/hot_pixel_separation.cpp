// The glow plane of a dark frame, straightforward: every interior pixel that
// is more than 1.25 times the median of its 3x3 neighbourhood is replaced by
// that median; the border is copied. The reference for the vector versions.
#include <cstddef>
#include <cstring>

#include "kernels/glow_pixel.h"
#include "kernels/kernels.h"

namespace {

void copy_pixels(const float* source, float* destination, ptrdiff_t index, ptrdiff_t count) {
  std::memcpy(destination + index, source + index, static_cast<size_t>(count) * sizeof(float));
}

}  // namespace

void separate_hot_pixels_reference(FrameGeometry frame, const float* source, float* destination) {
  const int32_t width = frame.width;
  const int32_t height = frame.height;
  if (width <= 0 || height <= 0) return;
  const ptrdiff_t stride = width;

  // The interior.
  if (width >= 3 && height >= 3) {
    for (int32_t y = 1; y <= height - 2; ++y) {
      const float* row = source + stride * y;
      for (int32_t x = 1; x <= width - 2; ++x)
        destination[stride * y + x] = glow_pixel(row, stride, x);
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
