#include "combining/combine_rule.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "combining/combine_kernels.h"

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

// Vectors of up to 8 floats (32 bytes).
constexpr int kMaxLanes = 8;
constexpr size_t kScratchAlignment = 32;

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

namespace {

// Drops from kept the values further than limit from m; false when none is.
bool drop_beyond(const float* sorted, int stride, double m, double limit, KeptRange* kept) {
  const KeptRange before = *kept;
  while (kept->first < kept->end && m - sorted[kept->first * stride] > limit) ++kept->first;
  while (kept->end > kept->first && sorted[(kept->end - 1) * stride] - m > limit) --kept->end;
  return kept->first != before.first || kept->end != before.end;
}

// The rounds from round on.
KeptRange clip_rounds(const float* sorted, int stride, KeptRange kept, int round, double kappa) {
  for (; round < kClipRounds && kept.end - kept.first >= 3; ++round) {
    const double m = median_sorted(sorted, stride, kept.first, kept.end);
    // Most pixels hold no value far out: the bound shows it without the
    // deviation's median.
    const double farthest =
        std::max(m - sorted[kept.first * stride], sorted[(kept.end - 1) * stride] - m);
    if (farthest <= kappa * kMadToSigma * deviation_bound(sorted, stride, kept.first, kept.end, m))
      break;
    const double limit =
        kappa * kMadToSigma * median_deviation(sorted, stride, kept.first, kept.end, m);
    if (limit == 0.0 || !drop_beyond(sorted, stride, m, limit, &kept)) break;
  }
  return kept;
}

}  // namespace

KeptRange clip_sorted(const float* sorted, int stride, int n, double kappa) {
  return clip_rounds(sorted, stride, {0, n}, 0, kappa);
}

KeptRange clip_sorted_after(const float* sorted, int stride, int n, double m, double limit,
                            double kappa) {
  KeptRange kept{0, n};
  if (!drop_beyond(sorted, stride, m, limit, &kept)) return kept;
  return clip_rounds(sorted, stride, kept, 1, kappa);
}

PixelCombiner::PixelCombiner(const CombineRule& rule, int frames)
    : PixelCombiner(rule, frames, combine_kernels()) {}

PixelCombiner::PixelCombiner(const CombineRule& rule, int frames, const CombineKernels& kernels)
    : rule_(rule),
      frames_(frames),
      kernels_(kernels),
      network_(sort_network(frames)),
      scratch_(static_cast<size_t>(frames) * kernels.lanes + kScratchAlignment / sizeof(float)),
      tail_(static_cast<size_t>(frames) * kernels.lanes),
      tail_frames_(static_cast<size_t>(frames)) {
  void* start = scratch_.data();
  size_t room = scratch_.size() * sizeof(float);
  aligned_scratch_ =
      static_cast<float*>(std::align(kScratchAlignment, room - kScratchAlignment, start, room));
  for (int f = 0; f < frames; ++f) tail_frames_[f] = &tail_[static_cast<size_t>(f) * kernels.lanes];
}

void PixelCombiner::combine(const float* const* frames, size_t count, float* out,
                            long long* clipped) {
  if (rule_.method == CombineMethod::mean) return combine_mean(frames, count, out);
  const GroupJob job{rule_, frames_, &network_, aligned_scratch_};
  const GroupKernel group = kernels_.by_frames[frames_ <= kUnrolledFrames ? frames_ : 0];
  const size_t lanes = static_cast<size_t>(kernels_.lanes);
  const size_t whole = count / lanes * lanes;
  for (size_t at = 0; at < whole; at += lanes) group(job, frames, at, out + at, clipped);
  if (whole == count) return;
  // A last partial group goes through the same steps, padded with NaN, so
  // that a pixel's result does not depend on where it stands.
  const size_t rest = count - whole;
  std::fill(tail_.begin(), tail_.end(), std::numeric_limits<float>::quiet_NaN());
  for (int f = 0; f < frames_; ++f)
    std::copy_n(frames[f] + whole, rest, &tail_[static_cast<size_t>(f) * lanes]);
  float group_out[kMaxLanes];
  group(job, tail_frames_.data(), 0, group_out, clipped);
  std::copy_n(group_out, rest, out + whole);
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
