#include "matching/fit_scales.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>

#include "kernels/median_networks.h"

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr int kUnknowns = 5;  // glow, hot, sky constant, sky x, sky y

// The k-th smallest of the values (k below their count), as std::nth_element
// finds it, reordering them. For many values a fixed-stride probe of them
// brackets the k-th, one pass counts those below the bracket and keeps
// those in it, and only those are searched; a bracket that misses it, or a
// NaN, sends the search over all of them.
double kth_smallest(std::vector<double>& values, size_t k) {
  constexpr size_t kFew = 1 << 14, kProbe = 4096;
  const size_t n = values.size();
  if (n > kFew) {
    const size_t step = n / kProbe;
    std::vector<double> probe;
    probe.reserve(n / step + 1);
    for (size_t i = 0; i < n; i += step) probe.push_back(values[i]);
    if (std::none_of(probe.begin(), probe.end(), [](double v) { return std::isnan(v); })) {
      std::sort(probe.begin(), probe.end());
      // Four standard deviations of the probe's rank of the k-th value.
      const size_t m = probe.size(), at = k * m / n;
      const size_t margin = 2 * static_cast<size_t>(std::sqrt(static_cast<double>(m))) + 1;
      const double low = probe[at > margin ? at - margin : 0];
      const double high = probe[std::min(m - 1, at + margin)];
      // One pass, with room for four times the values the probe puts inside
      // (more sends the search over all of them); a NaN is counted nowhere.
      const size_t room = std::min(n, 4 * (2 * margin + 1) * step);
      std::unique_ptr<double[]> inside(new double[room + 1]);
      size_t below = 0, above = 0, kept = 0;
      for (double v : values) {
        below += v < low;
        above += v > high;
        inside[std::min(kept, room)] = v;
        kept += (v >= low) & (v <= high);  // no branch: which values lie inside is random
      }
      if (kept <= room && below + kept + above == n && below <= k && k < below + kept) {
        double* kth = inside.get() + (k - below);
        std::nth_element(inside.get(), kth, inside.get() + kept);
        return *kth;
      }
    }
  }
  auto kth = values.begin() + static_cast<ptrdiff_t>(k);
  std::nth_element(values.begin(), kth, values.end());
  return *kth;
}

// Median of the values, reordering them; the upper middle of an even count.
double median_in_place(std::vector<double>& values) {
  return values.empty() ? kNan : kth_smallest(values, values.size() / 2);
}

struct Spread {
  double median, sigma;
};

// Median and 1.4826 x the median absolute deviation.
Spread robust_spread(std::vector<double> values) {
  const double median = median_in_place(values);
  for (double& v : values) v = std::fabs(v - median);
  return {median, fit_limits::mad_to_sigma * median_in_place(values)};
}

// The largest stride of at most n / stride_pixels (at least 1) that shares
// no factor with the row length, so that the pixels taken move across the
// columns from row to row.
int64_t sample_stride(int64_t pixels, int32_t width) {
  int64_t stride = std::max<int64_t>(1, pixels / fit_limits::stride_pixels);
  while (stride > 1 && std::gcd(stride, static_cast<int64_t>(width)) != 1) --stride;
  return stride;
}

bool usable(float value) {
  return std::isfinite(value);
}

// The hot plane as the fit sees it: what the split put there from the dark's
// noise alone (a pixel a little above its neighbours) counts as 0, since a
// light does not repeat the dark's noise and such entries would only pull
// the hot scale towards 0.
double hot_signal(const FitSample& s, size_t k) {
  return s.hot[k] > s.hot_threshold ? s.hot[k] : 0.0;
}

// The symmetric normal equations of one round, upper triangle, and their
// right-hand side.
struct Normal {
  double a[kUnknowns][kUnknowns] = {};
  double b[kUnknowns] = {};
  int64_t count = 0;
};

// The noise the fit expects of a pixel: the background's, plus a part that
// grows with the hot-pixel signal predicted there (shot noise of the light,
// the dark's own noise scaled up, hot pixels that flicker).
struct NoiseModel {
  double background = 1, per_signal = 0, hot_scale = 0;
  double variance(const FitSample& s, size_t k) const {
    return background * background + per_signal * std::max(0.0, hot_scale * s.signal[k]);
  }
};

double model(const FitSample& s, size_t k, const double (&coef)[kUnknowns]) {
  return coef[0] * s.g[k] + coef[1] * s.h[k] + coef[2] + coef[3] * s.x[k] + coef[4] * s.y[k];
}

// The residual of pixel k under the coefficients; 0 where the light is not
// usable.
double residual(const FitSample& s, const std::vector<float>& values, size_t k,
                const double (&coef)[kUnknowns]) {
  return usable(values[k]) ? values[k] - model(s, k, coef) : 0.0;
}

// The sums over the pixels kept, weighted, in kLanes interleaved partial
// sums (pixel k in lane k % kLanes, each lane in the order of k) added up in
// one fixed order at the end, so that the compiler can keep the lanes in
// vector registers and the result does not depend on it. The terms are
// gathered a block of pixels at a time and summed a row of the equations
// at a time.
constexpr int kLanes = 4;
constexpr int kSums = kUnknowns * (kUnknowns + 1) / 2 + kUnknowns;
constexpr size_t kBlock = 256;  // a multiple of kLanes

// Two lanes of a sum as one value; each lane is added up on its own, as
// ordinary doubles are, so the compiler may keep them in one register.
typedef double Pair __attribute__((vector_size(2 * sizeof(double))));

// sums[j][lane] += a[k] x b[j][k] for the n terms (a multiple of kLanes).
template <int Count>
void add_products(double (*sums)[kLanes], const double* a, const double* const* b, size_t n) {
  static_assert(kLanes == 4);
  Pair low[Count], high[Count], a0, a1, b0, b1;
  for (int j = 0; j < Count; ++j) {
    std::memcpy(&low[j], &sums[j][0], sizeof(Pair));
    std::memcpy(&high[j], &sums[j][2], sizeof(Pair));
  }
  for (size_t k = 0; k < n; k += kLanes) {
    std::memcpy(&a0, a + k, sizeof a0);
    std::memcpy(&a1, a + k + 2, sizeof a1);
    for (int j = 0; j < Count; ++j) {
      std::memcpy(&b0, b[j] + k, sizeof b0);
      std::memcpy(&b1, b[j] + k + 2, sizeof b1);
      low[j] += a0 * b0;
      high[j] += a1 * b1;
    }
  }
  for (int j = 0; j < Count; ++j) {
    std::memcpy(&sums[j][0], &low[j], sizeof(Pair));
    std::memcpy(&sums[j][2], &high[j], sizeof(Pair));
  }
}

struct Solution {
  double coef[kUnknowns];
  double inverse_diagonal[kUnknowns];  // NaN for an unknown not determined
};

// Gauss-Jordan on the symmetric matrix without exchanges: a pivot that has
// lost all but a tiny part of its diagonal marks an unknown that the others
// already explain (a regressor that does not vary); it is held at 0.
Solution solve(const Normal& n) {
  double m[kUnknowns][2 * kUnknowns] = {};
  for (int i = 0; i < kUnknowns; ++i) {
    for (int j = 0; j < kUnknowns; ++j) m[i][j] = n.a[i][j];
    m[i][kUnknowns + i] = 1.0;
  }
  bool fixed[kUnknowns] = {};
  for (int p = 0; p < kUnknowns; ++p) {
    if (!(m[p][p] > 1e-10 * n.a[p][p]) || n.a[p][p] <= 0) {
      fixed[p] = true;
      for (int j = 0; j < 2 * kUnknowns; ++j) m[p][j] = 0;
      for (int i = 0; i < kUnknowns; ++i) m[i][p] = 0;
      continue;
    }
    const double pivot = m[p][p];
    for (int j = 0; j < 2 * kUnknowns; ++j) m[p][j] /= pivot;
    for (int i = 0; i < kUnknowns; ++i) {
      if (i == p || m[i][p] == 0) continue;
      const double factor = m[i][p];
      for (int j = 0; j < 2 * kUnknowns; ++j) m[i][j] -= factor * m[p][j];
    }
  }
  Solution s;
  for (int i = 0; i < kUnknowns; ++i) {
    double c = 0;
    for (int j = 0; j < kUnknowns; ++j)
      if (!fixed[i] && !fixed[j]) c += m[i][kUnknowns + j] * n.b[j];
    s.coef[i] = c;
    s.inverse_diagonal[i] = fixed[i] ? kNan : m[i][kUnknowns + i];
  }
  return s;
}

// What one pass over the sample gives: the squares of the residuals under a
// round's solution, weighted as that round weighed them, and the weights
// of the next round (how many of them changed whether a pixel is kept) and
// its equations.
struct Sweep {
  double squares = 0;
  int64_t changed = 0;
  Normal next;
};

// Without a solution (the first round) every usable pixel is weighed alike.
// After a round, with a noise model, the pixels within clip_sigmas of the
// expected noise of the median residual are kept, each weighted by the
// inverse of its expected variance; without one the pass only sums the
// squares.
Sweep sweep(const FitSample& s, const std::vector<float>& values, std::vector<double>& weight,
            const Solution* solution, const NoiseModel* noise, double median) {
  const size_t count = values.size();
  const double clip = fit_limits::clip_sigmas * fit_limits::clip_sigmas;
  double squares = 0;
  int64_t changed = 0, kept = 0;
  double sums[kSums][kLanes] = {};
  // v: the regressors (1 for the constant) and the value; wv: the
  // regressors weighted. Row i of the equations sums wv[i] x v[j], j >= i.
  double w[kBlock], v[kUnknowns + 1][kBlock], wv[kUnknowns][kBlock];
  std::fill(&v[2][0], &v[2][0] + kBlock, 1.0);
  for (size_t start = 0; start < count; start += kBlock) {
    const size_t length = std::min(kBlock, count - start);
    for (size_t q = 0; q < length; ++q) {
      const size_t k = start + q;
      if (solution == nullptr) {
        w[q] = usable(values[k]) ? 1.0 : 0.0;
      } else {
        const double r = residual(s, values, k, solution->coef);
        squares += weight[k] * r * r;
        if (noise == nullptr) continue;
        const double variance = noise->variance(s, k);
        const double d = r - median;
        w[q] = usable(values[k]) && d * d <= clip * variance ? 1.0 / variance : 0.0;
        changed += (w[q] != 0) != (weight[k] != 0);
      }
      weight[k] = w[q];
      kept += w[q] != 0;
    }
    if (solution != nullptr && noise == nullptr) continue;
    const size_t terms = (length + kLanes - 1) / kLanes * kLanes;
    for (size_t q = 0; q < length; ++q) {
      const size_t k = start + q;
      v[0][q] = s.g[k], v[1][q] = s.h[k], v[3][q] = s.x[k], v[4][q] = s.y[k];
      v[kUnknowns][q] = w[q] != 0 ? static_cast<double>(values[k]) : 0.0;  // NaN where not kept
    }
    for (size_t q = length; q < terms; ++q) {
      w[q] = 0;
      for (int i : {0, 1, 3, 4, kUnknowns}) v[i][q] = 0;
    }
    for (int i = 0; i < kUnknowns; ++i)
      for (size_t q = 0; q < terms; ++q) wv[i][q] = w[q] * v[i][q];
    const auto row = [&v](int i) {
      std::array<const double*, kUnknowns + 1> b{};
      for (int j = i; j <= kUnknowns; ++j) b[j - i] = v[j];
      return b;
    };
    add_products<6>(sums + 0, wv[0], row(0).data(), terms);
    add_products<5>(sums + 6, wv[1], row(1).data(), terms);
    add_products<4>(sums + 11, wv[2], row(2).data(), terms);
    add_products<3>(sums + 15, wv[3], row(3).data(), terms);
    add_products<2>(sums + 18, wv[4], row(4).data(), terms);
  }
  Sweep result;
  result.squares = squares, result.changed = changed, result.next.count = kept;
  const auto total = [&sums](int m) {
    return ((sums[m][0] + sums[m][1]) + sums[m][2]) + sums[m][3];
  };
  int m = 0;
  for (int i = 0; i < kUnknowns; ++i) {
    for (int j = i; j < kUnknowns; ++j) result.next.a[i][j] = result.next.a[j][i] = total(m++);
    result.next.b[i] = total(m++);
  }
  return result;
}

// Median and robust sigma of the residuals at the pixels given.
Spread residual_spread(const FitSample& s, const std::vector<float>& values,
                       const std::vector<uint32_t>& at, const double (&coef)[kUnknowns]) {
  std::vector<double> taken(at.size());
  for (size_t q = 0; q < at.size(); ++q) taken[q] = residual(s, values, at[q], coef);
  return robust_spread(std::move(taken));
}

// How fast the noise grows with the hot-pixel signal: from the hot pixels
// (hot_at: the usable pixels of the sample with a hot-pixel signal) whose
// predicted signal stands above the background noise, the median of their
// excess squared residual per unit of signal (a squared residual's median
// is 0.4549 of its variance).
double noise_per_signal(const FitSample& s, const std::vector<float>& values,
                        const std::vector<uint32_t>& hot_at, const double (&coef)[kUnknowns],
                        double hot_scale, double background) {
  std::vector<double> excess;
  for (uint32_t k : hot_at) {
    const double signal = hot_scale * s.signal[k];
    if (!(signal > background)) continue;
    const double r = residual(s, values, k, coef);
    excess.push_back((r * r / 0.4549 - background * background) / signal);
  }
  return excess.empty() ? 0.0 : std::max(0.0, median_in_place(excess));
}

// The median of the 3 x 3 neighbourhood of pixel i, the pixel itself for one
// on the frame's edge.
// Pixel i lies in column x of row y. Without NaN the median network finds
// the same value as a search, only faster.
double local_median(FrameGeometry frame, const float* plane, int64_t i, int64_t x, int64_t y) {
  if (x == 0 || y == 0 || x == frame.width - 1 || y == frame.height - 1) return plane[i];
  float v[9];
  int count = 0;
  for (int64_t dy = -1; dy <= 1; ++dy)
    for (int64_t dx = -1; dx <= 1; ++dx) v[count++] = plane[i + dy * frame.width + dx];
  if (std::none_of(v, v + 9, [](float value) { return std::isnan(value); })) return median_of_9(v);
  std::nth_element(v, v + 4, v + 9);
  return v[4];
}

// The glow as the fit's regressor sees it at column x, row y: the mean of
// the finite values of the 5 x 5 square about the pixel, clipped to the
// frame. The glow plane keeps the dark's own noise, which in a regressor
// pulls its scale towards 0, the more the fainter the glow; the mean keeps a
// twenty-fifth of that noise and the glow's shape, which varies slowly.
double smooth_glow(FrameGeometry frame, const float* glow, int64_t x, int64_t y) {
  double sum = 0;
  int count = 0;
  for (int64_t row = std::max<int64_t>(0, y - 2); row <= std::min<int64_t>(frame.height - 1, y + 2);
       ++row)
    for (int64_t column = std::max<int64_t>(0, x - 2);
         column <= std::min<int64_t>(frame.width - 1, x + 2); ++column) {
      const float value = glow[row * frame.width + column];
      if (usable(value)) sum += value, ++count;
    }
  return sum / count;  // the pixel itself is usable
}

}  // namespace

FitSample fit_sample(FrameGeometry frame, const float* dark, const float* glow, const float* hot,
                     double dark_saturation) {
  FitSample s;
  s.frame = frame;
  if (frame.width <= 0 || frame.height <= 0) return s;
  const int64_t n = static_cast<int64_t>(frame.width) * frame.height;
  const int64_t stride = sample_stride(n, frame.width);

  // The dark's noise from pixel to pixel at the stride: a hot-plane pixel
  // that far above 0 is no noise.
  const auto step_noise = [&](const float* plane) {
    std::vector<double> steps;
    steps.reserve(static_cast<size_t>(n / stride + 1));
    // x: the column of pixel i, followed along rather than divided out.
    for (int64_t i = 0, x = 0; i + 1 < n; i += stride, x += stride) {
      while (x >= frame.width) x -= frame.width;
      if (usable(plane[i]) && usable(plane[i + 1]) && x + 1 != frame.width)
        steps.push_back(static_cast<double>(plane[i + 1]) - plane[i]);
    }
    return robust_spread(std::move(steps)).sigma / std::sqrt(2.0);
  };
  const double dark_noise = step_noise(dark);
  s.hot_threshold = fit_limits::hot_sigmas *
                    (dark_noise > fit_limits::noise_floor ? dark_noise : fit_limits::noise_floor);
  const double hot_threshold = s.hot_threshold;

  const auto saturated = [dark_saturation](float value) {
    return !std::isnan(dark_saturation) && value >= dark_saturation;
  };
  for (int64_t i = 0, next_stride = 0, x = -1, y = 0; i < n; ++i) {
    if (++x == frame.width) x = 0, ++y;
    const bool at_stride = i == next_stride;
    if (at_stride) next_stride += stride;
    const bool bright = hot[i] > hot_threshold;
    if (!at_stride && !bright) continue;
    if (!usable(dark[i]) || saturated(dark[i]) || !usable(glow[i]) || !usable(hot[i])) continue;
    if (glow[i] - local_median(frame, glow, i, x, y) > hot_threshold) continue;
    if (bright) {
      ++s.hot_pixels;
    } else {
      s.background.push_back(static_cast<uint32_t>(s.index.size()));
    }
    s.index.push_back(static_cast<uint32_t>(i));
    s.glow.push_back(glow[i]);
    s.hot.push_back(hot[i]);
  }

  const size_t count = s.index.size();
  s.x_centre = 0.5 * (frame.width - 1), s.x_half = std::max(1.0, 0.5 * frame.width);
  s.y_centre = 0.5 * (frame.height - 1), s.y_half = std::max(1.0, 0.5 * frame.height);
  s.x.resize(count);
  s.y.resize(count);
  // g holds the smoothed glow until it is centred and scaled below.
  s.g.resize(count);
  double glow_sum = 0, hot_sum = 0;
  for (size_t k = 0, y = 0, row_start = 0; k < count; ++k) {
    const uint32_t i = s.index[k];
    while (i - row_start >= static_cast<size_t>(frame.width)) ++y, row_start += frame.width;
    s.x[k] = static_cast<float>((static_cast<double>(i - row_start) - s.x_centre) / s.x_half);
    s.y[k] = static_cast<float>((static_cast<double>(y) - s.y_centre) / s.y_half);
    s.g[k] = static_cast<float>(smooth_glow(frame, glow, i - row_start, y));
    glow_sum += s.g[k];
    hot_sum += hot_signal(s, k);
  }
  if (count > 0) {
    s.glow_mean = glow_sum / count, s.hot_mean = hot_sum / count;
    double glow_squares = 0, hot_squares = 0;
    for (size_t k = 0; k < count; ++k) {
      glow_squares += (s.g[k] - s.glow_mean) * (s.g[k] - s.glow_mean);
      hot_squares += (hot_signal(s, k) - s.hot_mean) * (hot_signal(s, k) - s.hot_mean);
    }
    const double glow_spread = std::sqrt(glow_squares / count);
    const double hot_spread_all = std::sqrt(hot_squares / count);
    s.glow_spread = glow_spread > 0 ? glow_spread : 1.0;
    s.hot_spread = hot_spread_all > 0 ? hot_spread_all : 1.0;
  }
  s.h.resize(count), s.signal.resize(count);
  for (size_t k = 0; k < count; ++k) {
    s.signal[k] = static_cast<float>(hot_signal(s, k));
    s.g[k] = static_cast<float>((s.g[k] - s.glow_mean) / s.glow_spread);
    s.h[k] = static_cast<float>((s.signal[k] - s.hot_mean) / s.hot_spread);
  }

  // The brightest hot pixels: of those taken for the hot plane, by value
  // (position breaking ties), as many as the share of the frame.
  std::vector<uint32_t> hot_taken;
  for (size_t k = 0; k < count; ++k)
    if (s.hot[k] > hot_threshold) hot_taken.push_back(static_cast<uint32_t>(k));
  const size_t bright = std::min<size_t>(
      hot_taken.size(),
      std::max<int64_t>(1, std::llround(fit_limits::bright_hot_share * static_cast<double>(n))));
  std::partial_sort(
      hot_taken.begin(), hot_taken.begin() + bright, hot_taken.end(),
      [&s](uint32_t a, uint32_t b) { return s.hot[a] != s.hot[b] ? s.hot[a] > s.hot[b] : a < b; });
  hot_taken.resize(bright);
  s.bright_hot = std::move(hot_taken);
  return s;
}

std::vector<float> sample_light(const float* light, const float* bias, int32_t bias_factor,
                                const FitSample& s, double light_saturation) {
  std::vector<float> values(s.index.size());
  const bool saturation = !std::isnan(light_saturation);
  for (size_t k = 0; k < values.size(); ++k) {
    const uint32_t i = s.index[k];
    float value = light[i];
    if (!usable(value) || (saturation && value >= light_saturation)) {
      values[k] = std::numeric_limits<float>::quiet_NaN();
      continue;
    }
    for (int32_t f = 0; bias != nullptr && f < bias_factor; ++f) value = value - bias[i];
    values[k] = value;
  }
  return values;
}

ScaleFit fit_scales(const FitSample& s, const std::vector<float>& values) {
  ScaleFit fit;
  fit.sample = static_cast<int64_t>(values.size());
  fit.glow_error = fit.hot_error = kNan;
  int64_t valid_count = 0;
  for (float value : values) valid_count += usable(value);
  fit.left_out = fit.sample - valid_count;
  // The residuals' spread is taken over at most sigma_pixels of the usable
  // pixels, at a fixed stride; the noise's growth with the signal over the
  // usable hot pixels.
  std::vector<uint32_t> spread_at, hot_at;
  const int64_t step = std::max<int64_t>(1, valid_count / fit_limits::sigma_pixels);
  spread_at.reserve(static_cast<size_t>(valid_count / step + 1));
  for (size_t k = 0, skip = 0; k < values.size(); ++k) {
    if (!usable(values[k])) continue;
    if (skip-- == 0) spread_at.push_back(static_cast<uint32_t>(k)), skip = step - 1;
    if (s.signal[k] != 0) hot_at.push_back(static_cast<uint32_t>(k));
  }

  // The first round weighs every usable pixel alike.
  std::vector<double> weight(values.size());
  Normal n = sweep(s, values, weight, nullptr, nullptr, 0).next;
  Solution solution{};
  Spread spread{kNan, kNan};
  for (int round = 0; round < fit_limits::max_rounds; ++round) {
    if (n.count <= kUnknowns) return fit;
    solution = solve(n);
    fit.rounds = round + 1;
    fit.used = n.count;
    spread = residual_spread(s, values, spread_at, solution.coef);
    const bool last = round + 1 == fit_limits::max_rounds;
    NoiseModel noise;
    if (!last) {
      noise.background = std::max(spread.sigma, fit_limits::noise_floor);
      noise.hot_scale = solution.coef[1] / s.hot_spread;
      noise.per_signal =
          noise_per_signal(s, values, hot_at, solution.coef, noise.hot_scale, noise.background);
    }
    const Sweep pass = sweep(s, values, weight, &solution, last ? nullptr : &noise, spread.median);
    const double squares = pass.squares;  // weighted, in units of the expected noise
    // The weights' scale drops out of the coefficients but not of their
    // errors: the weighted residuals say how well the model of the noise held.
    const double variance = squares / static_cast<double>(n.count - kUnknowns);
    fit.glow_error = std::sqrt(variance * solution.inverse_diagonal[0]) / s.glow_spread;
    fit.hot_error = std::sqrt(variance * solution.inverse_diagonal[1]) / s.hot_spread;
    // Once the weights are the noise model's, a round that changes few of
    // the pixels kept moves the scales by far less than their errors.
    if (last || (round > 0 && pass.changed <= n.count / fit_limits::settled_share)) break;
    n = pass.next;
  }
  fit.solved = true;
  fit.clipped = valid_count - fit.used;
  fit.residual_noise = spread.sigma;
  fit.glow_scale = solution.coef[0] / s.glow_spread;
  fit.hot_scale = solution.coef[1] / s.hot_spread;
  fit.sky_level = solution.coef[2] - fit.glow_scale * s.glow_mean - fit.hot_scale * s.hot_mean;
  fit.sky_x = solution.coef[3] / s.x_half;
  fit.sky_y = solution.coef[4] / s.y_half;
  return fit;
}

CorrectionQuality correction_quality(const FitSample& s, const std::vector<float>& values,
                                     double glow_scale, double hot_scale) {
  const auto corrected = [&](uint32_t k) {
    return static_cast<double>(values[k]) - glow_scale * s.glow[k] - hot_scale * s.hot[k];
  };
  std::vector<double> background;
  background.reserve(s.background.size());
  for (uint32_t k : s.background)
    if (usable(values[k])) background.push_back(corrected(k));
  CorrectionQuality q{kNan, kNan};
  if (background.empty()) return q;
  const Spread spread = robust_spread(std::move(background));
  q.noise = spread.sigma;
  double squares = 0;
  int64_t count = 0;
  for (uint32_t k : s.bright_hot) {
    if (!usable(values[k])) continue;
    const double d = corrected(k) - spread.median;
    squares += d * d;
    ++count;
  }
  if (count > 0) q.hot_residual = std::sqrt(squares / count);
  return q;
}
