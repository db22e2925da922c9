// The demo recovers the scales it built its light with.
#include <fitsio.h>
#include <gtest/gtest.h>

#include <cmath>

#include "tests/cli/cli_run.h"

namespace {

double header_number(const std::string& path, const char* key) {
  fitsfile* file = nullptr;
  int status = 0;
  double value = NAN;
  fits_open_diskfile(&file, path.c_str(), READONLY, &status);
  fits_read_key(file, TDOUBLE, key, &value, nullptr, &status);
  fits_close_file(file, &status);
  EXPECT_EQ(status, 0) << key;
  return value;
}

TEST(Demo, RecoversTheKnownScalesAndLowersTheNoise) {
  TempDir dir;
  const CliRun run = run_cli({"--demo", dir / "demo", "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\"glow_scale\": 0.6"), std::string::npos) << run.out;

  const DemoParams p;
  const std::string matched = dir / "demo/matched.fits";
  const double glow_ratio = header_number(matched, "GLOWRAT");
  const double hot_ratio = header_number(matched, "HOTRAT");

  // Glow: the light's level is its corner median less the median of its
  // darkest 5x5 block. Each block median carries noise of about
  // 1.2533 sigma / 5; the darkest of the n candidate blocks is chosen for
  // being low, which sets it up to sqrt(2 ln n) of those below the sky (the
  // dark's glow plane, not searched, has no such bias). Add three standard
  // deviations of the difference of two medians, relative to the light's
  // glow level (about glow_scale x GLOWDRK): about 3.3 % for the demo.
  const double sigma =
      std::sqrt(p.light_noise * p.light_noise + p.bias_noise * p.bias_noise + 1.0 / 12);
  const double block_sigma = 1.2533 * sigma / 5;
  const double blocks = std::floor((p.width - 11) / 5.0) * std::floor((p.height - 11) / 5.0);
  const double glow_light = p.glow_scale * header_number(matched, "GLOWDRK");
  const double glow_tolerance =
      (std::sqrt(2 * std::log(blocks)) + 3 * std::sqrt(2.0)) * block_sigma / glow_light;
  EXPECT_NEAR(glow_ratio / p.glow_scale, 1.0, glow_tolerance);
  EXPECT_LT(glow_tolerance, 0.05);

  // Hot pixels: nine pixels, each less the median of its neighbours (noise
  // about 0.4 sigma), averaged: 3 x 1.08 sigma / 3 in the light, the same
  // with the dark's noise on the dark side, relative to the levels.
  const double dark_sigma = std::sqrt(p.dark_noise * p.dark_noise + p.bias_noise * p.bias_noise);
  const double hot_dark = header_number(matched, "HOTDRK");
  const double hot_tolerance = 1.08 * (sigma / (p.hot_scale * hot_dark) + dark_sigma / hot_dark);
  EXPECT_NEAR(hot_ratio / p.hot_scale, 1.0, hot_tolerance);

  // The correction takes the glow gradient and the hot pixels out of the
  // star-free corner: its spread falls to about the light's own noise.
  const Frame light = read_fits(dir / "demo/light.fits");
  const Frame corrected = read_fits(dir / "demo/corrected.fits");
  const NoiseStats before = clean_region_noise(light, p), after = clean_region_noise(corrected, p);
  EXPECT_GT(before.std_dev, 5 * sigma);
  EXPECT_LT(after.std_dev, 1.5 * sigma);
  EXPECT_LT(after.robust_sd, before.robust_sd);
}

}  // namespace
