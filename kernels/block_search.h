// One candidate of the darkest-block search, shared by the straightforward
// search and the vector ones.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/force_inline.h"
#include "kernels/frame_types.h"
#include "kernels/median_networks.h"

// Candidates lie wholly inside the frame, so their pixels are read directly.
// Column by column from the last, each column bottom up: with NaN in the
// block the median depends on this order.
TENVORA_FORCE_INLINE float candidate_median(const float* plane, ptrdiff_t stride, int32_t x0,
                                            int32_t y0) {
  float block[25];
  int n = 0;
  for (int32_t x = x0 + 4; x >= x0; --x)
    for (int32_t y = y0 + 4; y >= y0; --y) block[n++] = plane[x + stride * y];
  return median_of_25(block);
}

// A candidate becomes the best when its median is not >= the best so far:
// smaller, or either is NaN. Of equal medians the first visited keeps the
// anchor, which is the block's second column and second row.
TENVORA_FORCE_INLINE void consider_candidate(float median, int32_t x0, int32_t y0,
                                             float& best_median, BlockAnchor* anchor) {
  if (!(median >= best_median)) {
    best_median = median;
    *anchor = {x0 + 1, y0 + 1};
  }
}
