#include "combining/combine_rule.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr struct {
  CombineMethod method;
  const char* name;
} kMethods[] = {{CombineMethod::sigma_clip, "sigma-clip"},
                {CombineMethod::median, "median"},
                {CombineMethod::mean, "mean"}};

// The k-th smallest (from 0) of the union of two ascending sequences a and
// b (p and q values): the least of max(a[i - 1], b[k - i]) over the ways of
// taking i values from a and k + 1 - i from b. Its terms do not depend on
// each other, unlike the steps of a merge.
template <class A, class B>
double kth_of_two(const A& a, int p, const B& b, int q, int k) {
  const int low = std::max(0, k + 1 - q), high = std::min(p, k + 1);
  double least = HUGE_VAL;
  for (int i = low; i <= high; ++i) {
    const double from_a = i > 0 ? a(i - 1) : -HUGE_VAL;
    const double from_b = i <= k ? b(k - i) : -HUGE_VAL;
    least = std::min(least, std::max(from_a, from_b));
  }
  return least;
}

// The median absolute deviation from m of sorted[first, end): the
// deviations below the middle and above it are two ascending sequences.
double median_deviation(const float* sorted, int stride, int first, int end, double m) {
  const int count = end - first;
  const int low = first + (count - 1) / 2, above = first + count / 2 + count % 2;
  const auto below_m = [=](int j) { return m - sorted[(low - j) * stride]; };
  const auto above_m = [=](int j) { return sorted[(above + j) * stride] - m; };
  const int p = low - first + 1, q = end - above;
  const double lower = kth_of_two(below_m, p, above_m, q, (count - 1) / 2);
  if (count % 2) return lower;
  return 0.5 * (lower + kth_of_two(below_m, p, above_m, q, count / 2));
}

// A lower bound of the median absolute deviation from m, from two values
// around the middle with (count - 1) / 2 values between them: the others,
// at least half, stand at least as far from m as the nearer of the two.
double deviation_bound(const float* sorted, int stride, int first, int end, double m) {
  const int count = end - first;
  const int low = first + (count - 1) / 2, high = first + count / 2;
  const int spread = (count - 1) / 2 + 1 - (high - low);
  const int below = low - spread / 2, above = high + (spread - spread / 2);
  return std::min(m - sorted[below * stride], sorted[above * stride] - m);
}

// Lanes out of a compare mask.
constexpr int kLanesSet[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};

}  // namespace

const char* method_name(CombineMethod method) {
  for (const auto& m : kMethods)
    if (m.method == method) return m.name;
  return "";
}

bool method_of(const std::string& name, CombineMethod* method) {
  for (const auto& m : kMethods)
    if (name == m.name) {
      *method = m.method;
      return true;
    }
  return false;
}

double median_sorted(const float* sorted, int stride, int first, int end) {
  const int count = end - first;
  return 0.5 * (static_cast<double>(sorted[(first + (count - 1) / 2) * stride]) +
                sorted[(first + count / 2) * stride]);
}

KeptRange clip_sorted(const float* sorted, int stride, int n, double kappa) {
  KeptRange kept{0, n};
  for (int round = 0; round < kClipRounds && kept.end - kept.first >= 3; ++round) {
    const double m = median_sorted(sorted, stride, kept.first, kept.end);
    // Most pixels hold no value far out: the bound shows it without the
    // deviation's median.
    const double farthest =
        std::max(m - sorted[kept.first * stride], sorted[(kept.end - 1) * stride] - m);
    if (farthest <= kappa * kMadToSigma * deviation_bound(sorted, stride, kept.first, kept.end, m))
      break;
    const double limit =
        kappa * kMadToSigma * median_deviation(sorted, stride, kept.first, kept.end, m);
    if (limit == 0.0) break;
    const KeptRange before = kept;
    while (kept.first < kept.end && m - sorted[kept.first * stride] > limit) ++kept.first;
    while (kept.end > kept.first && sorted[(kept.end - 1) * stride] - m > limit) --kept.end;
    if (kept.first == before.first && kept.end == before.end) break;
  }
  return kept;
}

PixelCombiner::PixelCombiner(const CombineRule& rule, int frames)
    : rule_(rule),
      frames_(frames),
      network_(sort_network(frames)),
      lanes_(static_cast<size_t>(frames) * kLanes),
      tail_(static_cast<size_t>(frames) * kLanes),
      tail_frames_(static_cast<size_t>(frames)) {
  for (int f = 0; f < frames; ++f) tail_frames_[f] = &tail_[static_cast<size_t>(f) * kLanes];
}

void PixelCombiner::combine(const float* const* frames, size_t count, float* out,
                            long long* clipped) {
  if (rule_.method == CombineMethod::mean) return combine_mean(frames, count, out);
  const size_t whole = count / kLanes * kLanes;
  for (size_t at = 0; at < whole; at += kLanes) combine_group(frames, at, out + at, clipped);
  if (whole == count) return;
  // A last partial group goes through the same steps, padded with NaN, so
  // that a pixel's result does not depend on where it stands.
  const size_t rest = count - whole;
  std::fill(tail_.begin(), tail_.end(), std::numeric_limits<float>::quiet_NaN());
  for (int f = 0; f < frames_; ++f)
    std::copy_n(frames[f] + whole, rest, &tail_[static_cast<size_t>(f) * kLanes]);
  float group_out[kLanes];
  combine_group(tail_frames_.data(), 0, group_out, clipped);
  std::copy_n(group_out, rest, out + whole);
}

void PixelCombiner::combine_group(const float* const* frames, size_t at, float* out,
                                  long long* clipped) {
  const __m128 infinity = _mm_set1_ps(std::numeric_limits<float>::infinity());
  const __m128 sign = _mm_set1_ps(-0.0f);
  __m128i finite_count = _mm_setzero_si128();
  for (int f = 0; f < frames_; ++f) {
    const __m128 v = _mm_loadu_ps(frames[f] + at);
    const __m128 finite = _mm_cmplt_ps(_mm_andnot_ps(sign, v), infinity);
    // Values left out sort to the end as +infinity.
    _mm_storeu_ps(&lanes_[static_cast<size_t>(f) * kLanes],
                  _mm_or_ps(_mm_and_ps(finite, v), _mm_andnot_ps(finite, infinity)));
    finite_count = _mm_sub_epi32(finite_count, _mm_castps_si128(finite));
  }
  sort_lanes(network_, lanes_.data());
  alignas(16) int32_t n[kLanes], first[kLanes], end[kLanes];
  _mm_store_si128(reinterpret_cast<__m128i*>(n), finite_count);
  for (int lane = 0; lane < kLanes; ++lane) {
    const float* sorted = &lanes_[lane];
    first[lane] = end[lane] = 0;
    if (n[lane] == 0) {
      out[lane] = std::numeric_limits<float>::quiet_NaN();
    } else if (rule_.method == CombineMethod::median) {
      out[lane] = static_cast<float>(median_sorted(sorted, kLanes, 0, n[lane]));
    } else {
      const KeptRange kept = clip_sorted(sorted, kLanes, n[lane], rule_.kappa);
      first[lane] = kept.first;
      end[lane] = kept.end;
    }
  }
  if (rule_.method == CombineMethod::sigma_clip)
    finish_clipped(frames, at, n, first, end, out, clipped);
}

// The mean of each lane's kept values, summed in order in double, all lanes
// at once (a value not kept adds 0, which changes no sum); then the values
// each frame lost.
void PixelCombiner::finish_clipped(const float* const* frames, size_t at, const int32_t* n,
                                   const int32_t* first, const int32_t* end, float* out,
                                   long long* clipped) {
  const __m128i first_v = _mm_load_si128(reinterpret_cast<const __m128i*>(first));
  const __m128i end_v = _mm_load_si128(reinterpret_cast<const __m128i*>(end));
  const int last = *std::max_element(end, end + kLanes);
  __m128d sum_low = _mm_setzero_pd(), sum_high = _mm_setzero_pd();
  for (int k = 0; k < last; ++k) {
    const __m128i index = _mm_set1_epi32(k);
    const __m128i kept =
        _mm_andnot_si128(_mm_cmpgt_epi32(first_v, index), _mm_cmpgt_epi32(end_v, index));
    const __m128 v =
        _mm_and_ps(_mm_castsi128_ps(kept), _mm_loadu_ps(&lanes_[static_cast<size_t>(k) * kLanes]));
    sum_low = _mm_add_pd(sum_low, _mm_cvtps_pd(v));
    sum_high = _mm_add_pd(sum_high, _mm_cvtps_pd(_mm_movehl_ps(v, v)));
  }
  alignas(16) double sums[kLanes];
  _mm_store_pd(sums, sum_low);
  _mm_store_pd(sums + 2, sum_high);
  alignas(16) float low[kLanes], high[kLanes];
  bool any_clipped = false;
  for (int lane = 0; lane < kLanes; ++lane) {
    low[lane] = -std::numeric_limits<float>::infinity();
    high[lane] = std::numeric_limits<float>::infinity();
    if (n[lane] == 0) continue;
    out[lane] = static_cast<float>(sums[lane] / (end[lane] - first[lane]));
    if (first[lane] == 0 && end[lane] == n[lane]) continue;
    low[lane] = lanes_[static_cast<size_t>(first[lane]) * kLanes + lane];
    high[lane] = lanes_[static_cast<size_t>(end[lane] - 1) * kLanes + lane];
    any_clipped = true;
  }
  if (!any_clipped) return;
  const __m128 low_v = _mm_load_ps(low), high_v = _mm_load_ps(high);
  for (int f = 0; f < frames_; ++f) {
    // NaN compares false both ways: not counted.
    const __m128 v = _mm_loadu_ps(frames[f] + at);
    const int lost = _mm_movemask_ps(_mm_or_ps(_mm_cmplt_ps(v, low_v), _mm_cmpgt_ps(v, high_v)));
    clipped[f] += kLanesSet[lost];
  }
}
// The mean needs no sorting: each pixel's finite values summed in frame
// order, a block of pixels at a time.
void PixelCombiner::combine_mean(const float* const* frames, size_t count, float* out) {
  constexpr size_t kBlock = 256;
  double sum[kBlock];
  int n[kBlock];
  for (size_t at = 0; at < count; at += kBlock) {
    const size_t size = std::min(kBlock, count - at);
    std::fill(sum, sum + size, 0.0);
    std::fill(n, n + size, 0);
    for (int f = 0; f < frames_; ++f)
      for (size_t i = 0; i < size; ++i) {
        const float v = frames[f][at + i];
        if (!std::isfinite(v)) continue;
        sum[i] += v;
        ++n[i];
      }
    for (size_t i = 0; i < size; ++i)
      out[at + i] =
          n[i] ? static_cast<float>(sum[i] / n[i]) : std::numeric_limits<float>::quiet_NaN();
  }
}
