// Hot-pixel measurement: the brightest pixel of each cell of a 3x3 grid over
// a reference plane, and the means of a plane and of its background at those
// nine positions.
#include <cstddef>

#include "kernels/kernels.h"
#include "kernels/nan_order.h"

namespace {

// Sum of the nine entries' values, rounded to float after each addition,
// times the float nearest to 1/9; the product is exact in double.
template <typename ValueAt>
double mean_over_hot_pixels(const HotPixelList& hot, ValueAt value_at) {
  float sum = 0.0f;
  for (int k = 0; k < 9; ++k) sum = sum_of(sum, value_at(hot.x[k], hot.y[k]));
  return static_cast<double>(sum) * static_cast<double>(0.111111112f);
}

}  // namespace

// Cells are width / 3 by height / 3; the remainder columns and rows belong
// to no cell. Only values above 0 are recorded, ties go to the first in scan
// order, and a cell without such a value keeps its old entry.
uint32_t find_hot_pixels_reference(FrameGeometry frame, const float* plane, HotPixelList* hot) {
  const int32_t width = frame.width;
  const int32_t cell_width = width / 3;
  const int32_t cell_height = frame.height / 3;
  uint32_t found = 0;
  if (cell_width <= 0 || cell_height <= 0) return found;
  for (int32_t r = 0; r < 3; ++r) {
    for (int32_t c = 0; c < 3; ++c) {
      const int k = 3 * r + c;
      float maximum = 0.0f;
      // Every cell lies inside the frame, so rows are read directly.
      for (int32_t y = r * cell_height; y < (r + 1) * cell_height; ++y) {
        const float* row = plane + static_cast<ptrdiff_t>(width) * y;
        for (int32_t x = c * cell_width; x < (c + 1) * cell_width; ++x) {
          if (row[x] > maximum) {
            maximum = row[x];
            hot->x[k] = x;
            hot->y[k] = y;
            found |= 1u << k;
          }
        }
      }
    }
  }
  return found;
}

// The median of the 3x3 neighbourhood with the centre replaced by the mean
// of its four edge neighbours (summed in double, rounded once), so that a hot
// pixel does not count towards its own background.
float neighbour_median(FrameGeometry frame, const float* plane, int32_t x, int32_t y) {
  const double edge_sum =
      sum_of(sum_of(sum_of(static_cast<double>(pixel_at(frame, plane, x, y - 1)),
                           static_cast<double>(pixel_at(frame, plane, x + 1, y))),
                    static_cast<double>(pixel_at(frame, plane, x - 1, y))),
             static_cast<double>(pixel_at(frame, plane, x, y + 1)));
  float values[9] = {
      pixel_at(frame, plane, x - 1, y + 1),
      pixel_at(frame, plane, x, y + 1),
      pixel_at(frame, plane, x + 1, y + 1),
      pixel_at(frame, plane, x - 1, y),
      static_cast<float>(edge_sum * static_cast<double>(0.25f)),
      pixel_at(frame, plane, x + 1, y),
      pixel_at(frame, plane, x - 1, y - 1),
      pixel_at(frame, plane, x, y - 1),
      pixel_at(frame, plane, x + 1, y - 1),
  };
  return median_of_9(values);
}

double mean_at_hot_pixels(FrameGeometry frame, const float* plane, const HotPixelList& hot) {
  return mean_over_hot_pixels(
      hot, [frame, plane](int32_t x, int32_t y) { return pixel_at(frame, plane, x, y); });
}

double mean_background_at_hot_pixels(FrameGeometry frame, const float* plane,
                                     const HotPixelList& hot) {
  return mean_over_hot_pixels(
      hot, [frame, plane](int32_t x, int32_t y) { return neighbour_median(frame, plane, x, y); });
}
