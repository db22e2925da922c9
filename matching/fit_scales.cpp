#include "matching/fit_scales.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr int kUnknowns = 5;  // glow, hot, sky constant, sky x, sky y

// Median of the values, reordering them; the upper middle of an even count.
double median_in_place(std::vector<double>& values) {
  if (values.empty()) return kNan;
  auto middle = values.begin() + values.size() / 2;
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
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

// The sums over the pixels kept, weighted, in kLanes interleaved partial
// sums added up in one fixed order at the end, so that the compiler can keep
// the lanes in vector registers and the result does not depend on it.
constexpr int kLanes = 4;
constexpr int kSums = kUnknowns * (kUnknowns + 1) / 2 + kUnknowns;

Normal normal_equations(const FitSample& s, const std::vector<float>& values,
                        const std::vector<double>& weight) {
  const size_t count = values.size();
  double sums[kSums][kLanes] = {};
  const auto add = [&](size_t k, int lane) {
    const double w = weight[k];
    const double v[kUnknowns] = {s.g[k], s.h[k], 1.0, s.x[k], s.y[k]};
    const double t = w != 0 ? static_cast<double>(values[k]) : 0.0;  // NaN where not kept
    int m = 0;
    for (int i = 0; i < kUnknowns; ++i) {
      const double wv = w * v[i];
      for (int j = i; j < kUnknowns; ++j) sums[m++][lane] += wv * v[j];
      sums[m++][lane] += wv * t;
    }
  };
  size_t k = 0;
  for (; k + kLanes <= count; k += kLanes)
    for (int lane = 0; lane < kLanes; ++lane) add(k + lane, lane);
  for (int lane = 0; k < count; ++k, ++lane) add(k, lane);
  const auto total = [&sums](int m) {
    return ((sums[m][0] + sums[m][1]) + sums[m][2]) + sums[m][3];
  };
  Normal n;
  int m = 0;
  for (int i = 0; i < kUnknowns; ++i) {
    for (int j = i; j < kUnknowns; ++j) n.a[i][j] = n.a[j][i] = total(m++);
    n.b[i] = total(m++);
  }
  for (size_t q = 0; q < count; ++q) n.count += weight[q] != 0;
  return n;
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

double model(const FitSample& s, size_t k, const double (&coef)[kUnknowns]) {
  return coef[0] * s.g[k] + coef[1] * s.h[k] + coef[2] + coef[3] * s.x[k] + coef[4] * s.y[k];
}

// Median and robust sigma of the residuals of the usable values, over at
// most sigma_pixels of them at a fixed stride.
Spread residual_spread(const std::vector<double>& residual, const std::vector<char>& usable_value,
                       int64_t usable_count) {
  const int64_t step = std::max<int64_t>(1, usable_count / fit_limits::sigma_pixels);
  std::vector<double> taken;
  taken.reserve(static_cast<size_t>(usable_count / step + 1));
  int64_t seen = 0;
  for (size_t k = 0; k < residual.size(); ++k)
    if (usable_value[k] && seen++ % step == 0) taken.push_back(residual[k]);
  return robust_spread(std::move(taken));
}

// How fast the noise grows with the hot-pixel signal: from the hot pixels
// whose predicted signal stands above the background noise, the median of
// their excess squared residual per unit of signal (a squared residual's
// median is 0.4549 of its variance).
double noise_per_signal(const FitSample& s, const std::vector<double>& residual,
                        const std::vector<char>& usable_value, double hot_scale,
                        double background) {
  std::vector<double> excess;
  for (size_t k = 0; k < residual.size(); ++k) {
    const double signal = hot_scale * s.signal[k];
    if (!usable_value[k] || !(signal > background)) continue;
    excess.push_back((residual[k] * residual[k] / 0.4549 - background * background) / signal);
  }
  return excess.empty() ? 0.0 : std::max(0.0, median_in_place(excess));
}

// The median of the 3 x 3 neighbourhood of pixel i, the pixel itself for one
// on the frame's edge.
double local_median(FrameGeometry frame, const float* plane, int64_t i) {
  const int64_t x = i % frame.width, y = i / frame.width;
  if (x == 0 || y == 0 || x == frame.width - 1 || y == frame.height - 1) return plane[i];
  float v[9];
  int count = 0;
  for (int64_t dy = -1; dy <= 1; ++dy)
    for (int64_t dx = -1; dx <= 1; ++dx) v[count++] = plane[i + dy * frame.width + dx];
  std::nth_element(v, v + 4, v + 9);
  return v[4];
}

// The glow as the fit's regressor sees it: the mean of the finite values of
// the 5 x 5 square about the pixel, clipped to the frame. The glow plane keeps
// the dark's own noise, which in a regressor pulls its scale towards 0, the
// more the fainter the glow; the mean keeps a twenty-fifth of that noise and
// the glow's shape, which varies slowly.
double smooth_glow(FrameGeometry frame, const float* glow, int64_t i) {
  const int64_t x = i % frame.width, y = i / frame.width;
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
    for (int64_t i = 0; i + 1 < n; i += stride)
      if (usable(plane[i]) && usable(plane[i + 1]) && (i + 1) % frame.width != 0)
        steps.push_back(static_cast<double>(plane[i + 1]) - plane[i]);
    return robust_spread(std::move(steps)).sigma / std::sqrt(2.0);
  };
  const double dark_noise = step_noise(dark);
  s.hot_threshold = fit_limits::hot_sigmas *
                    (dark_noise > fit_limits::noise_floor ? dark_noise : fit_limits::noise_floor);
  const double hot_threshold = s.hot_threshold;

  const auto saturated = [dark_saturation](float value) {
    return !std::isnan(dark_saturation) && value >= dark_saturation;
  };
  for (int64_t i = 0, next_stride = 0; i < n; ++i) {
    const bool at_stride = i == next_stride;
    if (at_stride) next_stride += stride;
    const bool bright = hot[i] > hot_threshold;
    if (!at_stride && !bright) continue;
    if (!usable(dark[i]) || saturated(dark[i]) || !usable(glow[i]) || !usable(hot[i])) continue;
    if (glow[i] - local_median(frame, glow, i) > hot_threshold) continue;
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
  for (size_t k = 0; k < count; ++k) {
    const uint32_t i = s.index[k];
    s.x[k] = static_cast<float>((i % frame.width - s.x_centre) / s.x_half);
    s.y[k] = static_cast<float>((i / frame.width - s.y_centre) / s.y_half);
    s.g[k] = static_cast<float>(smooth_glow(frame, glow, i));
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
  std::vector<char> valid(values.size());
  int64_t valid_count = 0;
  for (size_t k = 0; k < values.size(); ++k) {
    valid[k] = usable(values[k]);
    valid_count += valid[k];
  }
  fit.left_out = fit.sample - valid_count;
  fit.glow_error = fit.hot_error = kNan;

  std::vector<double> residual(values.size(), 0.0), weight(values.size());
  for (size_t k = 0; k < values.size(); ++k) weight[k] = valid[k] ? 1.0 : 0.0;
  Solution solution{};
  Spread spread{kNan, kNan};
  NoiseModel noise;  // the first round weighs every pixel alike
  for (int round = 0; round < fit_limits::max_rounds; ++round) {
    const Normal n = normal_equations(s, values, weight);
    if (n.count <= kUnknowns) return fit;
    solution = solve(n);
    fit.rounds = round + 1;
    fit.used = n.count;
    double squares = 0;  // weighted, in units of the expected noise
    for (size_t k = 0; k < values.size(); ++k) {
      residual[k] = valid[k] ? values[k] - model(s, k, solution.coef) : 0.0;
      squares += weight[k] * residual[k] * residual[k];
    }
    // The weights' scale drops out of the coefficients but not of their
    // errors: the weighted residuals say how well the model of the noise held.
    const double variance = squares / static_cast<double>(n.count - kUnknowns);
    fit.glow_error = std::sqrt(variance * solution.inverse_diagonal[0]) / s.glow_spread;
    fit.hot_error = std::sqrt(variance * solution.inverse_diagonal[1]) / s.hot_spread;
    spread = residual_spread(residual, valid, valid_count);
    if (round + 1 == fit_limits::max_rounds) break;
    noise.background = std::max(spread.sigma, fit_limits::noise_floor);
    noise.hot_scale = solution.coef[1] / s.hot_spread;
    noise.per_signal = noise_per_signal(s, residual, valid, noise.hot_scale, noise.background);
    // Kept: within clip_sigmas of the expected noise of the median residual.
    int64_t changed = 0;
    const double clip = fit_limits::clip_sigmas * fit_limits::clip_sigmas;
    for (size_t k = 0; k < values.size(); ++k) {
      const double variance_k = noise.variance(s, k);
      const double d = residual[k] - spread.median;
      const double w = valid[k] && d * d <= clip * variance_k ? 1.0 / variance_k : 0.0;
      changed += (w != 0) != (weight[k] != 0);
      weight[k] = w;
    }
    // Once the weights are the noise model's, a round that changes few of
    // the pixels kept moves the scales by far less than their errors.
    if (round > 0 && changed <= n.count / fit_limits::settled_share) break;
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
