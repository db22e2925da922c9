// Glow measurement: the darkest 5x5 block of a reference plane, and the glow
// level of a plane, its corner block's median minus the median of the block
// at the recorded anchor.
#include "kernels/block_search.h"
#include "kernels/kernels.h"

namespace {

// Median of the 5x5 block with top-left pixel (x0, y0), gathered row by row,
// each row left to right.
float block_median(FrameGeometry frame, const float* plane, int32_t x0, int32_t y0) {
  float block[25];
  int n = 0;
  for (int32_t y = y0; y <= y0 + 4; ++y)
    for (int32_t x = x0; x <= x0 + 4; ++x) block[n++] = pixel_at(frame, plane, x, y);
  return median_of_25(block);
}

}  // namespace

// Candidates lie on a grid of pitch 5 from (3, 3) and end at least 8 pixels
// before the last column and row, visited band by band.
void find_darkest_block_reference(FrameGeometry frame, const float* plane, BlockAnchor* anchor) {
  const int32_t width = frame.width;
  const int32_t height = frame.height;
  if (width < 16 || height < 16) return;  // no candidate fits
  float best_median = 1e30f;
  for (int32_t y0 = 3; y0 + 4 <= height - 9; y0 += 5) {
    for (int32_t x0 = 3; x0 + 4 <= width - 9; x0 += 5) {
      consider_candidate(candidate_median(plane, width, x0, y0), x0, y0, best_median, anchor);
    }
  }
}

// Exact difference of two floats in double, not rounded to float here.
double glow_level(FrameGeometry frame, const float* plane, BlockAnchor anchor) {
  const float corner_median = block_median(frame, plane, 3, frame.height - 13);
  const float darkest_median = block_median(frame, plane, anchor.x, anchor.y);
  return static_cast<double>(corner_median) - static_cast<double>(darkest_median);
}
