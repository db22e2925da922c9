// A second, plain computation of the matched dark, written from the
// algorithm's description for checking the plug-in's results: sort-based
// medians, no shared code with the kernels. Good for frames without NaN
// among the values whose medians it takes.
#pragma once

#include <cstdint>
#include <vector>

namespace reference {

typedef std::vector<float> Plane;

struct Position {
  int32_t x = 0;
  int32_t y = 0;
};

struct Inputs {
  int32_t width = 0;
  int32_t height = 0;
  Plane light, dark, bias;
  bool use_bias = false;
  int32_t bias_factor = 1;
  // Kernel state from before the run: searches that find nothing keep it.
  Position darkest_block;
  Position hot_pixels[9];
};

struct Outputs {
  Plane glow_unscaled;  // the glow as first shown
  Plane glow, hot, matched, corrected;
  float glow_light = 0, glow_dark = 0, hot_dark = 0;
  double hot_light = 0;
  float glow_ratio = 0, hot_ratio = 0;
};

Outputs matched_dark(const Inputs& in);

}  // namespace reference
