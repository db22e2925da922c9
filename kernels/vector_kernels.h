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

#include "kernels/block_search.h"
#include "kernels/glow_pixel.h"
#include "kernels/kernels.h"
#include "kernels/median_networks.h"
#include "kernels/nan_order.h"
#include "kernels/planes.h"

namespace {

// The exchange rule with compare-and-select, exact for any lanes, or with
// min/max, exact only where no lane holds NaN (see Ops::min_max_exchange).
template <typename Ops, bool nan_free>
TENVORA_FORCE_INLINE void exchange(typename Ops::Floats& a, typename Ops::Floats& b) {
  if (nan_free)
    Ops::min_max_exchange(a, b);
  else
    Ops::compare_exchange(a, b);
}

#define TENVORA_VECTOR_EXCHANGE(i, j) exchange<Ops, nan_free>(v[i], v[j]);

template <typename Ops, bool nan_free>
TENVORA_FORCE_INLINE void sort_triple_network(typename Ops::Floats* v) {
  TENVORA_TRIPLE_EXCHANGES(TENVORA_VECTOR_EXCHANGE)
}

template <typename Ops, bool nan_free>
TENVORA_FORCE_INLINE typename Ops::Floats median_of_sorted_triples_network(
    typename Ops::Floats* v) {
  TENVORA_MEDIAN_OF_SORTED_TRIPLES_EXCHANGES(TENVORA_VECTOR_EXCHANGE)
  return v[4];
}

template <typename Ops, bool nan_free>
TENVORA_FORCE_INLINE typename Ops::Floats median_of_25_network(typename Ops::Floats* v) {
  TENVORA_MEDIAN_OF_25_EXCHANGES(TENVORA_VECTOR_EXCHANGE)
  return v[12];
}

#undef TENVORA_VECTOR_EXCHANGE

// Whether any lane of the count vectors holds NaN: one test for a whole
// network, which then runs on min/max when none does.
template <typename Ops, int count>
TENVORA_FORCE_INLINE bool any_nan(const typename Ops::Floats (&v)[count]) {
  typename Ops::Floats mask = Ops::unordered(v[0], v[count - 1]);
  for (int k = 1; k + 1 < count; k += 2)
    mask = Ops::bitwise_or(mask, Ops::unordered(v[k], v[k + 1]));
  return Ops::any(mask);
}

// The 13th smallest of 25 lane by lane; v is reordered.
template <typename Ops>
TENVORA_FORCE_INLINE typename Ops::Floats vector_median_of_25(typename Ops::Floats (&v)[25]) {
  return any_nan<Ops>(v) ? median_of_25_network<Ops, false>(v) : median_of_25_network<Ops, true>(v);
}

// Interior rows of the glow plane are filtered this many at a time: each
// column vector of the rows + 2 source rows they read is sorted once as a
// row triple, and three sorted triples make one output row's neighbourhoods.
constexpr int32_t glow_strip_rows = 2;

// Glow values of the interior pixels x .. x + lanes - 1 of rows output rows
// from row on. Each triple, and then each output row, takes min/max where
// none of its own lanes holds NaN: the exchanges are the network's own, on
// the same values, so either way each is exact.
template <typename Ops, int rows>
TENVORA_FORCE_INLINE void glow_vectors(const float* row, ptrdiff_t stride, ptrdiff_t x,
                                       float* out) {
  using Floats = typename Ops::Floats;
  Floats triples[rows + 2][3];
  bool nan[rows + 2];
  for (int t = 0; t < rows + 2; ++t) {
    const float* middle = row + stride * (t - 1) + x;
    Floats(&v)[3] = triples[t];
    v[0] = Ops::load(middle - 1);
    v[1] = Ops::load(middle);
    v[2] = Ops::load(middle + 1);
    nan[t] = any_nan<Ops>(v);
    if (nan[t])
      sort_triple_network<Ops, false>(v);
    else
      sort_triple_network<Ops, true>(v);
  }
  for (int r = 0; r < rows; ++r) {
    Floats v[9] = {triples[r][0],     triples[r][1],     triples[r][2],
                   triples[r + 1][0], triples[r + 1][1], triples[r + 1][2],
                   triples[r + 2][0], triples[r + 2][1], triples[r + 2][2]};
    const Floats raw_median = (nan[r] | nan[r + 1] | nan[r + 2])
                                  ? median_of_sorted_triples_network<Ops, false>(v)
                                  : median_of_sorted_triples_network<Ops, true>(v);
    const Floats centre = Ops::load(row + stride * r + x);
    const Floats median =
        Ops::select(Ops::zero_or_nan(raw_median), Ops::broadcast(1.0f), raw_median);
    // centre / median > 1.25 without the division: with the median's sign
    // taken off both, |median| is positive (or infinite) and the test becomes
    // centre' > 1.25 * |median|, decided exactly and false with NaN, just as
    // the quotient test is (inf / inf is NaN and fails; so does inf > inf).
    const Floats sign = Ops::sign_of(median);
    const Floats hot =
        Ops::above_five_quarters(Ops::bitwise_xor(centre, sign), Ops::bitwise_xor(median, sign));
    Ops::store(out + stride * r + x, Ops::select(hot, median, centre));
  }
}

// rows interior rows of the glow plane from row on, in a frame at least
// 3 x 3: the interior pixels filtered, the first and the last copied.
template <typename Ops, int rows>
TENVORA_FORCE_INLINE void glow_strip(const float* row, ptrdiff_t stride, float* out) {
  const ptrdiff_t last = stride - 2;  // the last interior column
  for (int r = 0; r < rows; ++r) {
    std::memcpy(out + stride * r, row + stride * r, sizeof(float));
    std::memcpy(out + stride * r + last + 1, row + stride * r + last + 1, sizeof(float));
  }
  ptrdiff_t x = 1;
  if (last >= Ops::lanes) {
    for (; x + Ops::lanes - 1 <= last; x += Ops::lanes)
      glow_vectors<Ops, rows>(row, stride, x, out);
    // The rest as one more vector that overlaps the previous one: the source
    // is not written, so pixels done twice get the same value.
    if (x <= last) glow_vectors<Ops, rows>(row, stride, last + 1 - Ops::lanes, out);
  } else {
    for (int r = 0; r < rows; ++r)
      for (x = 1; x <= last; ++x) out[stride * r + x] = glow_pixel(row + stride * r, stride, x);
  }
}

// How many rows of the glow plane glow_rows does from row y on: a strip of
// interior rows, or else one row.
TENVORA_FORCE_INLINE int32_t glow_rows_at(int32_t y, int32_t width, int32_t height) {
  return width >= 3 && y >= 1 && y + glow_strip_rows - 1 <= height - 2 ? glow_strip_rows : 1;
}

// Rows y .. y + count - 1 of the glow plane (count from glow_rows_at) from
// the source rows around them: filtered in the interior, a copy on the first
// and the last row and in frames under 3 x 3.
template <typename Ops>
TENVORA_FORCE_INLINE void glow_rows(const float* source, float* destination, int32_t y,
                                    int32_t count, int32_t width, int32_t height) {
  const ptrdiff_t stride = width;
  const float* row = source + stride * y;
  float* out = destination + stride * y;
  if (count == glow_strip_rows)
    glow_strip<Ops, glow_strip_rows>(row, stride, out);
  else if (width >= 3 && y >= 1 && y <= height - 2)
    glow_strip<Ops, 1>(row, stride, out);
  else
    std::memcpy(out, row, static_cast<size_t>(width) * sizeof(float));
}

template <typename Ops>
void separate_hot_pixels_with(FrameGeometry frame, const float* source, float* destination) {
  const int32_t width = frame.width;
  const int32_t height = frame.height;
  if (width <= 0 || height <= 0) return;
  for (int32_t y = 0, count; y < height; y += count) {
    count = glow_rows_at(y, width, height);
    glow_rows<Ops>(source, destination, y, count, width, height);
  }
}

// Eight (four) neighbouring candidates of one band at a time, each gathered
// in the scalar order, their medians then taken in visiting order.
template <typename Ops>
void find_darkest_block_with(FrameGeometry frame, const float* plane, BlockAnchor* anchor) {
  using Floats = typename Ops::Floats;
  constexpr int32_t lanes = Ops::lanes;
  const int32_t width = frame.width;
  const int32_t height = frame.height;
  if (width < 16 || height < 16) return;  // no candidate fits
  const ptrdiff_t stride = width;
  float best_median = 1e30f;
  for (int32_t y0 = 3; y0 + 4 <= height - 9; y0 += 5) {
    int32_t x0 = 3;
    for (; x0 + 5 * (lanes - 1) + 4 <= width - 9; x0 += 5 * lanes) {
      // Element n of the scalar gather is column 4 - n / 5, row 4 - n % 5.
      Floats v[25];
      for (int32_t row = 0; row < 5; ++row) {
        Floats column[5];
        Ops::block_columns(plane + x0 + stride * (y0 + row), column);
        for (int32_t c = 0; c < 5; ++c) v[5 * (4 - c) + (4 - row)] = column[c];
      }
      float medians[lanes];
      Ops::store(medians, vector_median_of_25<Ops>(v));
      for (int32_t lane = 0; lane < lanes; ++lane)
        consider_candidate(medians[lane], x0 + 5 * lane, y0, best_median, anchor);
    }
    for (; x0 + 4 <= width - 9; x0 += 5)
      consider_candidate(candidate_median(plane, stride, x0, y0), x0, y0, best_median, anchor);
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
uint32_t find_hot_pixels_with(FrameGeometry frame, const float* plane, HotPixelList* hot) {
  const int32_t width = frame.width;
  const int32_t cell_width = width / 3;
  const int32_t cell_height = frame.height / 3;
  uint32_t found = 0;
  if (cell_width <= 0 || cell_height <= 0) return found;
  const ptrdiff_t stride = width;
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
      hot->x[3 * r + c] = x;
      hot->y[3 * r + c] = maximum_row[c];
      found |= 1u << (3 * r + c);
    }
  }
  return found;
}

// Single floats, for the pixels after the last whole vector of a row or a
// plane: the same arithmetic as the vector lanes.
struct Scalar {
  using Floats = float;
  static constexpr int lanes = 1;
  static TENVORA_FORCE_INLINE float load(const float* p) { return *p; }
  static TENVORA_FORCE_INLINE void store(float* p, float v) { *p = v; }
  static TENVORA_FORCE_INLINE float broadcast(float x) { return x; }
  static TENVORA_FORCE_INLINE float add(float a, float b) { return sum_of(a, b); }
  static TENVORA_FORCE_INLINE float subtract(float a, float b) { return a - b; }
  static TENVORA_FORCE_INLINE float multiply(float a, float b) { return product_of(a, b); }
};

// body(Ops(), i) for the whole vectors from index 0, then body(Scalar(), i)
// for each pixel left, in storage order.
template <typename Ops, typename Body>
TENVORA_FORCE_INLINE void for_each_lane_group(ptrdiff_t count, Body body) {
  ptrdiff_t i = 0;
  for (; i + Ops::lanes <= count; i += Ops::lanes) body(Ops(), i);
  for (; i < count; ++i) body(Scalar(), i);
}

// out = a - b over count pixels; out may be a itself.
template <typename Ops>
TENVORA_FORCE_INLINE void difference_of(float* out, const float* a, const float* b,
                                        ptrdiff_t count) {
  for_each_lane_group<Ops>(count, [=](auto ops, ptrdiff_t i) {
    using O = decltype(ops);
    O::store(out + i, O::subtract(O::load(a + i), O::load(b + i)));
  });
}

template <typename Ops>
void subtract_plane_with(FrameGeometry frame, float* a, const float* b) {
  difference_of<Ops>(a, a, b, pixel_count(frame));
}

template <typename Ops>
void add_plane_with(FrameGeometry frame, float* a, const float* b) {
  for_each_lane_group<Ops>(pixel_count(frame), [=](auto ops, ptrdiff_t i) {
    using O = decltype(ops);
    O::store(a + i, O::add(O::load(a + i), O::load(b + i)));
  });
}

// The dark frame split into its glow and hot-pixel components in one pass:
// with a bias, hot = dark - bias first, far enough ahead of the separation
// that reads it; glow = S(source); then hot = source - glow behind it, once
// the separation has no more use for that source row. Without a bias the
// source is the dark frame itself.
template <typename Ops>
void split_dark_frame_with(FrameGeometry frame, const float* dark, const float* bias, float* glow,
                           float* hot) {
  const int32_t width = frame.width;
  const int32_t height = frame.height;
  if (width <= 0 || height <= 0) return;
  const ptrdiff_t stride = width;
  const float* source = bias != nullptr ? hot : dark;
  auto take_bias = [=](int32_t y) {
    difference_of<Ops>(hot + stride * y, dark + stride * y, bias + stride * y, width);
  };
  auto subtract_glow = [=](int32_t y) {
    difference_of<Ops>(hot + stride * y, source + stride * y, glow + stride * y, width);
  };
  int32_t biased = 0, subtracted = 0;  // the rows each step has done so far
  for (int32_t y = 0, count; y < height; y += count) {
    count = glow_rows_at(y, width, height);
    // Glow rows y .. y + count - 1 read up to the row after the last of them.
    const int32_t last_read = y + count < height ? y + count : height - 1;
    for (; bias != nullptr && biased <= last_read; ++biased) take_bias(biased);
    glow_rows<Ops>(source, glow, y, count, width, height);
    for (; subtracted < y + count - 1; ++subtracted) subtract_glow(subtracted);
  }
  for (; subtracted < height; ++subtracted) subtract_glow(subtracted);
}

// destination = a - b, times times, each difference rounded: one pass. With
// no repetition the values are moved unchanged (SSE loads and stores keep
// every bit pattern).
template <typename Ops>
void subtract_plane_times_with(FrameGeometry frame, float* destination, const float* a,
                               const float* b, int32_t times) {
  for_each_lane_group<Ops>(pixel_count(frame), [=](auto ops, ptrdiff_t i) {
    using O = decltype(ops);
    auto value = O::load(a + i);
    if (times > 0) {
      const auto subtrahend = O::load(b + i);
      for (int32_t k = 0; k < times; ++k) value = O::subtract(value, subtrahend);
    }
    O::store(destination + i, value);
  });
}

// Scaling, sum and the bias added, in one pass: the scaled glow and hot
// pixels, each stored where wanted, matched = their sum, then times times
// matched += bias. The planes are read before anything is stored, so a
// scaled plane may be its source.
template <typename Ops, bool keep_glow, bool keep_hot>
void scale_and_sum_pass(ptrdiff_t count, const float* glow, float glow_ratio, const float* hot,
                        float hot_ratio, const float* bias, int32_t times, float* matched,
                        float* scaled_glow, float* scaled_hot) {
  for_each_lane_group<Ops>(count, [=](auto ops, ptrdiff_t i) {
    using O = decltype(ops);
    const auto glow_value = O::multiply(O::broadcast(glow_ratio), O::load(glow + i));
    const auto hot_value = O::multiply(O::broadcast(hot_ratio), O::load(hot + i));
    auto sum = O::add(glow_value, hot_value);
    if (times > 0) {
      const auto bias_value = O::load(bias + i);
      for (int32_t k = 0; k < times; ++k) sum = O::add(sum, bias_value);
    }
    if (keep_glow) O::store(scaled_glow + i, glow_value);
    if (keep_hot) O::store(scaled_hot + i, hot_value);
    O::store(matched + i, sum);
  });
}

// The choice of kept planes is made once, outside the pixel loop.
template <typename Ops>
void scale_and_sum_with(FrameGeometry frame, const float* glow, float glow_ratio, const float* hot,
                        float hot_ratio, const float* bias, int32_t times, float* matched,
                        float* scaled_glow, float* scaled_hot) {
  using Pass = void (*)(ptrdiff_t, const float*, float, const float*, float, const float*, int32_t,
                        float*, float*, float*);
  const Pass passes[2][2] = {
      {scale_and_sum_pass<Ops, false, false>, scale_and_sum_pass<Ops, false, true>},
      {scale_and_sum_pass<Ops, true, false>, scale_and_sum_pass<Ops, true, true>}};
  passes[scaled_glow != nullptr][scaled_hot != nullptr](pixel_count(frame), glow, glow_ratio, hot,
                                                        hot_ratio, bias, times, matched,
                                                        scaled_glow, scaled_hot);
}

template <typename Ops>
void difference_plane_with(FrameGeometry frame, float* destination, const float* a,
                           const float* b) {
  difference_of<Ops>(destination, a, b, pixel_count(frame));
}

// The table of one instruction set.
template <typename Ops>
constexpr KernelTable vector_kernel_table(const char* name) {
  return {name,
          subtract_plane_with<Ops>,
          add_plane_with<Ops>,
          separate_hot_pixels_with<Ops>,
          find_darkest_block_with<Ops>,
          find_hot_pixels_with<Ops>,
          split_dark_frame_with<Ops>,
          subtract_plane_times_with<Ops>,
          scale_and_sum_with<Ops>,
          difference_plane_with<Ops>};
}

}  // namespace
