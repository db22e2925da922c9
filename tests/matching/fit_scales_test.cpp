// The fitted match on synthetic frames with known scales: each case checks
// the scales against their stated errors, and the sky the fit reports.
#include "matching/fit_scales.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "matching/stages.h"

namespace {

struct FitCase {
  const char* name;
  float glow_scale, hot_scale;
  bool bias = true;              // a bias of 500 with a column pattern; else the dark keeps it
  int stars = 0;                 // bright sources in the light only
  float sky_x = 0, sky_y = 0;    // sky gradient, ADU a pixel
  bool glow_far_corner = false;  // the glow rises from the opposite corner
  bool saturate = false;         // the light clips at 65535: its brightest hot pixels saturate
  int nan_pixels = 0;            // NaN in both the light and the dark
};

constexpr int32_t kWidth = 400, kHeight = 300;
constexpr float kSky = 200.0f;

struct Frames {
  std::vector<float> light, dark, bias;
};

Frames make_frames(const FitCase& c) {
  std::mt19937_64 random(7);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  const size_t n = size_t(kWidth) * kHeight;
  Frames f{std::vector<float>(n), std::vector<float>(n), std::vector<float>(n)};
  std::vector<double> column(kWidth), hot(n, 0.0), stars(n, 0.0);
  for (double& v : column) v = 500.0 + 4.0 * uniform(random);
  for (int k = 0; k < 600; ++k)
    hot[size_t(uniform(random) * (n - 1))] = 200.0 * std::pow(100.0, uniform(random));
  for (int k = 0; k < c.stars; ++k) {
    const double cx = uniform(random) * kWidth, cy = uniform(random) * kHeight;
    const double peak = 500.0 * std::pow(40.0, uniform(random));
    for (int32_t y = std::max(0, int32_t(cy) - 6); y < std::min(kHeight, int32_t(cy) + 7); ++y)
      for (int32_t x = std::max(0, int32_t(cx) - 6); x < std::min(kWidth, int32_t(cx) + 7); ++x)
        stars[size_t(y) * kWidth + x] +=
            peak * std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (2 * 1.8 * 1.8));
  }
  for (int32_t y = 0; y < kHeight; ++y)
    for (int32_t x = 0; x < kWidth; ++x) {
      const size_t i = size_t(y) * kWidth + x;
      const double r =
          c.glow_far_corner ? std::hypot(kWidth - 1 - x, y) : std::hypot(x, kHeight - 1 - y);
      const double glow = 20.0 + 800.0 * std::exp(-r / 90.0);
      const double bias = column[x];
      f.bias[i] = float(bias + 0.5 * normal(random));
      f.dark[i] = float(bias + glow + hot[i] + 1.0 * normal(random));
      const double sky =
          kSky + c.sky_x * (x - 0.5 * (kWidth - 1)) + c.sky_y * (y - 0.5 * (kHeight - 1));
      double light =
          bias + sky + stars[i] + c.glow_scale * glow + c.hot_scale * hot[i] + 5.0 * normal(random);
      if (c.saturate) light = std::min(light, 65535.0);
      f.light[i] = float(light);
    }
  for (int k = 0; k < c.nan_pixels; ++k) {
    f.light[size_t(uniform(random) * (n - 1))] = NAN;
    f.dark[size_t(uniform(random) * (n - 1))] = NAN;
  }
  return f;
}

struct Fitted {
  FitSample sample;
  ScaleFit fit;
};

Fitted fit_frames(const Frames& f, bool bias, double light_saturation) {
  const FrameGeometry frame{kWidth, kHeight};
  std::vector<float> glow(f.dark.size()), hot(f.dark.size());
  const float* b = bias ? f.bias.data() : nullptr;
  split_dark(frame, f.dark.data(), b, glow.data(), hot.data());
  Fitted r;
  r.sample = fit_sample(frame, f.dark.data(), glow.data(), hot.data(), 65535.0 * 0.99);
  r.fit = fit_scales(r.sample,
                     sample_light(f.light.data(), b, bias ? 1 : 0, r.sample, light_saturation));
  return r;
}

class KnownScales : public ::testing::TestWithParam<FitCase> {};

TEST_P(KnownScales, AreFoundWithinThreeStatedErrors) {
  const FitCase& c = GetParam();
  const Frames frames = make_frames(c);
  const Fitted r = fit_frames(frames, c.bias, c.saturate ? 65535.0 * 0.99 : NAN);
  const ScaleFit& fit = r.fit;
  ASSERT_TRUE(fit.solved);
  EXPECT_NEAR(fit.glow_scale, c.glow_scale, 3 * fit.glow_error);
  EXPECT_NEAR(fit.hot_scale, c.hot_scale, 3 * fit.hot_error);
  // The errors say something: well under a percent of the scales here.
  EXPECT_LT(fit.glow_error, 0.01 * c.glow_scale);
  EXPECT_LT(fit.hot_error, 0.01 * c.hot_scale);
  // The sky as built: without a bias it also holds (1 - glow scale) x the
  // pedestal the glow plane keeps.
  const double sky = c.bias ? kSky : kSky + (1 - fit.glow_scale) * 502.0;
  EXPECT_NEAR(fit.sky_level, sky, c.bias ? 1.0 : 5.0);
  EXPECT_NEAR(fit.sky_x, c.sky_x, 2e-3);
  EXPECT_NEAR(fit.sky_y, c.sky_y, 2e-3);
  EXPECT_EQ(fit.used + fit.clipped + fit.left_out, fit.sample);
  if (c.stars > 0) EXPECT_GT(fit.clipped, c.stars * 10);
  if (c.nan_pixels > 0 || c.saturate) EXPECT_GT(fit.left_out, 0);
  EXPECT_NEAR(fit.residual_noise, 5.0, 1.0);

  // What the correction leaves is the plain median and MAD of the corrected
  // background, bit for bit, however fast they are found.
  const std::vector<float> values =
      sample_light(frames.light.data(), c.bias ? frames.bias.data() : nullptr, c.bias ? 1 : 0,
                   r.sample, c.saturate ? 65535.0 * 0.99 : NAN);
  std::vector<double> background;
  for (uint32_t k : r.sample.background)
    if (std::isfinite(values[k]))
      background.push_back(double(values[k]) - fit.glow_scale * r.sample.glow[k] -
                           fit.hot_scale * r.sample.hot[k]);
  const auto median = [](std::vector<double>& v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
  };
  ASSERT_GT(background.size(), 50000u);  // enough for the fast search
  const double middle = median(background);
  for (double& v : background) v = std::fabs(v - middle);
  EXPECT_EQ(correction_quality(r.sample, values, fit.glow_scale, fit.hot_scale).noise,
            fit_limits::mad_to_sigma * median(background));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KnownScales,
    ::testing::Values(FitCase{"plain", 0.6f, 1.7f}, FitCase{"stars", 0.6f, 1.7f, true, 60},
                      FitCase{"sky_gradient", 1.3f, 0.8f, true, 0, 0.05f, -0.03f},
                      FitCase{"saturated_hot_pixels", 0.5f, 4.0f, true, 0, 0, 0, false, true},
                      FitCase{"glow_far_corner", 0.4f, 0.45f, true, 0, 0, 0, true},
                      FitCase{"no_bias", 0.7f, 1.2f, false},
                      FitCase{"nan_pixels", 0.6f, 1.7f, true, 0, 0, 0, false, false, 500},
                      FitCase{"all_at_once", 0.9f, 4.2f, false, 30, 0.02f, 0.01f, true, true, 200}),
    [](const auto& info) { return std::string(info.param.name); });

// The sample and the fit depend on the frames alone: fitted on several
// threads at once, a light gives the same bits.
TEST(FitScales, GivesTheSameScalesOnAnyThread) {
  const FitCase c{"threads", 0.6f, 1.7f, true, 60};
  const Frames frames = make_frames(c);
  std::vector<Fitted> results(3);
  std::vector<std::thread> threads;
  for (Fitted& r : results) threads.emplace_back([&] { r = fit_frames(frames, true, NAN); });
  for (std::thread& t : threads) t.join();
  for (const Fitted& r : results) {
    EXPECT_EQ(r.sample.index, results[0].sample.index);
    EXPECT_EQ(std::memcmp(&r.fit.glow_scale, &results[0].fit.glow_scale, sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(&r.fit.hot_scale, &results[0].fit.hot_scale, sizeof(double)), 0);
    EXPECT_EQ(r.fit.used, results[0].fit.used);
  }
}

// Too few pixels for five unknowns, and a dark without hot pixels: the fit
// says so rather than inventing scales.
TEST(FitScales, SaysWhatItCannotDetermine) {
  Frames frames = make_frames(FitCase{"empty", 0.6f, 1.7f});
  for (float& v : frames.light) v = NAN;
  EXPECT_FALSE(fit_frames(frames, true, NAN).fit.solved);

  const size_t n = size_t(kWidth) * kHeight;
  Frames flat{std::vector<float>(n), std::vector<float>(n), std::vector<float>(n, 100.0f)};
  for (size_t i = 0; i < n; ++i) {
    flat.dark[i] = 100.0f + float(i % kWidth) * 0.1f;
    flat.light[i] = 100.0f + 0.5f * float(i % kWidth) * 0.1f + 30.0f;
  }
  const ScaleFit fit = fit_frames(flat, true, NAN).fit;
  ASSERT_TRUE(fit.solved);
  EXPECT_EQ(fit.hot_scale, 0.0);
  EXPECT_TRUE(std::isnan(fit.hot_error));
}

// What a correction leaves: the noise of the light under the true scales,
// and more of it, and of the hot pixels, under scales that are off.
TEST(CorrectionQuality, GrowsWithScalesThatAreOff) {
  const FitCase c{"quality", 0.6f, 1.7f};
  const Frames frames = make_frames(c);
  const Fitted r = fit_frames(frames, true, NAN);
  const std::vector<float> values =
      sample_light(frames.light.data(), frames.bias.data(), 1, r.sample, NAN);
  const CorrectionQuality right = correction_quality(r.sample, values, 0.6, 1.7);
  const CorrectionQuality off = correction_quality(r.sample, values, 0.3, 1.2);
  EXPECT_NEAR(right.noise, 5.0, 0.5);
  EXPECT_GT(off.noise, 1.5 * right.noise);
  EXPECT_GT(off.hot_residual, 10 * right.hot_residual);
  EXPECT_FALSE(r.sample.bright_hot.empty());
}

}  // namespace
