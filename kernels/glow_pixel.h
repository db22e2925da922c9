// The decision for one interior pixel of the glow plane, shared by the
// straightforward separation and the tails of the vector ones.
#pragma once

#include <cstddef>
#include <cstring>

#include "kernels/force_inline.h"
#include "kernels/median_networks.h"

// The glow value of the interior pixel row[x], whose rows above and below lie
// one stride away: the median of its 3x3 neighbourhood when the pixel is more
// than 1.25 times that median, else the pixel itself.
TENVORA_FORCE_INLINE float glow_pixel(const float* row, ptrdiff_t stride, ptrdiff_t x) {
  float neighbourhood[9];
  // Row after row, left to right; the centre is kept apart because the
  // network reorders the array.
  std::memcpy(neighbourhood + 0, row - stride + x - 1, 3 * sizeof(float));
  std::memcpy(neighbourhood + 3, row + x - 1, 3 * sizeof(float));
  std::memcpy(neighbourhood + 6, row + stride + x - 1, 3 * sizeof(float));
  const float centre = row[x];
  float median = median_of_9(neighbourhood);
  // No division by zero or NaN; the substitute is also what a hot centre
  // over such a neighbourhood becomes.
  if (median == 0.0f || median != median) median = 1.0f;
  // In double, so that a quotient just above 1.25 is not rounded onto it.
  const double quotient = static_cast<double>(centre) / static_cast<double>(median);
  return quotient > 1.25 ? median : centre;
}
