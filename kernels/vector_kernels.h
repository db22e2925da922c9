// The vector kernels, written once over a set of vector operations (Sse2 or
// Avx2) and instantiated in one translation unit per instruction set. Each
// reproduces its straightforward counterpart bit for bit: the same exchanges
// in the same order for every pixel, and the same decisions; pixels that do
// not fill a vector go through the shared scalar code.
//
// Everything here is in an unnamed namespace: the AVX2 unit compiles it for
// another target, so no definition may be shared between the units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kernels/glow_measurement.h"
#include "kernels/hot_pixel_separation.h"
#include "kernels/median_networks.h"
#include "kernels/planes.h"
#include "plugin/plugin_state.h"

namespace {

#define TENVORA_VECTOR_EXCHANGE(i, j) Ops::compare_exchange(v[i], v[j]);

// Glow values of the interior pixels row[x] .. row[x + lanes - 1].
template <typename Ops>
TENVORA_FORCE_INLINE void glow_vector(const float* row, ptrdiff_t stride, ptrdiff_t x, float* out) {
  using Floats = typename Ops::Floats;
  const float* above = row - stride + x;
  const float* middle = row + x;
  const float* below = row + stride + x;
  Floats v[9] = {Ops::load(above - 1),  Ops::load(above),  Ops::load(above + 1),
                 Ops::load(middle - 1), Ops::load(middle), Ops::load(middle + 1),
                 Ops::load(below - 1),  Ops::load(below),  Ops::load(below + 1)};
  const Floats centre = v[4];
  TENVORA_MEDIAN_OF_9_EXCHANGES(TENVORA_VECTOR_EXCHANGE)
  const Floats median = Ops::select(Ops::zero_or_nan(v[4]), Ops::broadcast(1.0f), v[4]);
  // centre / median > 1.25 without the division: with the median's sign
  // taken off both, |median| is positive (or infinite) and the test becomes
  // centre' > 1.25 * |median|, exact in double and false with NaN, just as the
  // quotient test is (inf / inf is NaN and fails; so does inf > inf).
  const Floats sign = Ops::sign_of(median);
  const Floats hot =
      Ops::above_five_quarters(Ops::bitwise_xor(centre, sign), Ops::bitwise_xor(median, sign));
  Ops::store(out + x, Ops::select(hot, median, centre));
}

// One row of the glow plane, 1 <= y <= height - 2 of a frame at least 3 x 3:
// the interior pixels filtered, the first and the last copied.
template <typename Ops>
TENVORA_FORCE_INLINE void glow_row(const float* row, ptrdiff_t stride, float* out) {
  const ptrdiff_t last = stride - 2;  // the last interior column
  std::memcpy(out, row, sizeof(float));
  std::memcpy(out + last + 1, row + last + 1, sizeof(float));
  ptrdiff_t x = 1;
  if (last >= Ops::lanes) {
    for (; x + Ops::lanes - 1 <= last; x += Ops::lanes) glow_vector<Ops>(row, stride, x, out);
    // The rest as one more vector that overlaps the previous one: the source
    // is not written, so pixels done twice get the same value.
    if (x <= last) glow_vector<Ops>(row, stride, last + 1 - Ops::lanes, out);
  } else {
    for (; x <= last; ++x) out[x] = glow_pixel(row, stride, x);
  }
}

template <typename Ops>
void separate_hot_pixels_with(const float* source, float* destination) {
  const int32_t width = plugin_state.frame_width;
  const int32_t height = plugin_state.frame_height;
  if (width <= 0 || height <= 0) return;
  const ptrdiff_t stride = width;
  const size_t row_bytes = static_cast<size_t>(width) * sizeof(float);
  // Without an interior every row is a copy.
  const bool interior = width >= 3 && height >= 3;
  for (int32_t y = 0; y < height; ++y) {
    const float* row = source + stride * y;
    float* out = destination + stride * y;
    if (interior && y >= 1 && y <= height - 2)
      glow_row<Ops>(row, stride, out);
    else
      std::memcpy(out, row, row_bytes);
  }
}

// Eight (four) neighbouring candidates of one band at a time, each gathered
// in the scalar order, their medians then taken in visiting order.
template <typename Ops>
void find_darkest_block_with(const float* plane) {
  using Floats = typename Ops::Floats;
  constexpr int32_t lanes = Ops::lanes;
  const int32_t width = plugin_state.frame_width;
  const int32_t height = plugin_state.frame_height;
  if (width < 16 || height < 16) return;  // no candidate fits
  const ptrdiff_t stride = width;
  float best_median = 1e30f;
  for (int32_t y0 = 3; y0 + 4 <= height - 9; y0 += 5) {
    int32_t x0 = 3;
    for (; x0 + 5 * (lanes - 1) + 4 <= width - 9; x0 += 5 * lanes) {
      Floats v[25];
      int n = 0;
      for (int32_t x = x0 + 4; x >= x0; --x)
        for (int32_t y = y0 + 4; y >= y0; --y) v[n++] = Ops::every_fifth(plane + x + stride * y);
      TENVORA_MEDIAN_OF_25_EXCHANGES(TENVORA_VECTOR_EXCHANGE)
      float medians[lanes];
      Ops::store(medians, v[12]);
      for (int32_t lane = 0; lane < lanes; ++lane)
        consider_candidate(medians[lane], x0 + 5 * lane, y0, best_median);
    }
    for (; x0 + 4 <= width - 9; x0 += 5)
      consider_candidate(candidate_median(plane, stride, x0, y0), x0, y0, best_median);
  }
}

// The greatest of count pixels that is above 0, or 0. Only one value can be
// that, so the lanes may find it in any order.
template <typename Ops>
TENVORA_FORCE_INLINE float row_maximum(const float* pixels, ptrdiff_t count) {
  float maximum = 0.0f;
  if (count >= Ops::lanes) {
    typename Ops::Floats lane_maximum = Ops::broadcast(0.0f);
    for (ptrdiff_t x = 0;; x += Ops::lanes) {
      // The last vector may overlap the one before; that changes no maximum.
      if (x > count - Ops::lanes) x = count - Ops::lanes;
      const typename Ops::Floats value = Ops::load(pixels + x);
      lane_maximum = Ops::select(Ops::greater(value, lane_maximum), value, lane_maximum);
      if (x == count - Ops::lanes) break;
    }
    float lane_values[Ops::lanes];
    Ops::store(lane_values, lane_maximum);
    for (float value : lane_values)
      if (value > maximum) maximum = value;
  } else {
    for (ptrdiff_t x = 0; x < count; ++x)
      if (pixels[x] > maximum) maximum = pixels[x];
  }
  return maximum;
}

// The three cells of a band are searched together, row by row in storage
// order: each keeps its greatest value and the first row that holds it. The
// first pixel in scan order with that value is the one the running maximum of
// the straightforward search ends on.
template <typename Ops>
void find_hot_pixels_with(const float* plane) {
  const int32_t width = plugin_state.frame_width;
  const int32_t cell_width = width / 3;
  const int32_t cell_height = plugin_state.frame_height / 3;
  if (cell_width <= 0 || cell_height <= 0) return;
  const ptrdiff_t stride = width;
  HotPixelList& hot = plugin_state.hot_pixels;
  for (int32_t r = 0; r < 3; ++r) {
    float maximum[3] = {0.0f, 0.0f, 0.0f};
    int32_t maximum_row[3] = {-1, -1, -1};
    for (int32_t y = r * cell_height; y < (r + 1) * cell_height; ++y) {
      for (int32_t c = 0; c < 3; ++c) {
        const float row_max = row_maximum<Ops>(plane + stride * y + c * cell_width, cell_width);
        if (row_max > maximum[c]) {
          maximum[c] = row_max;
          maximum_row[c] = y;
        }
      }
    }
    for (int32_t c = 0; c < 3; ++c) {
      if (maximum_row[c] < 0) continue;  // nothing above 0: the entry stays
      const float* row = plane + stride * maximum_row[c];
      int32_t x = c * cell_width;
      while (!(row[x] == maximum[c])) ++x;
      hot.x[3 * r + c] = x;
      hot.y[3 * r + c] = maximum_row[c];
    }
  }
}

// a[i] = operation(a[i], b[i]) in storage order; a and b are one plane or two
// that do not overlap.
template <typename Ops, typename Operation>
void combine_planes_with(float* a, const float* b, Operation operation) {
  const ptrdiff_t count = pixel_count();
  ptrdiff_t i = 0;
  for (; i + Ops::lanes <= count; i += Ops::lanes)
    Ops::store(a + i, operation(Ops::load(a + i), Ops::load(b + i)));
  for (; i < count; ++i) a[i] = operation(a[i], b[i]);
}

// The same operation on vectors and on the single floats of the tail.
template <typename Ops>
struct Difference {
  typename Ops::Floats operator()(typename Ops::Floats a, typename Ops::Floats b) const {
    return Ops::subtract(a, b);
  }
  float operator()(float a, float b) const { return a - b; }
};

template <typename Ops>
struct Sum {
  typename Ops::Floats operator()(typename Ops::Floats a, typename Ops::Floats b) const {
    return Ops::add(a, b);
  }
  float operator()(float a, float b) const { return a + b; }
};

#undef TENVORA_VECTOR_EXCHANGE

}  // namespace

// The entry points of one instruction set, named NAME_SUFFIX.
#define TENVORA_DEFINE_VECTOR_KERNELS(Ops, suffix)                             \
  void separate_hot_pixels_##suffix(const float* source, float* destination) { \
    separate_hot_pixels_with<Ops>(source, destination);                        \
  }                                                                            \
  void find_darkest_block_##suffix(const float* plane) {                       \
    find_darkest_block_with<Ops>(plane);                                       \
  }                                                                            \
  void find_hot_pixels_##suffix(const float* plane) {                          \
    find_hot_pixels_with<Ops>(plane);                                          \
  }                                                                            \
  void subtract_plane_##suffix(float* a, const float* b) {                     \
    combine_planes_with<Ops>(a, b, Difference<Ops>());                         \
  }                                                                            \
  void add_plane_##suffix(float* a, const float* b) {                          \
    combine_planes_with<Ops>(a, b, Sum<Ops>());                                \
  }
