// A synthetic set of frames with known answers, for the demo.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fits/frame.h"

struct DemoParams {
  int32_t width = 1200, height = 900;
  uint64_t seed = 20240611;
  // Master bias: a level with a fixed column pattern and a little noise.
  float bias_level = 500.0f, bias_column_pattern = 3.0f, bias_noise = 1.0f;
  // Dark signal: a uniform dark current plus amplifier glow that falls off
  // exponentially from the first column of the last row, where the glow level
  // is measured; a few hundred hot pixels; read noise.
  float dark_current = 15.0f, glow_peak = 1200.0f, glow_length = 150.0f;
  int32_t hot_count = 300;
  float hot_min = 300.0f, hot_max = 5000.0f;
  float dark_noise = 2.0f;
  // Light: flat sky, stars, noise, and the dark signal at its own scales: the
  // glow (with the dark current) times glow_scale, the hot pixels times
  // hot_scale.
  float sky = 300.0f, light_noise = 10.0f;
  int32_t star_count = 400;
  float star_min = 200.0f, star_max = 20000.0f, star_sigma = 1.6f;
  float glow_scale = 0.6f, hot_scale = 1.7f;
  // No star falls in this square at the glow corner (the first columns of the
  // last rows), where the noise before and after correction is measured.
  int32_t clean_size = 200;
};

struct DemoSet {
  Frame light, dark, bias;
};

// Deterministic for given parameters on every platform: the generator and
// its distributions are written out here, not taken from the library.
DemoSet make_demo_set(const DemoParams& params);

// One light of the demo's night: its frames' parameters (the dark and the
// bias are the same for every light, the scales drift) and header values.
struct NightLight {
  std::string name;  // light_01.fits, ...
  DemoParams params;
  std::string date_obs;
  double exptime, ccd_temp;
};

// Six 600 x 450 lights ten minutes apart while the sensor cools: the glow
// scale falls from 0.75 to 0.5 and the hot-pixel scale from 2.0 to 1.4.
std::vector<NightLight> demo_night();
