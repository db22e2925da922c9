// Whole-plane kernels. Each result depends only on the inputs at the same
// index, so the walk goes in storage order, one pass. The straightforward
// subtraction and addition are the reference for the vector versions.
#include "kernels/planes.h"

#include <cstddef>
#include <cstring>

#include "kernels/kernels.h"
#include "kernels/nan_order.h"

namespace {

// a[i] = combine(a[i], b[i]), rounded to float when stored. a and b are one
// plane or two planes that do not overlap.
template <typename Combine>
void combine_planes(FrameGeometry frame, float* a, const float* b, Combine combine) {
  const ptrdiff_t count = pixel_count(frame);
  for (ptrdiff_t i = 0; i < count; ++i) a[i] = combine(a[i], b[i]);
}

}  // namespace

// Moves 32-bit patterns: NaN payloads, -0.0 and subnormals arrive unchanged.
// memmove, because source and destination may be the same plane.
void copy_plane(FrameGeometry frame, const float* source, float* destination) {
  const ptrdiff_t count = pixel_count(frame);
  if (count == 0) return;
  std::memmove(destination, source, static_cast<size_t>(count) * sizeof(float));
}

// A single sum or difference of two floats rounds to the same value whether
// it is formed in single or double precision.
void subtract_plane_reference(FrameGeometry frame, float* a, const float* b) {
  combine_planes(frame, a, b, [](float x, float y) { return x - y; });
}

void add_plane_reference(FrameGeometry frame, float* a, const float* b) {
  combine_planes(frame, a, b, [](float x, float y) { return sum_of(x, y); });
}
