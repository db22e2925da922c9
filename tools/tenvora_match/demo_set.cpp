#include "tools/tenvora_match/demo_set.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}
  double uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }
  // Box-Muller; the second value of each pair is dropped for simplicity.
  double normal() {
    const double u = 1.0 - uniform();  // in (0, 1]
    return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * uniform());
  }
  int32_t below(int32_t n) { return static_cast<int32_t>(uniform() * n); }

 private:
  std::mt19937_64 engine_;
};

Frame blank_frame(const DemoParams& p) {
  Frame frame;
  frame.width = p.width;
  frame.height = p.height;
  frame.pixels.assign(static_cast<size_t>(p.width) * p.height, 0.0f);
  return frame;
}

// Whole ADU, as a 16-bit camera writes them.
float adu(double value) {
  return static_cast<float>(std::clamp(std::round(value), 0.0, 65535.0));
}

bool in_clean_square(const DemoParams& p, double x, double y) {
  return x < p.clean_size + 10 && y >= p.height - p.clean_size - 10;
}

}  // namespace

DemoSet make_demo_set(const DemoParams& p) {
  Random random(p.seed);
  const size_t n = static_cast<size_t>(p.width) * p.height;
  std::vector<double> bias(n), glow(n), hot(n, 0.0), stars(n, 0.0);

  std::vector<double> column(p.width);
  for (double& c : column) c = p.bias_column_pattern * (2.0 * random.uniform() - 1.0);
  for (int32_t y = 0; y < p.height; ++y)
    for (int32_t x = 0; x < p.width; ++x) {
      const size_t i = static_cast<size_t>(y) * p.width + x;
      bias[i] = p.bias_level + column[x];
      const double r = std::hypot(x, p.height - 1 - y);
      glow[i] = p.dark_current + p.glow_peak * std::exp(-r / p.glow_length);
    }
  for (int32_t k = 0; k < p.hot_count; ++k) {
    const size_t i = static_cast<size_t>(random.below(p.height)) * p.width + random.below(p.width);
    hot[i] = p.hot_min * std::pow(p.hot_max / p.hot_min, random.uniform());
  }
  for (int32_t k = 0; k < p.star_count; ++k) {
    const double cx = random.uniform() * p.width, cy = random.uniform() * p.height;
    const double peak = p.star_min * std::pow(p.star_max / p.star_min, random.uniform());
    if (in_clean_square(p, cx, cy)) continue;
    const int32_t reach = static_cast<int32_t>(std::ceil(5 * p.star_sigma));
    for (int32_t y = std::max(0, int32_t(cy) - reach);
         y <= std::min(p.height - 1, int32_t(cy) + reach); ++y)
      for (int32_t x = std::max(0, int32_t(cx) - reach);
           x <= std::min(p.width - 1, int32_t(cx) + reach); ++x) {
        const double d2 = (x + 0.5 - cx) * (x + 0.5 - cx) + (y + 0.5 - cy) * (y + 0.5 - cy);
        stars[static_cast<size_t>(y) * p.width + x] +=
            peak * std::exp(-d2 / (2 * p.star_sigma * p.star_sigma));
      }
  }

  DemoSet set{blank_frame(p), blank_frame(p), blank_frame(p)};
  for (size_t i = 0; i < n; ++i) {
    set.bias.pixels[i] = adu(bias[i] + p.bias_noise * random.normal());
    set.dark.pixels[i] = adu(bias[i] + glow[i] + hot[i] + p.dark_noise * random.normal());
    set.light.pixels[i] = adu(bias[i] + p.sky + stars[i] + p.glow_scale * glow[i] +
                              p.hot_scale * hot[i] + p.light_noise * random.normal());
  }
  return set;
}

std::vector<NightLight> demo_night() {
  constexpr int kLights = 6;
  std::vector<NightLight> night;
  for (int k = 0; k < kLights; ++k) {
    NightLight light;
    char text[32];
    std::snprintf(text, sizeof text, "light_%02d.fits", k + 1);
    light.name = text;
    light.params.width = 600, light.params.height = 450;
    const float t = static_cast<float>(k) / (kLights - 1);
    light.params.glow_scale = 0.75f - 0.25f * t;
    light.params.hot_scale = 2.0f - 0.6f * t;
    std::snprintf(text, sizeof text, "2026-03-14T%02d:%02d:00", 21 + k / 6, (k % 6) * 10);
    light.date_obs = text;
    light.exptime = 600.0;
    light.ccd_temp = -8.0 - 0.5 * k;
    night.push_back(light);
  }
  return night;
}
