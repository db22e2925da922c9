#include "combining/combine_rule.h"

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

// The median absolute deviation from m of sorted[first, end): the
// deviations taken in increasing order, from the middle outwards.
double median_deviation(const float* sorted, int stride, int first, int end, double m) {
  const int count = end - first;
  const int low = (count - 1) / 2, high = count / 2;  // ranks of the middle deviations
  int left = first + low, right = first + high;
  double at_low = 0.0, deviation = 0.0;
  int rank = 0;
  if (left == right) {  // the middle value itself, 0 from m
    if (high == 0) return 0.0;
    --left, ++right, rank = 1;
  }
  for (; rank <= high; ++rank) {
    const double to_left = left >= first ? m - sorted[left * stride] : HUGE_VAL;
    const double to_right = right < end ? sorted[right * stride] - m : HUGE_VAL;
    if (to_left <= to_right) {
      deviation = to_left;
      --left;
    } else {
      deviation = to_right;
      ++right;
    }
    if (rank == low) at_low = deviation;
  }
  return 0.5 * (at_low + deviation);
}

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
      lanes_(static_cast<size_t>(frames) * kLanes) {}

void PixelCombiner::combine(const float* const* frames, size_t count, float* out,
                            long long* clipped) {
  if (rule_.method == CombineMethod::mean) return combine_mean(frames, count, out);
  for (size_t at = 0; at < count; at += kLanes)
    combine_sorted(frames, at, std::min<size_t>(kLanes, count - at), out, clipped);
}

// Every pixel goes through the same network, a last partial group padded,
// so that its result does not depend on where it stands.
void PixelCombiner::combine_sorted(const float* const* frames, size_t at, size_t lanes, float* out,
                                   long long* clipped) {
  const float missing = std::numeric_limits<float>::infinity();
  int finite[kLanes] = {};
  for (int f = 0; f < frames_; ++f) {
    float* group = &lanes_[static_cast<size_t>(f) * kLanes];
    for (size_t lane = 0; lane < kLanes; ++lane) {
      const float v = lane < lanes ? frames[f][at + lane] : missing;
      const bool usable = std::isfinite(v);
      group[lane] = usable ? v : missing;  // sorted to the end
      finite[lane] += usable;
    }
  }
  sort_lanes(network_, lanes_.data());
  for (size_t lane = 0; lane < lanes; ++lane) {
    const float* sorted = &lanes_[lane];
    const int n = finite[lane];
    if (n == 0) {
      out[at + lane] = std::numeric_limits<float>::quiet_NaN();
      continue;
    }
    if (rule_.method == CombineMethod::median) {
      out[at + lane] = static_cast<float>(median_sorted(sorted, kLanes, 0, n));
      continue;
    }
    const KeptRange kept = clip_sorted(sorted, kLanes, n, rule_.kappa);
    double sum = 0.0;
    for (int k = kept.first; k < kept.end; ++k) sum += sorted[k * kLanes];
    out[at + lane] = static_cast<float>(sum / (kept.end - kept.first));
    if (kept.first == 0 && kept.end == n) continue;
    const float low = sorted[kept.first * kLanes], high = sorted[(kept.end - 1) * kLanes];
    for (int f = 0; f < frames_; ++f) {
      const float v = frames[f][at + lane];
      clipped[f] += std::isfinite(v) && (v < low || v > high);
    }
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
