// The demo's night recovers the scales it built its lights with.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/cli/cli_run.h"
#include "tools/tenvora_match/session_plot.h"
#include "tools/tenvora_match/summary.h"

namespace {

TEST(Demo, RecoversTheKnownScalesOfEachLightAndWritesTheNight) {
  TempDir dir;
  const CliRun run = run_cli({"--demo", dir / "demo", "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  const nlohmann::json json = nlohmann::json::parse(run.out);
  const std::vector<NightLight> night = demo_night();
  ASSERT_EQ(json["lights"].size(), night.size());

  for (size_t k = 0; k < night.size(); ++k) {
    const DemoParams& p = night[k].params;
    const nlohmann::json& light = json["lights"][k];
    EXPECT_EQ(json["demo"]["lights"][k]["glow_scale"], std::stod(number_text(p.glow_scale, true)));
    EXPECT_TRUE(light["warnings"].empty()) << light["warnings"];
    // Glow: the light's level is its corner median less the median of its
    // darkest 5x5 block. Each block median carries noise of about
    // 1.2533 sigma / 5; the darkest of the n candidate blocks is chosen for
    // being low, which sets it up to sqrt(2 ln n) of those below the sky (the
    // dark's glow plane, not searched, has no such bias). Add three standard
    // deviations of the difference of two medians, relative to the light's
    // glow level (about glow_scale x the dark's).
    const double sigma =
        std::sqrt(p.light_noise * p.light_noise + p.bias_noise * p.bias_noise + 1.0 / 12);
    const double block_sigma = 1.2533 * sigma / 5;
    const double blocks = std::floor((p.width - 11) / 5.0) * std::floor((p.height - 11) / 5.0);
    const double glow_light = p.glow_scale * light["glow"]["dark"].get<double>();
    const double glow_tolerance =
        (std::sqrt(2 * std::log(blocks)) + 3 * std::sqrt(2.0)) * block_sigma / glow_light;
    EXPECT_NEAR(light["glow"]["ratio"].get<double>() / p.glow_scale, 1.0, glow_tolerance) << k;
    EXPECT_LT(glow_tolerance, 0.05);

    // Hot pixels: nine pixels, each less the median of its neighbours (noise
    // about 0.4 sigma), averaged: 3 x 1.08 sigma / 3 in the light, the same
    // with the dark's noise on the dark side, relative to the levels.
    const double dark_sigma = std::sqrt(p.dark_noise * p.dark_noise + p.bias_noise * p.bias_noise);
    const double hot_dark = light["hot"]["dark"].get<double>();
    const double hot_tolerance = 1.08 * (sigma / (p.hot_scale * hot_dark) + dark_sigma / hot_dark);
    EXPECT_NEAR(light["hot"]["ratio"].get<double>() / p.hot_scale, 1.0, hot_tolerance) << k;
  }

  // The report: a row per light, whose correction takes the glow gradient
  // out of the star-free corner, down to about the light's own noise.
  std::ifstream report(dir / "demo/night.csv");
  std::vector<std::string> lines;
  for (std::string line; std::getline(report, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), night.size() + 1);
  EXPECT_NE(lines[1].find(",2026-03-14T21:00:00,600.0,-8.0,"), std::string::npos) << lines[1];
  for (size_t k = 1; k < lines.size(); ++k) {
    std::vector<std::string> cells;
    std::istringstream row(lines[k]);
    for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
    ASSERT_GE(cells.size(), 15u);
    const double noise_light = std::stod(cells[13]), noise_corrected = std::stod(cells[14]);
    EXPECT_LT(noise_corrected, 1.5 * night[k - 1].params.light_noise) << lines[k];
    EXPECT_GT(noise_light, 3 * noise_corrected) << lines[k];
  }

  // The plot: a PNG of the fixed size (width and height in its IHDR chunk).
  std::ifstream plot(dir / "demo/night_ratios.png", std::ios::binary);
  const std::string png((std::istreambuf_iterator<char>(plot)), std::istreambuf_iterator<char>());
  ASSERT_GT(png.size(), 24u);
  const auto number_at = [&png](size_t at) {
    uint32_t value = 0;
    for (size_t i = at; i < at + 4; ++i) value = value << 8 | static_cast<unsigned char>(png[i]);
    return value;
  };
  EXPECT_EQ(png.substr(1, 3), "PNG");
  EXPECT_EQ(number_at(16), static_cast<uint32_t>(kPlotWidth));
  EXPECT_EQ(number_at(20), static_cast<uint32_t>(kPlotHeight));
}

}  // namespace
