// The group kernel, written once over a set of vector operations (Sse2Lanes
// or Avx2Lanes) and instantiated per frame count in one unit per
// instruction set. Each lane does what the scalar rule (clip_sorted,
// median_sorted) does: the same exchanges of the same network, and in
// double the same operations in the same order. A lane whose first round
// of clipping drops a value goes on with clip_sorted_after.
//
// Everything here is in an unnamed namespace: the AVX2 unit compiles it for
// another target, so no definition may be shared between the units.
#pragma once

#include <xmmintrin.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

#include "combining/combine_kernels.h"
#include "kernels/force_inline.h"

namespace {

constexpr int kPrefetchBytes = 512;

template <class F, int... k>
TENVORA_FORCE_INLINE void each_constant(F& f, std::integer_sequence<int, k...>) {
  (f(std::integral_constant<int, k>{}), ...);
}

// f(k) for k = 0 .. n - 1; with count > 0 (then n == count) unrolled, k a
// constant, so that an array of vectors indexed by k can live in registers.
template <int count, class F>
TENVORA_FORCE_INLINE void each(int n, F&& f) {
  if constexpr (count > 0)
    each_constant(f, std::make_integer_sequence<int, count>{});
  else
    for (int k = 0; k < n; ++k) f(k);
}

template <class Ops, int count, size_t... step>
TENVORA_FORCE_INLINE void sort_unrolled([[maybe_unused]] typename Ops::Floats* v,
                                        std::index_sequence<step...>) {
  (Ops::exchange(v[FixedNetwork<count>::kSteps[step].first],
                 v[FixedNetwork<count>::kSteps[step].second]),
   ...);
}

// Bits of the lanes (of half `half`, count finite values each, sorted in v)
// where the first round of clipping drops nothing: clip_sorted's first
// round with the deviations' median itself rather than its bound first
// (the bound only ever spares computing it), min and max taking their
// operands as std::min and std::max do.
// The median and limit go to m[half * lanes / 2 ...] and limit[...].
template <class Ops, int count, int half>
TENVORA_FORCE_INLINE int first_round_keeps(const typename Ops::Floats* v, double limit_factor,
                                           double* m_out, double* limit_out) {
  using Doubles = typename Ops::Doubles;
  constexpr int low = (count - 1) / 2, above = count / 2 + count % 2;
  constexpr int p = low + 1, q = count - above;
  const auto d = [v](int k) { return Ops::template widen<half>(v[k]); };
  const Doubles m = Ops::multiply(Ops::doubles(0.5), Ops::add(d((count - 1) / 2), d(count / 2)));
  const Doubles farthest = Ops::max(Ops::subtract(d(count - 1), m), Ops::subtract(m, d(0)));
  // The deviations below the middle and above it, each ascending.
  Doubles below[p], beyond[q];
  each<p>(p, [&](auto j) { below[j] = Ops::subtract(m, d(low - j)); });
  each<q>(q, [&](auto j) { beyond[j] = Ops::subtract(d(above + j), m); });
  const auto kth = [&](int k) {
    Doubles least = Ops::doubles(HUGE_VAL);
    const Doubles none = Ops::doubles(-HUGE_VAL);
    const int from = k + 1 - q > 0 ? k + 1 - q : 0, to = p < k + 1 ? p : k + 1;
    for (int i = from; i <= to; ++i) {
      const Doubles from_a = i > 0 ? below[i - 1] : none;
      const Doubles from_b = i <= k ? beyond[k - i] : none;
      least = Ops::min(Ops::max(from_b, from_a), least);
    }
    return least;
  };
  const Doubles lower = kth((count - 1) / 2);
  const Doubles deviation =
      count % 2 ? lower : Ops::multiply(Ops::doubles(0.5), Ops::add(lower, kth(count / 2)));
  const Doubles limit = Ops::multiply(Ops::doubles(limit_factor), deviation);
  Ops::store(m_out + half * Ops::lanes / 2, m);
  Ops::store(limit_out + half * Ops::lanes / 2, limit);
  return Ops::within(farthest, limit);
}

template <class Ops, int half>
TENVORA_FORCE_INLINE typename Ops::Doubles median_half(const typename Ops::Floats* v, int n) {
  return Ops::multiply(Ops::doubles(0.5), Ops::add(Ops::template widen<half>(v[(n - 1) / 2]),
                                                   Ops::template widen<half>(v[n / 2])));
}

template <class Ops, int count>
void combine_group(const GroupJob& job, const float* const* frames, size_t at, float* out,
                   long long* clipped) {
  using Floats = typename Ops::Floats;
  using Ints = typename Ops::Ints;
  using Doubles = typename Ops::Doubles;
  constexpr int lanes = Ops::lanes, all = (1 << lanes) - 1;
  const int n = count > 0 ? count : job.frames;
  float* const scratch = job.scratch;
  // A known count keeps the values in a local array (registers), any other
  // in the scratch, where the lanes the scalar rule settles read them.
  Floats local[count > 0 ? count : 1];
  Floats* const v = count > 0 ? local : reinterpret_cast<Floats*>(scratch);
  const auto to_scratch = [&] {
    if constexpr (count > 0) each<count>(n, [&](auto k) { Ops::store(scratch + k * lanes, v[k]); });
  };

  const Floats infinity = Ops::broadcast(std::numeric_limits<float>::infinity());
  Ints finite_count = Ops::ints(0);
  each<count>(n, [&](auto f) {
    // A stream per frame: more than the processor's prefetcher follows.
    _mm_prefetch(reinterpret_cast<const char*>(frames[f] + at) + kPrefetchBytes, _MM_HINT_T0);
    const Floats x = Ops::load(frames[f] + at);
    const Floats finite = Ops::finite(x);
    // Values left out sort to the end as +infinity.
    v[f] = Ops::select(finite, x, infinity);
    finite_count = Ops::subtract_mask(finite_count, finite);
  });
  if constexpr (count > 0)
    sort_unrolled<Ops, count>(v, std::make_index_sequence<FixedNetwork<count>::kSteps.size()>{});
  else
    for (const auto& [i, j] : *job.network) Ops::exchange(v[i], v[j]);
  alignas(32) int32_t finite_n[lanes], first[lanes], end[lanes];
  Ops::store_ints(finite_n, finite_count);
  const bool full = Ops::bits(Ops::same(finite_count, Ops::ints(n))) == all;
  const float nan = std::numeric_limits<float>::quiet_NaN();

  if (job.rule.method == CombineMethod::median) {
    Ops::store(out, Ops::narrow(median_half<Ops, 0>(v, n), median_half<Ops, 1>(v, n)));
    if (full) return;
    to_scratch();
    for (int lane = 0; lane < lanes; ++lane)
      if (finite_n[lane] != n)
        out[lane] =
            finite_n[lane] == 0
                ? nan
                : static_cast<float>(median_sorted(scratch + lane, lanes, 0, finite_n[lane]));
    return;
  }

  // Lanes whose kept values are all n.
  int whole = 0;
  bool first_round_done = false;  // m and limit hold its median and limit
  alignas(32) double m[lanes], limit[lanes];
  if (full) {
    if constexpr (count >= 3) {
      first_round_done = true;
      const double limit_factor = job.rule.kappa * kMadToSigma;
      whole = first_round_keeps<Ops, count, 0>(v, limit_factor, m, limit) |
              first_round_keeps<Ops, count, 1>(v, limit_factor, m, limit) << (lanes / 2);
    } else {
      whole = n < 3 ? all : 0;
    }
  }
  if (whole != all) to_scratch();
  Ops::store_ints(first, Ops::ints(0));
  Ops::store_ints(end, finite_count);
  const Ints none_finite = Ops::same(finite_count, Ops::ints(0));
  // The lanes the scalar rule settles, one by one.
  const int unsettled = ~(whole | Ops::bits(none_finite)) & all;
  for (int rest = unsettled; rest != 0; rest &= rest - 1) {
    const int lane = __builtin_ctz(static_cast<unsigned>(rest));
    const KeptRange kept =
        first_round_done
            ? clip_sorted_after(scratch + lane, lanes, n, m[lane], limit[lane], job.rule.kappa)
            : clip_sorted(scratch + lane, lanes, finite_n[lane], job.rule.kappa);
    first[lane] = kept.first;
    end[lane] = kept.end;
  }

  // The mean of each lane's kept values, summed in order in double (a value
  // not kept adds +0, which changes no sum); NaN where no value was finite.
  const Ints first_v = Ops::load_ints(first), end_v = Ops::load_ints(end);
  Doubles sum_low = Ops::zero(), sum_high = Ops::zero();
  each<count>(n, [&](auto k) {
    const Ints index = Ops::ints(k);
    const Floats x = unsettled == 0
                         ? v[k]
                         : Ops::bitwise_and(Ops::mask_of(Ops::and_not(Ops::greater(first_v, index),
                                                                      Ops::greater(end_v, index))),
                                            v[k]);
    sum_low = Ops::add(sum_low, Ops::template widen<0>(x));
    sum_high = Ops::add(sum_high, Ops::template widen<1>(x));
  });
  const Ints kept_n = Ops::subtract(end_v, first_v);
  const Floats mean = Ops::narrow(Ops::divide(sum_low, Ops::template widen<0>(kept_n)),
                                  Ops::divide(sum_high, Ops::template widen<1>(kept_n)));
  Ops::store(out, Ops::select(Ops::mask_of(none_finite), Ops::broadcast(nan), mean));
  if (unsettled == 0) return;

  // The values each frame lost.
  alignas(32) float low[lanes], high[lanes];
  Ops::store(low, Ops::broadcast(-std::numeric_limits<float>::infinity()));
  Ops::store(high, Ops::broadcast(std::numeric_limits<float>::infinity()));
  bool any_clipped = false;
  for (int rest = unsettled; rest != 0; rest &= rest - 1) {
    const int lane = __builtin_ctz(static_cast<unsigned>(rest));
    if (first[lane] == 0 && end[lane] == finite_n[lane]) continue;
    any_clipped = true;
    if (end[lane] == first[lane]) {  // every value lost
      low[lane] = std::numeric_limits<float>::infinity();
      high[lane] = -std::numeric_limits<float>::infinity();
      continue;
    }
    low[lane] = scratch[first[lane] * lanes + lane];
    high[lane] = scratch[(end[lane] - 1) * lanes + lane];
  }
  if (!any_clipped) return;
  const Floats low_v = Ops::load(low), high_v = Ops::load(high);
  // NaN compares false both ways: not counted.
  for (int f = 0; f < n; ++f)
    clipped[f] += __builtin_popcount(Ops::outside(Ops::load(frames[f] + at), low_v, high_v));
}

template <class Ops, size_t... count>
constexpr CombineKernels combine_kernel_table(const char* name, std::index_sequence<count...>) {
  return {name, Ops::lanes, {combine_group<Ops, static_cast<int>(count)>...}};
}

template <class Ops>
constexpr CombineKernels combine_kernel_table(const char* name) {
  return combine_kernel_table<Ops>(name, std::make_index_sequence<kUnrolledFrames + 1>{});
}

}  // namespace
